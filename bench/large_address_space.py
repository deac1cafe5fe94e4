#!/usr/bin/env python3
"""What a 10,000-tag address space costs the monitor: the real monitor.exe
in a terminal under Wine against the simulation server's "large" scenario.

    bench/large_address_space.py [x86_64|i686|BUILD_DIR] [SCENARIO]
                                      (after scripts/run-tests.sh; SCENARIO defaults to "large",
                                       "fixed" gives a 7-tag baseline to compare with)

Reports the time to the ENTER prompt (start, COM, both browse passes and
printing 10,000 names), the registration time (ENTER to "Items OK"), the
length of polling cycles (each is the 500 ms wait plus the clear and the
reads and records of all items), and the monitor's resident memory."""

import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
arch = sys.argv[1] if len(sys.argv) > 1 else "x86_64"
scenario = sys.argv[2] if len(sys.argv) > 2 else "large"
tree = os.path.abspath(arch if os.path.isdir(arch) else os.path.join(HERE, "..", "build", arch))
wine_run = os.path.join(tree, "wine-run")
monitor = os.path.join(tree, "monitor", "monitor.exe")
# The end-to-end suites' helpers, pointed at this tree as ctest would.
os.environ.update(OPCMON_WINE_RUN=wine_run, OPCMON_MONITOR=monitor,
                  OPCMON_SIMSERVER=os.path.join(tree, "simserver", "simserver.dll"))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
from simulation import register_simserver, unregister_simserver  # noqa: E402
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


subprocess.run(["sh", os.path.join(HERE, "..", "tests", "wine", "prefix.sh"), "setup", wine_run,
                os.path.join(tree, "wineprefix")], check=True, stdout=subprocess.DEVNULL)
register_simserver()
terminal = Terminal("bench", width=200, height=60)
try:
    started = time.monotonic()
    terminal.start(f"BRENVICK_SIM_SCENARIO={scenario} {wine_run} --terminal {monitor}")
    terminal.wait_for_text("press ENTER to start polling", timeout=300)
    prompt = time.monotonic()
    terminal.press_enter()
    terminal.wait_for_text("Items OK", timeout=300)
    registered = time.monotonic()

    # Cycle ends: the screen ends with the prompt again after it did not.
    ends = []
    was_complete = True
    deadline = time.monotonic() + 120
    while len(ends) < 6 and time.monotonic() < deadline:
        complete = terminal.screen().rstrip().endswith(ESC_PROMPT)
        if complete and not was_complete:
            ends.append(time.monotonic())
        was_complete = complete
        time.sleep(0.01)
    rss, peak = monitor_memory(terminal)
    terminal.press_escape()
    terminal.wait_for_text("server released", timeout=120)
    finished = time.monotonic()
finally:
    terminal.close()
    unregister_simserver()

cycles = [b - a for a, b in zip(ends, ends[1:])]
print(f"architecture, scenario:       {arch}, {scenario}")
print(f"start to ENTER prompt:        {prompt - started:.2f} s (COM, two browse passes, the names printed)")
print(f"ENTER to Items OK:            {registered - prompt:.2f} s (one AddItems call per tag)")
if cycles:
    print(f"polling cycle:                {min(cycles):.2f} s min, {sum(cycles) / len(cycles):.2f} s mean "
          f"over {len(cycles)} cycles (500 ms of it the wait)")
else:
    print("polling cycle:                no complete cycle seen")
print(f"monitor resident memory:      {rss} (peak {peak})")
print(f"ESC to server released:       {finished - ends[-1] if ends else 0:.2f} s after the last cycle seen")
