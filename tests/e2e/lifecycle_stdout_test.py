"""End-to-end: the real monitor.exe with standard output redirected to a
file and the ENTER piped into standard input, no terminal at all. Checks
every byte of standard output for the runs that never reach the polling
loop. Run by ctest with OPCMON_WINE_RUN, OPCMON_MONITOR and OPCMON_SIMSERVER
set."""

import os
import signal
import subprocess
import unittest

WINE_RUN = os.environ["OPCMON_WINE_RUN"]
MONITOR = os.environ["OPCMON_MONITOR"]
SIMSERVER = os.environ["OPCMON_SIMSERVER"]

FIXED_NAMES = ["Int16.Fixed", "Int32.Fixed", "Temp_\u00b0C", "\u540d\u524d", "Text.Fixed", "Empty.Fixed",
               "Stamp.Bad"]


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(*args):
    subprocess.run([WINE_RUN, *args], check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)


def crlf_lines(*lines):
    return "".join(f"{line}\r\n" for line in lines).encode("utf-8")


class RedirectedRun(unittest.TestCase):
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
        done = subprocess.CompletedProcess(program.args, program.returncode, out)
        self.assertEqual(0, done.returncode, f"got exit status {done.returncode}, expected 0")
        return done.stdout

    def test_nothing_registered(self):
        wine("regsvr32", "/s", "/u", windows_path(SIMSERVER))
        self.assertEqual(b"OPC.Brenvick.1 not instantiated", self.run_monitor(None))

    def test_server_with_tags_and_no_group(self):
        wine("regsvr32", "/s", windows_path(SIMSERVER))
        try:
            self.assertEqual(crlf_lines("found the following tags:", *FIXED_NAMES, "press ENTER to start polling",
                                        "server released"),
                             self.run_monitor("group-refused"))
        finally:
            wine("regsvr32", "/s", "/u", windows_path(SIMSERVER))

    def test_server_without_tags_and_no_group(self):
        wine("regsvr32", "/s", windows_path(SIMSERVER))
        try:
            self.assertEqual(crlf_lines("found the following tags:", "press ENTER to start polling",
                                        "server released"),
                             self.run_monitor("no-tags-group-refused"))
        finally:
            wine("regsvr32", "/s", "/u", windows_path(SIMSERVER))

    def test_rejected_tag(self):
        wine("regsvr32", "/s", windows_path(SIMSERVER))
        try:
            self.assertEqual(crlf_lines("found the following tags:", *FIXED_NAMES, "press ENTER to start polling",
                                        "group released", "server released"),
                             self.run_monitor("tag-rejected"))
        finally:
            wine("regsvr32", "/s", "/u", windows_path(SIMSERVER))


if __name__ == "__main__":
    unittest.main(verbosity=2)
