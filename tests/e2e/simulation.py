"""What the end-to-end suites share: the programs of the build tree (from
OPCMON_WINE_RUN, OPCMON_MONITOR and OPCMON_SIMSERVER, set by ctest), the
simulation server's registration in the tree's prefix, and the tags of its
"fixed" scenario.

With OPCMON_SERVER_EXE set, the server is that simserver.exe instead of the
DLL, in a process of its own, through the proxy/stub DLLs in
OPCMON_PROXIES (one per architecture taking part, separated by the path
separator); the monitor and the server may then be of different
architectures (the x86_64 tree's prefix runs both)."""

import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_processes import prefix_processes, windows_path  # noqa: E402,F401

WINE_RUN = os.environ["OPCMON_WINE_RUN"]
WINE_PREFIX = os.path.join(os.path.dirname(WINE_RUN), "wineprefix")
MONITOR = os.environ["OPCMON_MONITOR"]
SIMSERVER = os.environ["OPCMON_SIMSERVER"]
SERVER_EXE = os.environ.get("OPCMON_SERVER_EXE")
OPCDIAG = os.environ.get("OPCMON_OPCDIAG")
PROXIES = [p for p in os.environ.get("OPCMON_PROXIES", "").split(os.pathsep) if p]

FIXED_NAMES = ["Int16.Fixed", "Int32.Fixed", "Temp_\u00b0C", "\u540d\u524d", "Text.Fixed", "Empty.Fixed",
               "Stamp.Bad"]


# The statuses each set-up program gives itself (regsvr32 has no 2). Any
# other status is Wine's: the loader or the start of the process failed
# before the program's own code decided anything, and the call is made once
# more. So is a status 1 that Wine's loader explains on a line of its own
# ("wine: a wine server seems to be running, but I cannot connect to it.",
# the start that meets a wineserver on its way out). Any other status of the
# program's own is never retried: a registration that failed stays failed.
# Nor is a crash, whatever its status: the program ran. Wine ends a crashed
# program with the low byte of the exception code (0xC0000005 gives 5, not
# a status of simserver.exe's own) and writes "wine: Unhandled page fault
# ...", "wine: Unhandled exception ..." to standard error, which wine-run
# passes on after standard output: found anywhere in the output, also after
# an unfinished last line of the program's.
OWN_STATUSES = {"regsvr32": {0, 1, 3, 4, 5}, "reg": {0, 1}, "simserver.exe": {0, 1}}
CRASHED = "wine: Unhandled"


def failed_before_running(program, status, output):
    own = OWN_STATUSES.get(program_name(program))
    if own is None or status == 0 or CRASHED in output:
        return False
    if status not in own:
        return True
    return status == 1 and any(line.startswith("wine: ") for line in output.splitlines())


def program_name(program):
    return program.replace("\\", "/").rsplit("/", 1)[-1].lower()


def run_logged(*args):
    """One Windows program under Wine, its status and output written to the
    test's log, made once more when Wine failed it before it ran."""
    for attempt in (1, 2):
        started = time.monotonic()
        result = subprocess.run([WINE_RUN, *args], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, timeout=60)
        output = result.stdout.decode("utf-8", "replace").strip()
        line = f"set-up: {' '.join(args)}: status {result.returncode} after {time.monotonic() - started:.2f} s, " \
               f"output: {output or 'none'}"
        if attempt == 2 or not failed_before_running(args[0], result.returncode, output):
            print(line, flush=True)
            return result.returncode, output
        print(line + "; Wine failed it before it ran: retried", flush=True)


def wine(*args, check=True):
    status, output = run_logged(*args)
    if check and status != 0:
        raise AssertionError(f"set-up call {' '.join(args)} failed: got status {status}, expected 0"
                             + (f"; output: {output}" if output else "; no output"))
    return status


def missing_programs():
    """The programs of this configuration that are not built (the other
    architecture's tree may be absent)."""
    return [p for p in [MONITOR, SIMSERVER, SERVER_EXE, *PROXIES] if p and not os.path.exists(p)]


# ctest counts this status as a skipped test.
SKIPPED = 77
if __name__ != "__main__" and missing_programs():
    print("not built: " + ", ".join(missing_programs()))
    sys.exit(SKIPPED)


def register_simserver():
    if SERVER_EXE:
        # COM would prefer the DLL registered for the same class.
        wine("regsvr32", "/s", "/u", windows_path(SIMSERVER), check=False)
        for proxy in PROXIES:
            wine("regsvr32", "/s", windows_path(proxy))
        wine(SERVER_EXE, "/RegServer")
    else:
        wine("regsvr32", "/s", windows_path(SIMSERVER))


def unregister_simserver():
    """Leaves the prefix as the suite found it, proxies included: the
    registration tests of the same prefix need their interface keys free."""
    if SERVER_EXE:
        wine(SERVER_EXE, "/UnregServer")
        for proxy in PROXIES:
            wine("regsvr32", "/s", "/u", windows_path(proxy), check=False)
    else:
        wine("regsvr32", "/s", "/u", windows_path(SIMSERVER))


def server_processes():
    """Ids of the running simserver.exe processes of this tree's prefix (not
    of those that only name it, such as a start.exe that started one)."""
    found = []
    for pid, _ in prefix_processes(WINE_PREFIX, "simserver.exe"):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                program = f.read().split(b"\0")[0]
        except OSError:
            continue
        if program.lower().endswith(b"simserver.exe"):
            found.append(pid)
    return found


def wait_for_server_processes(predicate, timeout):
    deadline = time.monotonic() + timeout
    while True:
        found = server_processes()
        if predicate(found) or time.monotonic() > deadline:
            return found
        time.sleep(0.05)


def restart_wineserver():
    """A killed server EXE leaves its class registered with the prefix's
    services, and later activations fail; a new wineserver forgets it."""
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "wine", "prefix.sh")
    for action in ("teardown", "setup"):
        # As long-lived as the one the run's set-up started; its output goes
        # to the test's log.
        sys.stdout.flush()
        subprocess.run(["sh", script, action, WINE_RUN, WINE_PREFIX, "900"], check=True, stdin=subprocess.DEVNULL,
                       timeout=120)
