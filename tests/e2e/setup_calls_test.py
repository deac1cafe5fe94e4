"""The suites' set-up calls against a stand-in wine-run that answers with
given statuses and output, no Wine: a call that Wine ended before the
program ran is made once more and the log says so; a failure of the
program's own, a crash among them, is never retried, and fails with its
status and output. The reg rows also hold for prefix.sh's reg_add."""

import io
import os
import subprocess
import sys
import tempfile
import unittest
from contextlib import redirect_stdout

# Each call takes the next line of answers (status|output) and is counted.
WINE_RUN = os.path.join(tempfile.mkdtemp(prefix="setup-calls-"), "wine-run")
with open(WINE_RUN, "w") as f:
    f.write('#!/bin/sh\nIFS="|" read -r status output <"$0.answers"\nsed -i 1d "$0.answers"\n'
            'echo >>"$0.calls"\n[ -n "$output" ] && echo "$output" >&2\nexit "$status"\n')
os.chmod(WINE_RUN, 0o755)
os.environ.update(OPCMON_WINE_RUN=WINE_RUN, OPCMON_MONITOR=WINE_RUN, OPCMON_SIMSERVER=WINE_RUN)
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import simulation  # noqa: E402

SIMSERVER = "Z:\\build\\simserver\\simserver.exe"
REG_ADD = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "wine", "reg_add.sh")
PAGE_FAULT = "wine: Unhandled page fault on read access to 0000000000000000 at address 000000014000151A"
# (program, its answers in order, calls made, status returned, retried)
ROWS = [
    ("regsvr32", ["127|", "0|"], 2, 0, True),
    ("regsvr32", ["1|wine: a wine server seems to be running, but I cannot connect to it.", "0|"], 2, 0, True),
    ("regsvr32", ["127|", "127|"], 2, 127, True),
    ("regsvr32", ["1|"], 1, 1, False),
    ("regsvr32", ["4|"], 1, 4, False),
    ("regsvr32", ["5|wine: Unhandled page fault"], 1, 5, False),
    ("reg", ["1|reg: Unable to find the specified registry key"], 1, 1, False),
    (SIMSERVER, ["1|"], 1, 1, False),
    (SIMSERVER, ["53|", "0|"], 2, 0, True),
    (SIMSERVER, [f"5|{PAGE_FAULT}", "0|"], 1, 5, False),
    (SIMSERVER, ["99|wine: Unhandled exception 0xe06d7363 in thread 24 at address 7B012DA9", "0|"], 1, 99, False),
    ("reg", ["127|", "0|"], 2, 0, True),
    ("reg", ["1|wine: a wine server seems to be running, but I cannot connect to it.", "0|"], 2, 0, True),
    ("reg", [f"5|{PAGE_FAULT}", "0|"], 1, 5, False),
    ("winedbg.exe", ["127|"], 1, 127, False),
]


def call(answers, program, check, shell=False):
    """The status, the log and the number of calls the stand-in saw; with
    shell, of prefix.sh's reg_add."""
    with open(f"{WINE_RUN}.answers", "w") as f, open(f"{WINE_RUN}.calls", "w"):
        f.write("".join(f"{a}\n" for a in answers))
    if shell:
        run = subprocess.run(["sh", "-c", '. "$0" && reg_add "$@"', REG_ADD, "HKLM\\Key", "/v", "Name"],
                             env=dict(os.environ, run=WINE_RUN), capture_output=True, text=True, timeout=30)
        status, log = run.returncode, run.stdout
    else:
        with redirect_stdout(io.StringIO()) as out:
            status = simulation.wine(program, "/s", "x.dll", check=check)
        log = out.getvalue()
    with open(f"{WINE_RUN}.calls") as f:
        return status, log, len(f.read())


class SetUpCalls(unittest.TestCase):
    def test_only_what_wine_failed_before_the_program_ran_is_made_again(self):
        for program, answers, calls, status, retried in ROWS:
            for shell in [False, True] if program == "reg" else [False]:
                with self.subTest(program=program, answers=answers, shell=shell):
                    got, log, made = call(answers, program, check=False, shell=shell)
                    self.assertEqual((calls, status), (made, got), f"got (calls, status) {(made, got)}")
                    self.assertEqual((calls, retried), (log.count("set-up: "), "retried" in log), log)

    def test_a_failed_call_says_which_with_status_and_output(self):
        with self.assertRaises(AssertionError) as failure:
            call(["4|DllRegisterServer failed"], "regsvr32", check=True)
        self.assertEqual("set-up call regsvr32 /s x.dll failed: got status 4, expected 0; "
                         "output: DllRegisterServer failed", str(failure.exception))


if __name__ == "__main__":
    unittest.main(verbosity=2)
