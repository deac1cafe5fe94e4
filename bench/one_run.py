#!/usr/bin/env python3
"""One run of the real monitor.exe in a terminal under Wine against one
simulation scenario (10,000 tags unless named), in process or out of
process, with the server killed while polling if asked.

    bench/one_run.py [x86_64|i686|BUILD_DIR] [SCENARIO] [--out-of-process] [--kill-server] [--json]
                                      (after scripts/run-tests.sh; SCENARIO defaults to "large",
                                       "large-1000" has 1,000 tags, "fixed" gives a 7-tag baseline)

Reports the time to the ENTER prompt (start, COM, both browse passes and
printing the names), the registration time (ENTER to "Items OK"), the
length of polling cycles (each is the 500 ms wait plus the clear and the
reads and records of all items), and the monitor's resident memory.
--out-of-process runs the server as simserver.exe in a process of its own
(through opcmon-ps.dll) instead of simserver.dll in the monitor's.
--kill-server then kills that process while polling and reports the cycles
with the server gone and how long ESC takes to "server released".
--json prints the figures as one JSON object instead."""

import json
import os
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
if {"-h", "--help"} & set(sys.argv[1:]):
    sys.exit(print(__doc__))
unknown = {a for a in sys.argv[1:] if a.startswith("-")} - {"--out-of-process", "--kill-server", "--json"}
if unknown:
    sys.exit(f"unknown option {sorted(unknown)[0]}; --help says which there are")
flags = {a for a in sys.argv[1:] if a.startswith("--")}
positional = [a for a in sys.argv[1:] if not a.startswith("--")]
arch = positional[0] if positional else "x86_64"
scenario = positional[1] if len(positional) > 1 else "large"
out_of_process = "--out-of-process" in flags or "--kill-server" in flags
tree = os.path.abspath(arch if os.path.isdir(arch) else os.path.join(HERE, "..", "build", arch))
wine_run = os.path.join(tree, "wine-run")
monitor = os.path.join(tree, "monitor", "monitor.exe")
# The end-to-end suites' helpers, pointed at this tree as ctest would.
os.environ.update(OPCMON_WINE_RUN=wine_run, OPCMON_MONITOR=monitor,
                  OPCMON_SIMSERVER=os.path.join(tree, "simserver", "simserver.dll"),
                  OPCMON_SERVER_EXE=os.path.join(tree, "simserver", "simserver.exe") if out_of_process else "",
                  OPCMON_PROXIES=os.path.join(tree, "opcproxy", "opcmon-ps.dll"))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
from simulation import (register_simserver, restart_wineserver, server_processes,  # noqa: E402
                        unregister_simserver)
from terminal import Terminal  # noqa: E402

ESC_PROMPT = "Press ESC to exit"


def monitor_memory(terminal):
    for pid in terminal.program_pids():
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if b"monitor.exe" not in f.read():
                    continue
            with open(f"/proc/{pid}/status") as f:
                fields = dict(line.split(":", 1) for line in f if ":" in line)
            return fields["VmRSS"].strip(), fields["VmHWM"].strip()
        except OSError:
            continue
    return "?", "?"


def cycle_ends(terminal, count, timeout=120):
    """Times at which a polling screen was completed: the screen ends with
    the prompt again after it did not."""
    ends = []
    was_complete = True
    deadline = time.monotonic() + timeout
    while len(ends) < count and time.monotonic() < deadline:
        complete = terminal.screen().rstrip().endswith(ESC_PROMPT)
        if complete and not was_complete:
            ends.append(time.monotonic())
        was_complete = complete
        time.sleep(0.01)
    return [b - a for a, b in zip(ends, ends[1:])]


def mean(values):
    return sum(values) / len(values) if values else None


subprocess.run(["sh", os.path.join(HERE, "..", "tests", "wine", "prefix.sh"), "setup", wine_run,
                os.path.join(tree, "wineprefix")], check=True, stdout=subprocess.DEVNULL)
register_simserver()
terminal = Terminal("bench", width=200, height=60)
figures = {"architecture": arch, "scenario": scenario,
           "server": "out of process" if out_of_process else "in process"}
try:
    started = time.monotonic()
    terminal.start(f"BRENVICK_SIM_SCENARIO={scenario} {wine_run} --terminal {monitor}")
    terminal.wait_for_text("press ENTER to start polling", timeout=300)
    prompt = time.monotonic()
    terminal.press_enter()
    terminal.wait_for_text("Items OK", timeout=600)
    registered = time.monotonic()
    cycles = cycle_ends(terminal, 6)
    figures.update(to_prompt=prompt - started, registration=registered - prompt, cycles=cycles)
    figures["rss"], figures["peak"] = monitor_memory(terminal)
    if "--kill-server" in flags:
        for pid in server_processes():
            os.kill(pid, signal.SIGKILL)
        killed = time.monotonic()
        terminal.wait_for(lambda s: s.rstrip("\n").split("\n") == ["", "", ESC_PROMPT], timeout=120,
                          what="an empty polling screen")
        figures["first_empty_screen"] = time.monotonic() - killed
        figures["dead_cycles"] = cycle_ends(terminal, 4)
    terminal.press_escape()
    pressed = time.monotonic()
    terminal.wait_for_text("server released", timeout=120)
    figures["teardown"] = time.monotonic() - pressed
finally:
    terminal.close()
    if "--kill-server" in flags:
        restart_wineserver()
    unregister_simserver()

if "--json" in flags:
    print(json.dumps(figures))
    sys.exit(0)
cycles = figures["cycles"]
print(f"architecture, scenario:       {arch}, {scenario}, server {figures['server']}")
print(f"start to ENTER prompt:        {figures['to_prompt']:.2f} s (COM, two browse passes, the names printed)")
print(f"ENTER to Items OK:            {figures['registration']:.2f} s (one AddItems call per tag)")
if cycles:
    print(f"polling cycle:                {min(cycles):.2f} s min, {mean(cycles):.2f} s mean "
          f"over {len(cycles)} cycles (500 ms of it the wait)")
else:
    print("polling cycle:                no complete cycle seen")
print(f"monitor resident memory:      {figures['rss']} (peak {figures['peak']})")
if "dead_cycles" in figures:
    print(f"server killed, first empty:   {figures['first_empty_screen']:.2f} s")
    dead = figures["dead_cycles"]
    print(f"cycle with the server gone:   {mean(dead) or 0:.2f} s mean over {len(dead)} cycles")
print(f"ESC to server released:       {figures['teardown']:.2f} s")
