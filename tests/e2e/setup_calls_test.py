"""The suites' set-up calls against a stand-in wine-run that answers with
given statuses and output, no Wine: a call that Wine ended before the
program ran is made once more and the log says so; a failure of the
program's own is never retried, and fails with its status and output."""

import io
import os
import sys
import tempfile
import unittest
from contextlib import redirect_stdout

HERE = os.path.dirname(os.path.abspath(__file__))
STAND_IN = tempfile.mkdtemp(prefix="setup-calls-")
# Each call takes the next line of answers: its status, then its output.
WINE_RUN = os.path.join(STAND_IN, "wine-run")
with open(WINE_RUN, "w") as f:
    f.write('#!/bin/sh\nIFS="|" read -r status output <"$0.answers"\nsed -i 1d "$0.answers"\n'
            'echo "$*" >>"$0.calls"\n[ -n "$output" ] && echo "$output" >&2\nexit "$status"\n')
os.chmod(WINE_RUN, 0o755)
os.environ.update(OPCMON_WINE_RUN=WINE_RUN, OPCMON_MONITOR=WINE_RUN, OPCMON_SIMSERVER=WINE_RUN)
sys.path.insert(0, HERE)
import simulation  # noqa: E402

WINE_GONE = "wine: a wine server seems to be running, but I cannot connect to it."

# (program, answers in order, calls expected, status returned, retried)
ROWS = [
    ("regsvr32", ["0|"], 1, 0, False),
    ("regsvr32", ["127|", "0|"], 2, 0, True),
    ("regsvr32", ["1|" + WINE_GONE, "0|"], 2, 0, True),
    ("regsvr32", ["127|", "127|"], 2, 127, True),
    ("regsvr32", ["1|"], 1, 1, False),
    ("regsvr32", ["3|"], 1, 3, False),
    ("regsvr32", ["4|"], 1, 4, False),
    ("regsvr32", ["5|wine: Unhandled page fault"], 1, 5, False),
    ("reg", ["1|reg: Unable to find the specified registry key"], 1, 1, False),
    ("Z:\\build\\simserver\\simserver.exe", ["1|"], 1, 1, False),
    ("Z:\\build\\simserver\\simserver.exe", ["53|", "0|"], 2, 0, True),
    ("winedbg.exe", ["127|"], 1, 127, False),
]


class SetUpCalls(unittest.TestCase):
    def test_only_what_wine_failed_before_the_program_ran_is_made_again(self):
        for program, answers, calls, status, retried in ROWS:
            with self.subTest(program=program, answers=answers):
                for name in ("answers", "calls"):
                    with open(f"{WINE_RUN}.{name}", "w") as f:
                        f.write("".join(f"{a}\n" for a in answers) if name == "answers" else "")
                log = io.StringIO()
                with redirect_stdout(log):
                    got = simulation.wine(program, "/s", "x.dll", check=False)
                with open(f"{WINE_RUN}.calls") as f:
                    made = len(f.read().splitlines())
                self.assertEqual((calls, status), (made, got), f"got (calls, status) {(made, got)}")
                self.assertEqual(retried, "retried" in log.getvalue(), log.getvalue())
                self.assertEqual(calls, log.getvalue().count("set-up: "), log.getvalue())

    def test_a_failed_call_says_which_with_status_and_output(self):
        with open(f"{WINE_RUN}.answers", "w") as f:
            f.write("4|DllRegisterServer failed\n")
        with redirect_stdout(io.StringIO()), self.assertRaises(AssertionError) as failure:
            simulation.wine("regsvr32", "/s", "x.dll")
        self.assertEqual("set-up call regsvr32 /s x.dll failed: got status 4, expected 0; "
                         "output: DllRegisterServer failed", str(failure.exception))


if __name__ == "__main__":
    unittest.main(verbosity=2)
