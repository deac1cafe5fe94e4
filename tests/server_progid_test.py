"""The monitor built with another ProgID (-DOPCMON_SERVER_PROGID) connects
to that one: a monitor alone is built with a ProgID nothing is registered
under, and its whole output names it. `build` configures and builds the
tree; `run` runs its monitor.exe under Wine."""

import os
import subprocess
import sys

PROGID = "Plant OPC.Server.7"  # a space as some servers' ProgIDs have
TREE = os.environ["OPCMON_PROGID_TREE"]


def build():
    subprocess.run(["cmake", "-S", os.environ["OPCMON_SOURCE_DIR"], "-B", TREE,
                    f"-DCMAKE_TOOLCHAIN_FILE={os.environ['OPCMON_TOOLCHAIN']}", "-DCMAKE_BUILD_TYPE=Release",
                    "-DOPCMON_BUILD_TESTS=OFF", f"-DOPCMON_SERVER_PROGID={PROGID}"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", TREE, "--target", "monitor", "-j", str(os.cpu_count() or 1)],
                   check=True, stdout=subprocess.DEVNULL)


def run():
    monitor = os.path.join(TREE, "monitor", "monitor.exe")
    result = subprocess.run([os.environ["OPCMON_WINE_RUN"], monitor], stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120)
    expected = f"{PROGID} not instantiated".encode()
    if result.returncode != 0 or result.stdout != expected:
        sys.exit(f"got status {result.returncode} and {result.stdout!r}, expected status 0 and {expected!r}")


if __name__ == "__main__":
    {"build": build, "run": run}[sys.argv[1]]()
