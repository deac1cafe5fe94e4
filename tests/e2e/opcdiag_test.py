"""End-to-end: the real opcdiag.exe under Wine against the simulation
server's scenarios, one row per situation: the verdict it must give (a
distinctive part of it) and its exit status. Standard output goes to a
file; only the Ctrl+C row needs a terminal."""

import os
import re
import shlex
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from simulation import (OPCDIAG, SERVER_EXE, WINE_RUN, register_simserver, unregister_simserver,  # noqa: E402
                        server_processes, wait_for_server_processes)
from terminal import Terminal  # noqa: E402

POLLS_FIXED = "the monitor polls 7 records a screen, 4 of them ? (the server cannot give them as 16-bit integers), " \
              "qualities 2 good, 4 bad, 1 no good"
TEARDOWN = ["items removed", "group released", "server released"]
STOPS = 'the monitor stops right after ENTER ("group released", "server released"): '
# scenario (None: a name nothing is registered under), a line the report must
# hold (a regular expression), the verdict (a distinctive part of it), the
# status, and how much of the monitor's teardown it makes (3: items, group,
# server; 2: group and server; 1: the server; 0: nothing).
ROWS = [
    ("default", r"^ok    reads +28 records", "the monitor polls 28 records a screen", 0, 3),
    ("fixed", r"^ok    status +.*running, 1 group$", POLLS_FIXED, 0, 3),
    (None, r"^FAIL  activation +CLSIDFromString", 'a monitor built for OPC.Nobody.1 prints "OPC.Nobody.1 not '
     'instantiated": nothing is registered under that ProgID in either registry view', 1, 0),
    ("no-tags", r"^FAIL  browse", "the monitor lists no tags (found the following tags: and no names): the server's "
                                  "address space is empty", 1, 1),
    ("tag-rejected", r"^FAIL  items +AddItems \(VT_I2\) rejects tag 2 of 7", STOPS + "the server rejects tag 2 of 7, "
     "Int32.Fixed, with 0xC0040007 (OPC_E_UNKNOWNITEMID", 1, 2),
    ("group-refused", r"^FAIL  group", 'the monitor prints "server released" right after ENTER: the server refuses the '
                                       "group with 0x80004005", 1, 1),
    ("no-sync-io", r"^FAIL  reads", "the monitor polls screens without records: the group offers no IOPCSyncIO", 1, 3),
    ("read-fails", r"^FAIL  reads +1 Read fails", "the monitor polls 6 records a screen, 3 of them ? (the server cannot "
     "give them as 16-bit integers), qualities 2 good, 3 bad, 1 no good; 1 Read fails as a whole, the first of tag 2 "
     "of 7, Int32.Fixed, with 0x80004005", 0, 3),
    ("hung-read", r"^info  waiting +IOPCSyncIO::Read of tag 1 of 7, Int16.Fixed: no answer yet after 30 s",
     'the monitor hangs in IOPCSyncIO::Read of tag 1 of 7, Int16.Fixed: no answer within 60 s; opcdiag ends without '
     'the teardown: the group "grp 1" and its 7 items stay on the server', 1, 0),
    ("slow-browse", r"^ok    browse +7 tags", POLLS_FIXED, 0, 3),
    ("hostile-names", r"^ok    items +27 of 27", "the monitor polls 27 records a screen, qualities 27 good", 0, 3),
    ("hostile-rejected", r"^FAIL  items", r"the server rejects tag 1 of 27, Title\x1B]0;pwned\x07, with 0xC0040007",
     1, 2),
    ("slow-start", r"^info  waiting +CoCreateInstanceEx\(CLSCTX_ALL\): no answer yet after 5 s; opcdiag waits 150 s",
     POLLS_FIXED, 0, 3),
    ("second-browse-fails", r"^FAIL  browse +7 tags listed, then the second flat browse fails with 0x80004005",
     STOPS + "the second flat browse fails with 0x80004005 (E_FAIL", 1, 2),
    # The server's texts end in CR LF: trimmed, and so the same as the
    # system's, shown once.
    ("texts-crlf", r"^FAIL  group +AddGroup \"grp 1\": 0x80004005 \(E_FAIL: Call failed\.\);", "refuses the group "
     "with 0x80004005 (E_FAIL: Call failed.)", 1, 1),
    ("large", r"^ok    items +10000 of 10000", "the monitor polls 10000 records a screen, qualities 10000 good", 0, 3),
]
if SERVER_EXE:
    ROWS.append(("dies-in-read", r"^FAIL  reads +the server's process ended", "the monitor polls screens without "
                 "records: the server's process ended during the check: the Read of tag 1 of 7, Int16.Fixed, fails "
                 "with 0x800706", 1, 3))


def setUpModule():
    register_simserver()


def tearDownModule():
    unregister_simserver()


def run_opcdiag(*args, scenario=None):
    env = dict(os.environ)
    env.pop("BRENVICK_SIM_SCENARIO", None)
    if scenario:
        env["BRENVICK_SIM_SCENARIO"] = scenario
    earlier = set(server_processes()) if SERVER_EXE else set()
    started = time.monotonic()
    done = subprocess.run([WINE_RUN, OPCDIAG, *args], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, env=env, timeout=120)
    seconds = time.monotonic() - started
    # Wine hands an activation to a server EXE still registered, with the
    # scenario it was started with: the next row waits for this one's to
    # end. One hung in a read stays until the prefix ends (its one class
    # object taken, it serves no one else).
    if SERVER_EXE and scenario != "hung-read":
        wait_for_server_processes(lambda found: set(found) <= earlier, timeout=20)
    return done.stdout.decode("utf-8"), done.returncode, seconds


class Verdicts(unittest.TestCase):
    def test_scenarios(self):
        for scenario, line, verdict, status, teardown in ROWS:
            with self.subTest(scenario=scenario):
                args = () if scenario else ("OPC.Nobody.1",)
                out, got_status, seconds = run_opcdiag(*args, scenario=scenario)
                lines = out.splitlines()
                self.assertTrue(lines and lines[-1].startswith("verdict: "), f"no verdict last in:\n{out}")
                self.assertIn(verdict, lines[-1])
                self.assertTrue(any(re.search(line, got) for got in lines), f"no line matches {line!r}:\n{out}")
                self.assertEqual(status, got_status, f"got status {got_status}, expected {status}:\n{out}")
                # The server's names and texts arrive escaped: no control
                # character but the line ends.
                self.assertIsNone(re.search(r"[\x00-\x09\x0b\x0c\x0e-\x1f\x7f-\x9f]", out), out)
                self.assertLess(len(lines), 25, out)
                # The monitor's teardown: as far as the stages got, items only
                # after polling.
                made = [got.split(None, 2)[2] for got in lines if got.split()[1:2] == ["teardown"]]
                self.assertEqual(TEARDOWN[3 - teardown:] if teardown else [], made, out)
                if scenario == "hung-read":
                    self.assertTrue(59.5 < seconds < 66, f"the hung call ended the run after {seconds:.1f} s")

    def test_usage(self):
        for args, status in [(("--help",), 0), (("--bogus",), 2), (("OPC.A.1", "OPC.B.1"), 2)]:
            with self.subTest(args=args):
                out, got_status, _ = run_opcdiag(*args)
                self.assertEqual(status, got_status, out)
                self.assertIn("usage: opcdiag", out)

    def test_ctrl_c_tears_down_like_the_monitor(self):
        terminal = Terminal("opcdiag-ctrl-c")
        self.addCleanup(terminal.close)
        # The shell ignores the SIGINT; the program gets it back.
        terminal.start(f"trap '' INT; (trap - INT; BRENVICK_SIM_SCENARIO=slow-reads exec {shlex.quote(WINE_RUN)} "
                       f"--terminal {shlex.quote(OPCDIAG)})")
        terminal.wait_for_text("1000 of 1000 tags registered", timeout=60)
        terminal.send("C-c")
        self.assertEqual(1, terminal.exit_status(timeout=20), terminal.screen())
        # The terminal echoes the key as ^C before the next line.
        shown = [re.sub(r"^\^C", "", line).split(None, 2) for line in terminal.lines()]
        self.assertEqual([["info", "teardown", line] for line in TEARDOWN], shown[-4:-1], terminal.screen())
        self.assertIn("stopped (Ctrl+C or Ctrl+Break) during the reads", " ".join(shown[-1]))


if __name__ == "__main__":
    unittest.main(verbosity=2)
