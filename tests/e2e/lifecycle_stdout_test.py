"""End-to-end: the real monitor.exe with standard output redirected to a
file and the ENTER piped into standard input, no terminal at all. Checks
every byte of standard output for the runs that never reach the polling
loop."""

import os
import signal
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from simulation import FIXED_NAMES, MONITOR, WINE_RUN, register_simserver, unregister_simserver  # noqa: E402


def crlf_lines(*lines):
    return "".join(f"{line}\r\n" for line in lines).encode("utf-8")


class RedirectedRun(unittest.TestCase):
    def run_with_simserver(self, scenario):
        register_simserver()
        self.addCleanup(unregister_simserver)
        return self.run_monitor(scenario)

    def run_monitor(self, scenario):
        env = dict(os.environ)
        env.pop("BRENVICK_SIM_SCENARIO", None)
        if scenario:
            env["BRENVICK_SIM_SCENARIO"] = scenario
        # wine-run hands the program files, not this pipe, and passes the
        # output on once the program has ended. A run that does not end is
        # ended with everything it started.
        program = subprocess.Popen([WINE_RUN, MONITOR], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, env=env, start_new_session=True)
        try:
            out, _ = program.communicate(b"\n", timeout=60)
        except subprocess.TimeoutExpired:
            os.killpg(program.pid, signal.SIGKILL)
            program.communicate()
            self.fail("the monitor did not end within 60 s")
        self.assertEqual(0, program.returncode, f"got exit status {program.returncode}, expected 0")
        return out

    def test_nothing_registered(self):
        unregister_simserver()
        self.assertEqual(b"OPC.Brenvick.1 not instantiated", self.run_monitor(None))

    def test_server_with_tags_and_no_group(self):
        self.assertEqual(crlf_lines("found the following tags:", *FIXED_NAMES, "press ENTER to start polling",
                                    "server released"),
                         self.run_with_simserver("group-refused"))

    def test_server_without_tags_and_no_group(self):
        self.assertEqual(crlf_lines("found the following tags:", "press ENTER to start polling", "server released"),
                         self.run_with_simserver("no-tags-group-refused"))

    def test_rejected_tag(self):
        self.assertEqual(crlf_lines("found the following tags:", *FIXED_NAMES, "press ENTER to start polling",
                                    "group released", "server released"),
                         self.run_with_simserver("tag-rejected"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
