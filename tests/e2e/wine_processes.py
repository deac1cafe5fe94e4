"""Windows programs of a Wine prefix as Linux sees them: their paths as
Wine names them, and their processes, found through /proc by command line
and the prefix in their environment. Reads no configuration, so the
benchmarks can use it for several build trees at once."""

import os

TICK = os.sysconf("SC_CLK_TCK")


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def prefix_processes(prefix, name):
    """(pid, start in seconds since boot) of each process of the Wine prefix
    whose command line holds `name` (in lower case)."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                if name.encode() not in f.read().lower():
                    continue
            with open(f"/proc/{entry}/environ", "rb") as f:
                if f"WINEPREFIX={prefix}".encode() not in f.read().split(b"\0"):
                    continue
            with open(f"/proc/{entry}/stat") as f:
                start = int(f.read().rsplit(")", 1)[1].split()[19]) / TICK
        except (OSError, IndexError, ValueError):
            continue
        found.append((int(entry), start))
    return found
