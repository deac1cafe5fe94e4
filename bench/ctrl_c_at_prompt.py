#!/usr/bin/env python3
"""Time from Ctrl+C at the ENTER prompt to "server released", with standard
input the console, a Windows pipe that gets no line (quiet_stdin.exe) and
a FIFO of the Linux shell with a writer that writes nothing; the real
monitor.exe in a tmux terminal under Wine, the simulation server in its
process ("fixed" scenario).

    bench/ctrl_c_at_prompt.py [x86_64|i686|BUILD_DIR] [--runs N] [--give-up SECONDS]
                                      (after building the tree; 5 runs, 10 s by default)

Prints per kind of input the median and the range over the runs; a run
with no teardown within --give-up seconds counts as such."""

import os
import shlex
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
args = sys.argv[1:]
if {"-h", "--help"} & set(args):
    sys.exit(print(__doc__))
unknown = {a for a in args if a.startswith("-")} - {"--runs", "--give-up"}
if unknown:
    sys.exit(f"unknown option {sorted(unknown)[0]}; --help says which there are")
runs = int(args[args.index("--runs") + 1]) if "--runs" in args else 5
give_up = float(args[args.index("--give-up") + 1]) if "--give-up" in args else 10.0
positional = [a for i, a in enumerate(args) if not a.startswith("--") and (i == 0 or not args[i - 1].startswith("--"))]
arch = positional[0] if positional else "x86_64"
tree = os.path.abspath(arch if os.path.isdir(arch) else os.path.join(HERE, "..", "build", arch))
wine_run = os.path.join(tree, "wine-run")
monitor = os.path.join(tree, "monitor", "monitor.exe")
quiet_stdin = os.path.join(tree, "tests", "quiet_stdin.exe")
os.environ.update(OPCMON_WINE_RUN=wine_run, OPCMON_MONITOR=monitor,
                  OPCMON_SIMSERVER=os.path.join(tree, "simserver", "simserver.dll"), OPCMON_SERVER_EXE="",
                  OPCMON_PROXIES="")
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
from simulation import register_simserver, unregister_simserver, windows_path  # noqa: E402
from terminal import Terminal  # noqa: E402

PROMPT = "press ENTER to start polling"


def one_run(kind, number):
    """Seconds from Ctrl+C to "server released", None when it did not come."""
    terminal = Terminal(f"bench-{kind}-{number}")
    writer = None
    try:
        program = f"{shlex.quote(wine_run)} --terminal {shlex.quote(monitor)}"
        if kind == "pipe":
            program = f"{shlex.quote(wine_run)} --terminal {shlex.quote(quiet_stdin)} {shlex.quote(windows_path(monitor))}"
        elif kind == "fifo":
            fifo = os.path.join(terminal.workdir, "fifo")
            os.mkfifo(fifo)
            # Opened for reading and writing, so neither end waits for the other.
            writer = os.open(fifo, os.O_RDWR)
            program += f" <{shlex.quote(fifo)}"
        terminal.start(f"trap '' INT; (trap - INT; BRENVICK_SIM_SCENARIO=fixed exec {program})")
        terminal.wait_for_text(PROMPT, timeout=60)
        if kind == "console":
            terminal.wait_for_console_input()
        else:
            time.sleep(0.5)  # nothing shows when the read has begun
        terminal.send("C-c")
        pressed = time.monotonic()
        while time.monotonic() - pressed < give_up:
            if "server released" in terminal.screen():
                return time.monotonic() - pressed
            time.sleep(0.01)
        return None
    finally:
        terminal.close()
        if writer is not None:
            os.close(writer)


subprocess.run(["sh", os.path.join(HERE, "..", "tests", "wine", "prefix.sh"), "setup", wine_run,
                os.path.join(tree, "wineprefix")], check=True, stdout=subprocess.DEVNULL)
register_simserver()
try:
    for kind in ("console", "pipe", "fifo"):
        times = [one_run(kind, number) for number in range(runs)]
        came = sorted(t for t in times if t is not None)
        line = f"{kind:8} "
        if came:
            line += (f"median {came[len(came) // 2]:.3f} s, range {came[0]:.3f}-{came[-1]:.3f} s "
                     f"over {len(came)} runs")
        if len(came) < runs:
            line += f"{'; ' if came else ''}{runs - len(came)} runs: no teardown within {give_up:.0f} s"
        print(line, flush=True)
finally:
    unregister_simserver()
