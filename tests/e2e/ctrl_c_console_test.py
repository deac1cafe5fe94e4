"""End-to-end: Ctrl+C in the terminal (tmux sends SIGINT, Wine turns it into
the console's Ctrl+C event) ends the real monitor.exe the way ESC does.
Checked on screen and, through the simulation server's journal, on the
server side: items and group removed, every object released."""

import os
import shlex
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from monitor_console_test import ESC_PROMPT, PROMPT, MonitorTest, read_file  # noqa: E402
from simulation import FIXED_NAMES, MONITOR, WINE_RUN, register_simserver, unregister_simserver  # noqa: E402

EVERYTHING_REMOVED = ["RemoveItems 7: 0x00000000, 0 items left", "RemoveGroup: S_OK", "every object released"]


def setUpModule():
    register_simserver()


def tearDownModule():
    unregister_simserver()


class CtrlC(MonitorTest):
    def start(self, scenario):
        self.journal = os.path.join(self.terminal.workdir, "journal")
        # The window's shell would die of the SIGINT too and take the exit
        # status with it: it ignores it, the program gets it back.
        program = f"exec {shlex.quote(WINE_RUN)} --terminal {shlex.quote(MONITOR)}"
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

    def test_at_the_prompt_releases_the_server_without_a_group(self):
        self.start("fixed")
        self.terminal.wait_for_text(PROMPT)
        self.terminal.send("C-c")
        self.terminal.wait_for_text("server released", timeout=10)
        self.finish()
        # The completed line shows as the echoed line break, as after ENTER.
        self.assertEqual(["found the following tags:", *FIXED_NAMES, PROMPT, "", "server released"],
                         self.terminal.lines())
        self.assertEqual(["every object released"], self.journal_lines())

    def test_during_the_browse_skips_the_prompt_and_the_group(self):
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
        self.assertEqual(["found the following tags:", *FIXED_NAMES, "server released"], lines)
        self.assertEqual(["BrowseOPCItemIDs", "BrowseOPCItemIDs", "every object released"], self.journal_lines())


if __name__ == "__main__":
    unittest.main(verbosity=2)
