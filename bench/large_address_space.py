#!/usr/bin/env python3
"""What the size of the address space costs the monitor: the real
monitor.exe in a 200x60 terminal under Wine against the simulation server's
"fixed" (7 tags), "large" (10,000) and "huge" (100,000) scenarios, taken in
turn in each round so that a busy machine weighs on all of them alike.

    bench/large_address_space.py [--arch x86_64,i686] [--rounds N]
                                 [--monitors DIR] [--json FILE]

Needs the build trees (scripts/build.sh mingw-x86_64 mingw-i686). --monitors
DIR takes DIR/<arch>/monitor.exe instead of the tree's (an older build to
compare with); the simulation server is always the tree's.

Per architecture and size, the median over the rounds of:
  start to "press ENTER to start polling"  (COM, both browse passes, the names printed)
  ENTER to "Items OK"                       (one AddItems call per tag)
  the polling cycle, measured at the server: the spacing of the reads of the
      first tag (BRENVICK_SIM_READ_LOG), so not by watching the screen
  the monitor's peak resident memory (VmHWM)
  CPU time per cycle of the monitor, of Wine's console host (conhost.exe),
      of the prefix's wineserver and of the tmux server (the terminal), which
      tells where a cycle goes
and each figure's ratio to the 7-tag one."""

import argparse
import json
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
from terminal import Terminal  # noqa: E402
from wine_processes import TICK, prefix_processes, windows_path  # noqa: E402

PROMPT = "press ENTER to start polling"
SIZES = [("fixed", 7), ("large", 10000), ("huge", 100000)]
CYCLES = 4  # spacings measured per run, after the first cycle


class Tree:
    def __init__(self, arch, monitors):
        self.arch = arch
        self.dir = os.path.abspath(os.path.join(HERE, "..", "build", arch))
        self.wine_run = os.path.join(self.dir, "wine-run")
        self.simserver = os.path.join(self.dir, "simserver", "simserver.dll")
        self.monitor = (os.path.join(os.path.abspath(monitors), arch, "monitor.exe") if monitors
                        else os.path.join(self.dir, "monitor", "monitor.exe"))

    def wine(self, *args):
        subprocess.run([self.wine_run, *args], check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=120)

    def setup(self):
        subprocess.run(["sh", os.path.join(HERE, "..", "tests", "wine", "prefix.sh"), "setup", self.wine_run,
                        os.path.join(self.dir, "wineprefix")], check=True, stdout=subprocess.DEVNULL)
        self.wine("regsvr32", "/s", windows_path(self.simserver))

    def teardown(self):
        self.wine("regsvr32", "/s", "/u", windows_path(self.simserver))


def find_process(terminal, name):
    for pid in terminal.program_pids():
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if name.encode() in f.read().lower():
                    return pid
        except OSError:
            continue
    return None


def prefix_process(prefix, name, after=0.0):
    """The newest process of this Wine prefix whose command line holds
    `name` and that started after `after` (seconds since boot)."""
    found, newest = None, after
    for pid, start in prefix_processes(prefix, name):
        if start >= newest:
            found, newest = pid, start
    return found


def uptime():
    with open("/proc/uptime") as f:
        return float(f.read().split()[0])


def cpu_seconds(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / TICK
    except (OSError, TypeError, IndexError):
        return None


def peak_memory_mb(pid):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) / 1024
    except (OSError, TypeError):
        pass
    return None


def read_times(path):
    try:
        with open(path) as f:
            return [float(line) for line in f if line.strip()]
    except OSError:
        return []


def run_once(tree, scenario):
    terminal = Terminal(f"bench-{tree.arch}-{scenario}", width=200, height=60)
    log = os.path.join(terminal.workdir, "reads.log")
    result = {}
    try:
        started = time.monotonic()
        booted = uptime() - 1
        terminal.start(f"BRENVICK_SIM_SCENARIO={scenario} BRENVICK_SIM_READ_LOG='{windows_path(log)}' "
                       f"{tree.wine_run} --terminal {tree.monitor}")
        terminal.wait_for_text(PROMPT, timeout=900)
        result["prompt_s"] = time.monotonic() - started
        entered = time.monotonic()
        terminal.press_enter()
        terminal.wait_for(lambda s: "Items OK" in s or len(read_times(log)) > 0, timeout=300, what="Items OK")
        result["items_ok_s"] = time.monotonic() - entered

        # CPU is sampled when a read of the first tag shows in the log, so
        # what lies between two samples is whole cycles.
        monitor = find_process(terminal, "monitor.exe")
        # Wine's console host and server are no children of the terminal.
        prefix = os.path.join(tree.dir, "wineprefix")
        conhost = prefix_process(prefix, "conhost.exe", booted)
        wineserver = prefix_process(prefix, "wineserver")
        samples = []
        deadline = time.monotonic() + 900
        while time.monotonic() < deadline:
            count = len(read_times(log))
            if count >= 2 and (not samples or samples[-1][0] < count):
                samples.append((count, cpu_seconds(monitor), cpu_seconds(conhost), cpu_seconds(wineserver),
                                cpu_seconds(terminal.server_pid)))
            if count >= CYCLES + 2:
                break
            time.sleep(0.005)
        times = read_times(log)[1:]
        spacings = [b - a for a, b in zip(times, times[1:])]
        result["cycle_s"] = statistics.median(spacings) / 1000 if spacings else None
        result["peak_mb"] = peak_memory_mb(monitor)
        if len(samples) >= 2:
            (n0, *first), (n1, *last) = samples[0], samples[-1]
            for key, a, b in zip(("cpu_monitor_s", "cpu_conhost_s", "cpu_wineserver_s", "cpu_tmux_s"), first, last):
                result[key] = (b - a) / (n1 - n0) if a is not None and b is not None else None
        terminal.press_escape()
        try:
            terminal.wait_for_text("server released", timeout=120)
        except AssertionError:
            result["note"] = "no teardown after ESC within 120 s"
    finally:
        terminal.close()
    return result


FIGURES = [
    ("prompt_s", "start to prompt (s)"),
    ("items_ok_s", "ENTER to Items OK (s)"),
    ("cycle_s", "cycle at the server (s)"),
    ("peak_mb", "monitor peak memory (MB)"),
    ("cpu_monitor_s", "CPU/cycle monitor (s)"),
    ("cpu_conhost_s", "CPU/cycle conhost (s)"),
    ("cpu_wineserver_s", "CPU/cycle wineserver (s)"),
    ("cpu_tmux_s", "CPU/cycle tmux (s)"),
]


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def report(arch, runs):
    print(f"\n{arch}: median of {len(runs['fixed'])} round(s); ratio to the 7-tag figure in brackets")
    print(f"{'':28}" + "".join(f"{f'{n:,} tags':>22}" for _, n in SIZES))
    for key, label in FIGURES:
        base = median(r.get(key) for r in runs["fixed"])
        cells = []
        for scenario, _ in SIZES:
            value = median(r.get(key) for r in runs[scenario])
            if value is None:
                cells.append(f"{'-':>22}")
            elif scenario == "fixed" or not base:
                cells.append(f"{value:>22.3f}")
            else:
                cells.append(f"{value:>13.3f} ({value / base:5.1f}x)")
        print(f"{label:28}" + "".join(cells))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--arch", default="x86_64,i686")
    parser.add_argument("--rounds", type=int, default=2)
    parser.add_argument("--monitors", help="DIR with <arch>/monitor.exe to measure instead of the tree's")
    parser.add_argument("--json", help="also write every run's figures to this file")
    args = parser.parse_args()

    trees = [Tree(arch, args.monitors) for arch in args.arch.split(",")]
    runs = {tree.arch: {scenario: [] for scenario, _ in SIZES} for tree in trees}
    for tree in trees:
        tree.setup()
    try:
        # A first run in a prefix pays for starting Wine's services.
        for tree in trees:
            run_once(tree, "fixed")
        for round_number in range(args.rounds):
            for scenario, _ in SIZES:
                for tree in trees:
                    result = run_once(tree, scenario)
                    runs[tree.arch][scenario].append(result)
                    print(f"round {round_number + 1} {tree.arch} {scenario}: "
                          + ", ".join(f"{k}={v:.3f}" if isinstance(v, float) else f"{k}={v}"
                                      for k, v in result.items()), flush=True)
    finally:
        for tree in trees:
            tree.teardown()
    with open("/proc/loadavg") as f:
        print(f"\nload average at the end: {f.read().split()[:3]} on {os.cpu_count()} cores")
    for tree in trees:
        report(tree.arch, runs[tree.arch])
    if args.json:
        with open(args.json, "w") as f:
            json.dump(runs, f, indent=1)


if __name__ == "__main__":
    main()
