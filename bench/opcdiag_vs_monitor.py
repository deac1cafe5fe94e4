#!/usr/bin/env python3
"""What opcdiag costs beside the monitor: the real monitor.exe in a 200x60
terminal, from its start to its first polling screen (ENTER pressed as soon
as the prompt shows), and the real opcdiag.exe from its start to its end
(its report in a file), against the simulation server's "fixed" (7 tags),
"large" (10,000) and "huge" (100,000) scenarios, in process (or, with --out-of-process, simserver.exe through the proxy/stub,
where both make the same calls per tag and so should take about as long),
taken in turn in each round so that a busy machine weighs on both alike.

    bench/opcdiag_vs_monitor.py [--arch x86_64] [--rounds N] [--sizes fixed,large,huge] [--out-of-process]

Needs the build tree (scripts/build.sh mingw-x86_64). Prints the medians
and opcdiag's time as a share of the monitor's, which is to stay at most 2."""

import argparse
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
sys.path.insert(0, HERE)
from large_address_space import PROMPT, Tree  # noqa: E402
from terminal import Terminal  # noqa: E402
from wine_processes import windows_path  # noqa: E402

FIRST_SCREEN = "Press ESC to exit"


def monitor_run(tree, scenario):
    terminal = Terminal(f"vs-{tree.arch}-{scenario}", width=200, height=60)
    try:
        started = time.monotonic()
        terminal.start(f"BRENVICK_SIM_SCENARIO={scenario} {tree.wine_run} --terminal {tree.monitor}")
        terminal.wait_for_text(PROMPT, timeout=900)
        terminal.press_enter()
        terminal.wait_for_text(FIRST_SCREEN, timeout=900)
        seconds = time.monotonic() - started
        terminal.press_escape()
        terminal.wait_for_text("server released", timeout=120)
        return seconds
    finally:
        terminal.close()


def opcdiag_run(tree, scenario):
    opcdiag = os.path.join(tree.dir, "diagnose", "opcdiag.exe")
    env = dict(os.environ, BRENVICK_SIM_SCENARIO=scenario)
    started = time.monotonic()
    done = subprocess.run([tree.wine_run, opcdiag], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, env=env, timeout=900)
    seconds = time.monotonic() - started
    verdict = done.stdout.decode("utf-8", "replace").strip().splitlines()[-1:]
    if done.returncode != 0:
        print(f"  opcdiag {scenario}: status {done.returncode}, {verdict}")
    return seconds


class ServerExeTree(Tree):
    """The same tree with the server in a process of its own."""

    def setup(self):
        super().setup()
        self.wine("regsvr32", "/s", "/u", windows_path(self.simserver))
        self.wine("regsvr32", "/s", windows_path(os.path.join(self.dir, "opcproxy", "opcmon-ps.dll")))
        self.wine(os.path.join(self.dir, "simserver", "simserver.exe"), "/RegServer")

    def teardown(self):
        self.wine(os.path.join(self.dir, "simserver", "simserver.exe"), "/UnregServer")
        self.wine("regsvr32", "/s", "/u", windows_path(os.path.join(self.dir, "opcproxy", "opcmon-ps.dll")))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--arch", default="x86_64")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--sizes", default="fixed,large,huge")
    parser.add_argument("--out-of-process", action="store_true")
    args = parser.parse_args()
    tree = (ServerExeTree if args.out_of_process else Tree)(args.arch, None)
    sizes = args.sizes.split(",")
    runs = {size: {"monitor": [], "opcdiag": []} for size in sizes}
    tree.setup()
    try:
        # A first run in a prefix pays for starting Wine's services.
        opcdiag_run(tree, "fixed")
        for round_number in range(args.rounds):
            for size in sizes:
                runs[size]["monitor"].append(monitor_run(tree, size))
                runs[size]["opcdiag"].append(opcdiag_run(tree, size))
                print(f"round {round_number + 1} {size}: monitor {runs[size]['monitor'][-1]:.2f} s, "
                      f"opcdiag {runs[size]['opcdiag'][-1]:.2f} s", flush=True)
    finally:
        tree.teardown()
    print(f"\n{args.arch}, {'out of' if args.out_of_process else 'in'} process, median of {args.rounds} round(s)")
    print(f"{'scenario':12}{'monitor to 1st screen (s)':>28}{'opcdiag whole run (s)':>24}{'ratio':>8}")
    for size in sizes:
        monitor = statistics.median(runs[size]["monitor"])
        opcdiag = statistics.median(runs[size]["opcdiag"])
        print(f"{size:12}{monitor:>28.2f}{opcdiag:>24.2f}{opcdiag / monitor:>8.2f}")


if __name__ == "__main__":
    main()
