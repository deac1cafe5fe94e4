"""End-to-end: the real monitor.exe in a terminal under Wine, against the
simulation server registered in the build tree's prefix, one scenario per
test."""

import os
import re
import shlex
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from simulation import FIXED_NAMES, MONITOR, WINE_RUN, register_simserver, unregister_simserver  # noqa: E402
from terminal import Terminal  # noqa: E402

NOT_INSTANTIATED = "OPC.Brenvick.1 not instantiated"
PROMPT = "press ENTER to start polling"
ESC_PROMPT = "Press ESC to exit"
SCREEN_LAG = 0.2  # seconds by which a look at the screen can miss a change
# The monitor asks for VT_I2: what is no 16-bit number comes without a
# value and with bad quality.
FIXED_RECORDS = [
    "[Int16.Fixed=-5 13:05:09 good]",
    "[Int32.Fixed=? 13:05:09 bad]",
    "[Temp_\u00b0C=215 13:05:09 good]",
    "[\u540d\u524d=? 13:05:09 bad]",
    "[Text.Fixed=? 13:05:09 bad]",
    "[Empty.Fixed=? 13:05:09 bad]",
    "[Stamp.Bad=1 bad timestamp no good]",
]
# The same tags from a server that hands values through in their own types.
UNCONVERTED_RECORDS = [
    "[Int16.Fixed=-5 13:05:09 good]",
    "[Int32.Fixed=100000 13:05:09 good]",
    "[Temp_\u00b0C=215 13:05:09 good]",
    "[\u540d\u524d=-70000 13:05:09 good]",
    "[Text.Fixed= 13:05:09 good]",
    "[Empty.Fixed=? 13:05:09 bad]",
    "[Stamp.Bad=1 bad timestamp no good]",
]


def tearDownModule():
    unregister_simserver()


def read_file(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return b""


def records(line):
    """The display records of one screen line, in order."""
    return re.findall(r"\[[^\]]*\]", line)


class MonitorTest(unittest.TestCase):
    scenario = None
    redirect = None  # a file name: standard output goes there instead of the terminal

    def setUp(self):
        # Each case makes the registration it needs, so a set-up call that
        # fails fails this case alone, with the call's status and output.
        register_simserver()
        self.terminal = Terminal(self.id().rsplit(".", 1)[-1])
        self.addCleanup(self.terminal.close)

    def start(self, scenario=None, stdout_file=None, stdin_file=None):
        env = f"BRENVICK_SIM_SCENARIO={shlex.quote(scenario)} " if scenario else "unset BRENVICK_SIM_SCENARIO; "
        command = f"{env}{shlex.quote(WINE_RUN)} --terminal {shlex.quote(MONITOR)}"
        if stdin_file:
            command += f" <{shlex.quote(stdin_file)}"
        if stdout_file:
            command += f" >{shlex.quote(stdout_file)}"
        self.terminal.start(command)

    def lines_after(self, marker):
        lines = self.terminal.lines()
        for i, line in enumerate(lines):
            if marker in line:
                return lines[i + 1:]
        self.fail(f"{marker!r} not on screen:\n" + "\n".join(lines))

    def start_polling(self):
        """ENTER at the prompt, then the first whole polling screen. The time
        from "Items OK" to that screen (a wait, a clear and one round of
        reads) is kept as this machine's cycle."""
        self.terminal.press_enter()
        self.terminal.wait_for_text("Items OK")
        shown = time.monotonic()
        screen = self.terminal.wait_for(lambda s: s.rstrip().endswith(ESC_PROMPT), what="a whole polling screen")
        self.cycle = time.monotonic() - shown
        return screen

    def poll(self, scenario):
        self.start(scenario)
        self.terminal.wait_for_text(PROMPT)
        # The prompt ends every whole screen; a look between a clear and the
        # prompt sees part of one.
        return self.start_polling()

    def finish(self):
        status = self.terminal.exit_status()
        self.assertEqual(0, status, f"got exit status {status}, expected 0")

    def escape_and_teardown(self):
        """ESC while polling: the loop ends within one cycle and the teardown
        lines stand at the top of a cleared screen. The bound is two of this
        run's cycles (one to reach the next key check, one for the teardown
        and a slower clear on a loaded machine) and the lag of looking at the
        screen."""
        self.terminal.press_escape()
        pressed = time.monotonic()
        screen = self.terminal.wait_for_text("server released", timeout=10)
        elapsed = time.monotonic() - pressed
        self.assertLess(elapsed, 2 * self.cycle + SCREEN_LAG,
                        f"ESC took {elapsed:.2f} s to end the loop, expected one cycle ({self.cycle:.2f} s)")
        self.finish()
        self.assertEqual(["group released", "server released"], screen.rstrip("\n").split("\n")[:2])
        return screen


class Outcomes(MonitorTest):
    def test_nothing_registered_prints_only_the_progid_line(self):
        unregister_simserver()
        self.start()
        self.finish()
        self.assertEqual(NOT_INSTANTIATED, self.terminal.screen().rstrip("\n"))

    def test_group_refused_releases_the_server_right_after_enter(self):
        self.start("group-refused")
        self.terminal.wait_for_text(PROMPT)
        self.assertEqual(["found the following tags:", *FIXED_NAMES, PROMPT], self.terminal.lines())
        self.terminal.press_enter()
        self.terminal.wait_for_text("server released")
        self.finish()
        # After ENTER the terminal shows the echoed line break.
        self.assertEqual(["", "server released"], self.lines_after(PROMPT))

    def test_rejected_tag_skips_polling(self):
        self.start("tag-rejected")
        self.terminal.wait_for_text(PROMPT)
        self.terminal.press_enter()
        self.terminal.wait_for_text("server released")
        self.finish()
        self.assertEqual(["", "group released", "server released"], self.lines_after(PROMPT))

    def test_no_tags_polls_an_empty_screen_until_escape(self):
        self.start("no-tags")
        self.terminal.wait_for_text(PROMPT)
        self.assertEqual(["found the following tags:", PROMPT], self.terminal.lines())
        screen = self.start_polling()
        self.assertEqual(["", "", ESC_PROMPT], screen.rstrip("\n").split("\n"))
        self.escape_and_teardown()


class Screens(MonitorTest):
    def check_seven_records_three_to_a_line(self, scenario, expected):
        screen = self.poll(scenario).rstrip("\n").split("\n")
        self.assertEqual(expected[0:3], records(screen[0]))
        self.assertEqual(expected[3:6], records(screen[1]))
        self.assertEqual(expected[6:7], records(screen[2]))
        self.assertEqual(["", ESC_PROMPT], [line.rstrip() for line in screen[3:]])
        self.escape_and_teardown()

    def test_seven_records_three_to_a_line(self):
        self.check_seven_records_three_to_a_line("fixed", FIXED_RECORDS)

    def test_values_in_their_own_types(self):
        self.check_seven_records_three_to_a_line("unconverted", UNCONVERTED_RECORDS)

    def test_a_key_other_than_escape_changes_nothing(self):
        before = self.poll("fixed")
        whole = before.rstrip()
        self.terminal.send("x")
        # Over three cycles, each with a key check, every look shows the
        # same screen or part of it being redrawn; then the program still
        # runs and shows it whole.
        self.terminal.hold(lambda s: whole.startswith(s.rstrip()), 3 * self.cycle, "the screen after 'x'")
        self.assertTrue(self.terminal.running(), "the monitor ended after 'x'")
        self.assertEqual(before, self.terminal.wait_for(lambda s: s.rstrip().endswith(ESC_PROMPT),
                                                        what="a whole polling screen"))
        self.escape_and_teardown()

    def test_unreadable_item_leaves_no_gap(self):
        screen = self.poll("read-fails").rstrip("\n").split("\n")
        readable = [r for r in FIXED_RECORDS if not r.startswith("[Int32.Fixed")]
        self.assertEqual(readable[0:3], records(screen[0]))
        self.assertEqual(readable[3:6], records(screen[1]))
        self.assertEqual(["", "", ESC_PROMPT], [line.rstrip() for line in screen[2:]])
        self.escape_and_teardown()

    def test_group_without_sync_reads_shows_no_records(self):
        screen = self.poll("no-sync-io")
        self.assertEqual(["", "", ESC_PROMPT], screen.rstrip("\n").split("\n"))
        self.escape_and_teardown()

    def test_default_server_shows_live_records_with_non_ascii_names(self):
        screen = self.poll(None)
        shown = [r for line in screen.split("\n") for r in records(line)]
        self.assertGreater(len(shown), 20, screen)
        for record in shown:
            self.assertRegex(record, r"^\[[^=]+=(-?\d+|\?|) (\d\d:\d\d:\d\d|bad timestamp) "
                                     r"(good|bad|not_connected|comm_failure|no good)\]$")
        names = {r[1:r.index("=")] for r in shown}
        self.assertIn("Temp_\u00b0C", names)
        self.assertIn("\u540d\u524d", names)
        self.escape_and_teardown()


class RedirectedOutput(MonitorTest):
    """Standard output to a file, the console still the terminal: messages
    land in the file as UTF-8, the polling screen stays on the console."""

    def test_messages_in_the_file_records_on_the_screen(self):
        out = os.path.join(self.terminal.workdir, "stdout.txt")
        self.start("fixed", stdout_file=out)
        self.terminal.wait_for(lambda _: PROMPT.encode() in read_file(out), what="the prompt in the file")
        self.terminal.press_enter()
        screen = self.terminal.wait_for(lambda s: s.rstrip().endswith(ESC_PROMPT), what="a polling screen")
        self.assertEqual(FIXED_RECORDS[0:3], records(screen.split("\n")[0]))
        self.terminal.press_escape()
        self.finish()
        expected = "".join(f"{line}\r\n" for line in ["found the following tags:", *FIXED_NAMES, PROMPT,
                                                       "Items OK", "group released", "server released"])
        self.assertEqual(expected.encode("utf-8"), read_file(out))
        # The screen was cleared without "cls", which would have written
        # into the file.
        self.assertNotIn(b"\x0c", read_file(out))


if __name__ == "__main__":
    unittest.main(verbosity=2)
