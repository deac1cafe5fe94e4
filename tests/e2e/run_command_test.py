"""The README's run command, scripts/run-monitor.sh, in a terminal as a user
runs it (set-up, build, the monitor against the simulation server, ENTER,
ESC), while this test holds the tests' Wine prefix: the run command
registers the server in a prefix of its own, and the tests' prefix comes
out of it as it went in, so that running the monitor first never fails the
tests (nor the other way round)."""

import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from simulation import WINE_RUN, unregister_simserver  # noqa: E402
from terminal import Terminal  # noqa: E402

REPO = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
RUN_COMMAND = os.path.join(REPO, "scripts", "run-monitor.sh")
# The run command's own runner, beside the tests' one in the same tree.
MONITOR_RUN = os.path.join(os.path.dirname(WINE_RUN), "monitor-run")
MONITOR_PREFIX = os.path.join(os.path.dirname(WINE_RUN), "monitor-prefix")
PREFIX_SCRIPT = os.path.join(REPO, "tests", "wine", "prefix.sh")


def registered(runner):
    """Whether the monitor's ProgID is registered in the runner's prefix."""
    return subprocess.run([runner, "reg", "query", r"HKCR\OPC.Brenvick.1"], stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60).returncode == 0


class RunCommand(unittest.TestCase):
    def test_the_run_command_registers_the_server_in_its_own_prefix_only(self):
        unregister_simserver()
        self.assertFalse(registered(WINE_RUN), "the tests' prefix has the server registered before the run")

        terminal = Terminal("run-command")
        try:
            terminal.start(f"cd {REPO} && scripts/run-monitor.sh")
            # On a fresh clone this builds and creates a prefix first.
            terminal.wait_for_text("press ENTER to start polling", timeout=480)
            terminal.press_enter()
            terminal.wait_for_text("Press ESC to exit")
            terminal.press_escape()
            terminal.wait_for(lambda s: s.rstrip().endswith("group released\nserver released"), what="the teardown")
            self.assertEqual(0, terminal.exit_status())
        finally:
            terminal.close()
            subprocess.run(["sh", PREFIX_SCRIPT, "teardown", MONITOR_RUN, MONITOR_PREFIX], stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)

        self.assertTrue(registered(MONITOR_RUN), "the run command's prefix has no server registered")
        self.assertFalse(registered(WINE_RUN), "the run command registered the server in the tests' prefix")


if __name__ == "__main__":
    unittest.main()
