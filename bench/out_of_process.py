#!/usr/bin/env python3
"""What the process boundary costs: a polling cycle's cost per item with
the simulation server in the monitor's process and in a process of its own,
at 1,000 and 10,000 tags, for both architectures in one run; and how long
the teardown takes after the server process died.

    bench/out_of_process.py        (after scripts/run-tests.sh built both trees)

Each configuration is one run of bench/one_run.py. A cycle's
cost per item is (cycle - the 500 ms wait) / tags: the reads and the
record texts of one item."""

import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
if sys.argv[1:]:
    sys.exit(print(__doc__) if sys.argv[1] in ("-h", "--help") else f"{sys.argv[1]}: no arguments; --help says what this measures")
TAGS = {"large-1000": 1000, "large": 10000}
WAIT = 0.5


def measure(arch, scenario, *flags):
    run = subprocess.run([sys.executable, os.path.join(HERE, "one_run.py"), arch, scenario, "--json",
                          *flags], check=True, stdout=subprocess.PIPE, text=True, timeout=1800)
    return json.loads(run.stdout.strip().splitlines()[-1])


def per_item_us(figures):
    cycles = figures["cycles"]
    return (sum(cycles) / len(cycles) - WAIT) / TAGS[figures["scenario"]] * 1e6 if cycles else float("nan")


print(f"{'arch':7} {'tags':>6} {'in-process':>22} {'out-of-process':>26}")
for arch in ("x86_64", "i686"):
    for scenario, tags in TAGS.items():
        inproc = measure(arch, scenario)
        oop = measure(arch, scenario, "--out-of-process")
        print(f"{arch:7} {tags:>6} {per_item_us(inproc):9.1f} us/item ({sum(inproc['cycles']) / len(inproc['cycles']):5.2f} s)"
              f"  {per_item_us(oop):9.1f} us/item ({sum(oop['cycles']) / len(oop['cycles']):6.2f} s)"
              f"  registration {inproc['registration']:.2f} s / {oop['registration']:.2f} s")
print()
print("server process killed while polling, then ESC:")
for arch in ("x86_64", "i686"):
    for scenario, tags in TAGS.items():
        dead = measure(arch, scenario, "--kill-server")
        cycles = dead["dead_cycles"]
        cycle = f"{sum(cycles) / len(cycles):.2f} s" if cycles else "none complete"
        print(f"{arch:7} {tags:>6} tags: first empty screen after {dead['first_empty_screen']:.2f} s, "
              f"cycle with the server gone {cycle}, ESC to \"server released\" {dead['teardown']:.2f} s")
