"""End-to-end: a server whose tag names hold terminal controls (a window
title, the cursor sent home, a bare CR, an 8-bit CSI, bidirectional
marks), line and paragraph separators, zero-width characters, a surrogate
without its pair, and thirteen names that all look like "Pump" (invisible
characters after it, some beyond U+FFFF). The real monitor.exe in a
terminal shows them as escapes in the tag list, in the records and in a
redirected file, the replacement character as itself, and the thirteen
distinct; the window title stays untouched; and the names reach AddItems
as delivered, or "Items OK" and the records, each with its own tag's
value, would not appear."""

import os
import shlex
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from monitor_console_test import ESC_PROMPT, PROMPT, read_file  # noqa: E402
from simulation import MONITOR, WINE_RUN, register_simserver, unregister_simserver  # noqa: E402
from terminal import Terminal  # noqa: E402

SHOWN = ["Title\\x1B]0;pwned\\x07", "\\x1B[1;1HHome", "Over\\x0DWrite", "Bidi\\u202Eevil", "Csi\\x9B2J",
         "Del\\x7F.Isolate\\u2066", "Back\\\\x1B", "Line1\\Valve", "Temp_\u00b0C", "Rtl\\u200F",
         "Sep\\u2028Para\\u2029", "Zw\\u200B\\uFEFF\\u00AD", "Lone\\uD800", "Lone\ufffd",
         "Pump\\uFE0F", "Pump\\u034F", "Pump\\U000E0041", "Pump\\u3164", "Pump\\u2065", "Pump\\u115F",
         "Pump\\U000E0100", "Pump\\u17B4", "Pump\\u180B", "Pump\\uFFA0", "Pump\\U0001D173", "Pump\\u00A0",
         "Pump"]
RECORDS = [f"[{name}={value} 13:05:09 good]" for value, name in enumerate(SHOWN, 1)]


def polling_screen(records):
    """Three records to a line, each with its tab, a line break after the
    third, then two more and the prompt."""
    lines = ["".join(f"{r}\t" for r in records[i:i + 3]).expandtabs(8).rstrip() for i in range(0, len(records), 3)]
    return lines + ([""] if len(records) % 3 == 0 else []) + ["", ESC_PROMPT]


class HostileNames(unittest.TestCase):
    def setUp(self):
        register_simserver()
        self.addCleanup(unregister_simserver)

    def run_monitor(self, stdout_file=None):
        terminal = Terminal(self.id().rsplit(".", 1)[-1] + ("-redirected" if stdout_file else ""))
        self.addCleanup(terminal.close)
        command = f"BRENVICK_SIM_SCENARIO=hostile-names {shlex.quote(WINE_RUN)} --terminal {shlex.quote(MONITOR)}"
        terminal.start(command + (f" >{shlex.quote(stdout_file)}" if stdout_file else ""))
        return terminal

    def poll_and_leave(self, terminal):
        terminal.press_enter()
        screen = terminal.wait_for(lambda s: s.rstrip().endswith(ESC_PROMPT), what="a whole polling screen")
        self.assertEqual(polling_screen(RECORDS), [line.rstrip() for line in screen.rstrip("\n").split("\n")])
        self.assertNotIn("pwned", terminal.title())
        terminal.press_escape()
        self.assertEqual(0, terminal.exit_status())

    def test_names_show_as_escapes_on_screen_in_the_title_and_in_a_file(self):
        terminal = self.run_monitor()
        screen = terminal.wait_for_text(PROMPT)
        self.assertEqual(["found the following tags:", *SHOWN, PROMPT], screen.rstrip("\n").split("\n"))
        self.assertNotIn("pwned", terminal.title())
        self.poll_and_leave(terminal)

        out = os.path.join(terminal.workdir, "stdout.txt")
        terminal = self.run_monitor(out)
        terminal.wait_for(lambda _: PROMPT.encode() in read_file(out), what="the prompt in the file")
        self.poll_and_leave(terminal)
        expected = "".join(f"{line}\r\n" for line in ["found the following tags:", *SHOWN, PROMPT, "Items OK",
                                                       "group released", "server released"])
        self.assertEqual(expected.encode("utf-8"), read_file(out))


if __name__ == "__main__":
    unittest.main(verbosity=2)
