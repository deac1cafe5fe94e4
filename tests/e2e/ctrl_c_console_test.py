"""End-to-end: Ctrl+C in the terminal (tmux sends SIGINT, Wine turns it into
the console's Ctrl+C event) ends the real monitor.exe the way ESC does, at
the next point where the run can end cleanly: between two names of the
browse, at the prompt (whatever standard input is: the console, a Windows
pipe, a FIFO of the Linux shell), between two reads of a slow cycle.
Checked on screen and, through the simulation server's journal, on the
server side: items and group removed, every object released. A second
Ctrl+C while a server call hangs ends the process at once."""

import os
import shlex
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from monitor_console_test import ESC_PROMPT, PROMPT, MonitorTest, read_file, records  # noqa: E402
from simulation import (FIXED_NAMES, MONITOR, SERVER_EXE, WINE_PREFIX, WINE_RUN, prefix_processes,  # noqa: E402
                        restart_wineserver, unregister_simserver, windows_path)

QUIET_STDIN = os.environ["OPCMON_QUIET_STDIN"]

EVERYTHING_REMOVED = ["RemoveItems 7: 0x00000000, 0 items left", "RemoveGroup: S_OK", "every object released"]


def tearDownModule():
    unregister_simserver()


class CtrlC(MonitorTest):
    def start(self, scenario, stdin=None):
        """stdin: None for the console, "pipe" for a Windows pipe that gets
        no line, "fifo" for a FIFO of the shell whose writer writes nothing."""
        self.journal = os.path.join(self.terminal.workdir, "journal")
        # The window's shell would die of the SIGINT too and take the exit
        # status with it: it ignores it, the program gets it back.
        program = f"exec {shlex.quote(WINE_RUN)} --terminal {shlex.quote(MONITOR)}"
        if stdin == "pipe":
            program = (f"exec {shlex.quote(WINE_RUN)} --terminal {shlex.quote(QUIET_STDIN)} "
                       f"{shlex.quote(windows_path(MONITOR))}")
        elif stdin == "fifo":
            fifo = os.path.join(self.terminal.workdir, "fifo")
            os.mkfifo(fifo)
            # Open for reading and writing, so the test holds the writer's
            # end without waiting for a reader.
            self.addCleanup(os.close, os.open(fifo, os.O_RDWR))
            program += f" <{shlex.quote(fifo)}"
        self.terminal.start(f"trap '' INT; (trap - INT; BRENVICK_SIM_SCENARIO={shlex.quote(scenario)} "
                            f"BRENVICK_SIM_JOURNAL={shlex.quote(self.journal)} {program})")

    def journal_lines(self):
        return read_file(self.journal).decode().splitlines()

    def test_while_polling_tears_down_like_escape(self):
        self.start("fixed")
        self.terminal.wait_for_text(PROMPT)
        self.terminal.press_enter()
        self.terminal.wait_for(lambda s: s.rstrip().endswith(ESC_PROMPT), what="a whole polling screen")
        self.assertEqual([], self.journal_lines())
        self.terminal.send("C-c")
        pressed = time.monotonic()
        screen = self.terminal.wait_for_text("server released", timeout=10)
        elapsed = time.monotonic() - pressed
        self.assertLess(elapsed, 2.0, f"Ctrl+C took {elapsed:.2f} s to end the loop, expected one cycle")
        self.finish()
        self.assertEqual(["group released", "server released"], screen.rstrip("\n").split("\n"))
        self.assertEqual(EVERYTHING_REMOVED, self.journal_lines())

    def ctrl_c_at_the_prompt(self, stdin=None):
        """Ctrl+C at the prompt of each kind of standard input: the teardown
        follows at once, the server is released with no group, and the
        process ends, the read it left behind with it. Returns the screen."""
        self.start("fixed", stdin)
        self.terminal.wait_for_text(PROMPT)
        if stdin is None:
            self.terminal.wait_for_console_input()
        else:
            time.sleep(0.3)  # the read of a pipe shows nothing when it begins
        self.terminal.send("C-c")
        pressed = time.monotonic()
        self.terminal.wait_for_text("server released", timeout=10)
        elapsed = time.monotonic() - pressed
        self.assertLess(elapsed, 1.0, f"Ctrl+C took {elapsed:.2f} s to end the prompt")
        status = self.terminal.exit_status(timeout=5)
        self.assertEqual(0, status, f"got exit status {status}, expected 0")
        self.assertEqual([], prefix_processes(WINE_PREFIX, os.path.basename(MONITOR).lower()))
        self.assertEqual(["every object released"], self.journal_lines())
        return self.terminal.lines()

    def test_at_the_prompt_releases_the_server_without_a_group(self):
        self.assertEqual(["found the following tags:", *FIXED_NAMES, PROMPT, "server released"],
                         self.ctrl_c_at_the_prompt())

    def test_at_the_prompt_of_a_pipe_that_gets_no_line(self):
        lines = self.ctrl_c_at_the_prompt("pipe")
        # The monitor never reads the console: the terminal stays in its own
        # line mode and echoes the key as ^C itself.
        lines[-1] = lines[-1].removeprefix("^C")
        self.assertEqual(["found the following tags:", *FIXED_NAMES, PROMPT, "server released"], lines)

    def test_at_the_prompt_of_a_fifo_of_the_shell_that_gets_no_line(self):
        lines = self.ctrl_c_at_the_prompt("fifo")
        lines[-1] = lines[-1].removeprefix("^C")
        self.assertEqual(["found the following tags:", *FIXED_NAMES, PROMPT, "server released"], lines)

    def test_during_the_browse_ends_it_before_the_next_name(self):
        # Each browse of this scenario takes 1.5 s and says when it starts.
        self.start("slow-browse")
        self.terminal.wait_for(lambda _: "BrowseOPCItemIDs" in self.journal_lines(), what="the browse begun")
        self.terminal.send("C-c")
        self.terminal.wait_for_text("server released", timeout=20)
        self.finish()
        lines = self.terminal.lines()
        # Before the program's first console read the terminal is still in
        # its own line mode and echoes the key as ^C itself.
        lines[0] = lines[0].removeprefix("^C")
        self.assertEqual(["found the following tags:", "server released"], lines)
        self.assertEqual(["BrowseOPCItemIDs", "every object released"], self.journal_lines())

    def test_between_two_reads_of_a_cycle_of_minutes(self):
        # 1,000 tags of 200 ms each; every read says so in the journal.
        self.start("slow-reads")
        self.terminal.wait_for_text(PROMPT)
        self.terminal.press_enter()
        self.terminal.wait_for(lambda s: "Items OK" not in s and len(records(s)) >= 3, what="the first records")
        reads = self.journal_lines().count("Read")
        self.terminal.send("C-c")
        pressed = time.monotonic()
        screen = self.terminal.wait_for_text("server released", timeout=30)
        elapsed = time.monotonic() - pressed
        self.finish()
        self.assertLess(elapsed, 3.0, f"Ctrl+C took {elapsed:.2f} s to end the cycle, expected about one read")
        self.assertEqual(["group released", "server released"], screen.rstrip("\n").split("\n"))
        journal = self.journal_lines()
        self.assertEqual(["RemoveItems 1000: 0x00000000, 0 items left", "RemoveGroup: S_OK", "every object released"],
                         journal[-3:])
        self.assertEqual({"Read"}, set(journal[:-3]))
        self.assertLessEqual(len(journal) - 3 - reads, 3, "reads begun after the Ctrl+C")

    def test_a_call_that_hangs_leaves_the_second_ctrl_c_to_end_the_process(self):
        if SERVER_EXE:
            # The server process hangs for good in its read.
            self.addCleanup(restart_wineserver)
        self.start("hung-read")
        self.terminal.wait_for_text(PROMPT)
        self.terminal.press_enter()
        self.terminal.wait_for(lambda _: "Read hangs" in self.journal_lines(), what="the read begun")
        self.terminal.send("C-c")
        self.terminal.hold(lambda s: "released" not in s and self.terminal.running(), 1.5,
                           what="the run, unchanged while the read hangs")
        self.terminal.send("C-c")
        pressed = time.monotonic()
        self.terminal.exit_status(timeout=10)
        elapsed = time.monotonic() - pressed
        self.assertLess(elapsed, 2.0, f"the second Ctrl+C took {elapsed:.2f} s to end the process")
        self.assertNotIn("released", self.terminal.screen())
        self.assertEqual(["Read hangs"], self.journal_lines())

if __name__ == "__main__":
    unittest.main(verbosity=2)
