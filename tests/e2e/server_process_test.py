"""End-to-end, against the simulation server as a process of its own
(simserver.exe, OPCMON_SERVER_EXE): the server process ends by itself once
the monitor has released it or has been killed, also when another process
started it (and the end of that one leaves it serving), and when the server
dies under the monitor, the monitor carries on and ends normally."""

import os
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import monitor_console_test as console  # noqa: E402
from simulation import (SERVER_EXE, WINE_PREFIX, WINE_RUN, prefix_processes,  # noqa: E402
                        restart_wineserver, server_processes, unregister_simserver, wait_for_server_processes,
                        windows_path)

# The server posts its quit message when the last reference goes; its
# process then needs a moment to wind down under Wine.
SHUTDOWN_SECONDS = 5
# Starts a server EXE and waits for it, as a process that is no COM client.
WAITING_PARENT = os.environ["OPCMON_WAITING_PARENT"]
# A killed monitor releases nothing: the server sees its process end. It
# reacts at once; the bound is for a loaded machine.
CLIENT_GONE_SECONDS = 30


def tearDownModule():
    unregister_simserver()


class ServerProcess(console.MonitorTest):
    def setUp(self):
        # A server whose monitor an earlier failed test left behind would be
        # taken for this test's own. The case's own registration follows.
        stale = server_processes()
        for pid in stale:
            os.kill(pid, signal.SIGKILL)
        if stale:
            wait_for_server_processes(lambda pids: not pids, 10)
            restart_wineserver()
        super().setUp()

    def the_server(self):
        found = wait_for_server_processes(lambda pids: pids, 10)
        self.assertEqual(1, len(found), f"server processes: {found}")
        # The one of the architecture under test, started by COM.
        with open(f"/proc/{found[0]}/cmdline", "rb") as f:
            command = f.read().replace(b"\0", b" ").decode("utf-8", "replace")
        self.assertIn(windows_path(SERVER_EXE).lower(), command.lower())
        self.assertIn("-embedding", command.lower())
        return found[0]

    def kill_server(self):
        os.kill(self.the_server(), signal.SIGKILL)
        # The dead server's class stays registered with the prefix's services.
        self.addCleanup(restart_wineserver)
        self.assertEqual([], wait_for_server_processes(lambda pids: not pids, 10))

    def assert_no_crash(self, screen):
        for sign in ("Unhandled exception", "winedbg", "wine: "):
            self.assertNotIn(sign, screen)

    def test_server_ends_by_itself_after_the_monitor(self):
        self.keep_journal()
        self.poll("fixed")
        self.the_server()
        self.escape_and_teardown()
        ended = time.monotonic()
        left = wait_for_server_processes(lambda pids: not pids, SHUTDOWN_SECONDS)
        self.assertEqual([], left, f"server still running {time.monotonic() - ended:.1f} s after the monitor")
        # At its last release, not only once the monitor's process was gone.
        self.assertEqual("every object released", self.journal_lines()[-1])

    def keep_journal(self):
        """The server's journal of this test; the monitor's environment,
        which the server inherits, names it."""
        self.journal = os.path.join(self.terminal.workdir, "journal")
        os.environ["BRENVICK_SIM_JOURNAL"] = self.journal
        self.addCleanup(os.environ.pop, "BRENVICK_SIM_JOURNAL")

    def journal_lines(self):
        return console.read_file(self.journal).decode().splitlines()

    def test_monitor_killed_while_polling_ends_the_server(self):
        self.keep_journal()
        self.poll("fixed")
        self.the_server()
        self.kill_monitor_and_see_the_server_end()

    def test_server_started_by_another_process_outlives_it_and_ends_with_its_client(self):
        self.keep_journal()
        server, parent = self.poll_a_waiting_server()
        os.kill(parent, signal.SIGKILL)
        # A server that took its parent for its client would end now, and
        # the monitor's next screens would be empty.
        self.terminal.hold(lambda s: not s.rstrip().endswith(console.ESC_PROMPT) or self.fixed_records_shown(s),
                           4, what="the records")
        self.assertEqual([server], server_processes())
        self.assertEqual([], self.journal_lines())
        self.kill_monitor_and_see_the_server_end()

    def poll_a_waiting_server(self):
        """COM hands an activation the class of any server EXE waiting for a
        client, not only of the one it started itself: polling with a server
        started by another process, which waits on it. Returns the server's
        process id and that parent."""
        parent = subprocess.Popen([WINE_RUN, "--terminal", WAITING_PARENT, windows_path(SERVER_EXE), "-Embedding"],
                                  env=dict(os.environ, BRENVICK_SIM_SCENARIO="fixed"), stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(parent.wait, 20)
        self.addCleanup(parent.kill)
        server = self.the_server()
        parents = prefix_processes(WINE_PREFIX, "waiting_parent.exe")
        self.assertEqual(1, len(parents), f"parent processes: {parents}")
        # Its class is registered moments after it started.
        time.sleep(2)
        screen = self.poll("fixed")
        self.assertEqual([server], server_processes(), "the monitor was not served by the waiting server")
        self.assertTrue(self.fixed_records_shown(screen), screen)
        return server, parents[0][0]

    def fixed_records_shown(self, screen):
        return [r for line in screen.split("\n") for r in console.records(line)] == console.FIXED_RECORDS

    def kill_monitor_and_see_the_server_end(self):
        monitors = prefix_processes(WINE_PREFIX, "monitor.exe")
        self.assertEqual(1, len(monitors), f"monitor processes: {monitors}")
        os.kill(monitors[0][0], signal.SIGKILL)
        killed = time.monotonic()
        left = wait_for_server_processes(lambda pids: not pids, CLIENT_GONE_SECONDS)
        elapsed = time.monotonic() - killed
        print(f"server ended {elapsed:.1f} s after its monitor was killed", file=sys.stderr)
        self.assertEqual([], left, f"server still running {elapsed:.1f} s after its monitor was killed")
        # It ended its own way: the objects the monitor left were released.
        self.assertEqual(["client process ended", "every object released"], self.journal_lines())

    def test_server_killed_while_polling_leaves_empty_screens_and_a_normal_end(self):
        self.poll("fixed")
        self.kill_server()
        # The reads fail: whole screens without a record.
        self.terminal.wait_for(lambda s: s.rstrip("\n").split("\n") == ["", "", console.ESC_PROMPT],
                               timeout=20, what="an empty polling screen")
        self.assert_no_crash(self.escape_and_teardown())

    def test_server_killed_before_enter_then_enter_releases_the_server(self):
        self.start("fixed")
        self.terminal.wait_for_text(console.PROMPT)
        self.kill_server()
        self.terminal.press_enter()
        self.terminal.wait_for_text("server released")
        self.finish()
        self.assertEqual(["", "server released"], self.lines_after(console.PROMPT))
        self.assert_no_crash(self.terminal.screen())


if __name__ == "__main__":
    unittest.main(verbosity=2)
