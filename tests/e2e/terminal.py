"""A terminal for end-to-end runs: a private tmux server with one window,
a Windows program started in it under Wine, and bounded waits on what the
screen shows. Every wait has a deadline; every process started is ended by
its own id."""

import os
import signal
import subprocess
import tempfile
import time


class Timeout(AssertionError):
    pass


class Terminal:
    def __init__(self, name, width=200, height=60):
        self.socket = f"opcmon-{os.getpid()}-{name}"
        self.width = width
        self.height = height
        self.workdir = tempfile.mkdtemp(prefix="opcmon-e2e-")
        self.status_file = os.path.join(self.workdir, "status")
        self.pane_pid = None
        self.server_pid = None

    def _tmux(self, *args, check=True):
        return subprocess.run(["tmux", "-L", self.socket, *args], check=check, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=20)

    def start(self, command):
        """Runs a shell command line in the window; its exit status is kept."""
        script = os.path.join(self.workdir, "run.sh")
        with open(script, "w") as f:
            f.write(f"{command}\necho $? > {self.status_file}.tmp && mv {self.status_file}.tmp {self.status_file}\n"
                    "exec sleep 600\n")
        self._tmux("-f", "/dev/null", "new-session", "-d", "-s", "main", "-x", str(self.width), "-y",
                   str(self.height), f"sh {script}")
        self._tmux("set-option", "-g", "remain-on-exit", "on", check=False)
        ids = self._tmux("display-message", "-p", "-t", "main", "#{pid} #{pane_pid}").stdout.split()
        self.server_pid, self.pane_pid = int(ids[0]), int(ids[1])

    def screen(self):
        return self._tmux("capture-pane", "-p", "-t", "main").stdout

    def lines(self):
        return self.screen().rstrip("\n").split("\n")

    def title(self):
        """The window title as the terminal keeps it."""
        return self._tmux("display-message", "-p", "-t", "main", "#{pane_title}").stdout

    def wait_for_console_input(self, timeout=10.0):
        """Waits until Wine's console has taken the terminal's input over
        (raw mode: no line editing, no echo, no CR to LF); it does so at the
        program's first read of the console, which can come a moment after a
        prompt is on screen or in a file. A key sent before is echoed by the
        terminal and lost, and ENTER arrives as a line feed that Wine's line
        editing shows as ^J and does not take for the end of a line."""
        tty = self._tmux("display-message", "-p", "-t", "main", "#{pane_tty}").stdout.strip()
        deadline = time.monotonic() + timeout
        while True:
            modes = subprocess.run(["stty", "-F", tty, "-a"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, text=True, timeout=20).stdout.split()
            if {"-icanon", "-echo", "-icrnl"} <= set(modes):
                return
            if time.monotonic() > deadline:
                raise Timeout(f"the terminal was not in raw mode after {timeout:.0f} s: {' '.join(modes)}")
            time.sleep(0.02)

    def send(self, *keys):
        self._tmux("send-keys", "-t", "main", *keys)

    def press_enter(self):
        self.wait_for_console_input()
        self.send("Enter")

    def press_escape(self):
        # Wine's terminal console takes a lone ESC byte for the start of an
        # escape sequence; one key press arrives as two ESC bytes at once.
        self.send("Escape", "Escape")

    def wait_for(self, predicate, timeout=20.0, what="the screen"):
        deadline = time.monotonic() + timeout
        while True:
            text = self.screen()
            if predicate(text):
                return text
            if time.monotonic() > deadline:
                raise Timeout(f"timed out after {timeout:.0f} s waiting for {what}; screen was:\n{text}")
            time.sleep(0.05)

    def hold(self, predicate, duration, what="the screen"):
        """Looks at the screen for `duration` seconds; every look must
        satisfy the predicate."""
        deadline = time.monotonic() + duration
        while time.monotonic() < deadline:
            text = self.screen()
            if not predicate(text):
                raise AssertionError(f"{what} did not hold; screen was:\n{text}")
            time.sleep(0.05)

    def wait_for_text(self, needle, timeout=20.0):
        return self.wait_for(lambda s: needle in s, timeout, repr(needle))

    def running(self):
        """Whether the command started in the window has not ended yet."""
        return not os.path.exists(self.status_file)

    def exit_status(self, timeout=20.0):
        deadline = time.monotonic() + timeout
        while not os.path.exists(self.status_file):
            if time.monotonic() > deadline:
                raise Timeout(f"program still running after {timeout:.0f} s; screen was:\n{self.screen()}")
            time.sleep(0.05)
        with open(self.status_file) as f:
            return int(f.read().strip())

    def program_pids(self):
        """Ids of the processes under the window's shell (the Wine loader and
        what it started)."""
        found = []
        pending = [self.pane_pid] if self.pane_pid else []
        while pending:
            pid = pending.pop()
            try:
                with open(f"/proc/{pid}/task/{pid}/children") as f:
                    children = [int(c) for c in f.read().split()]
            except OSError:
                children = []
            found.extend(children)
            pending.extend(children)
        return found

    def close(self):
        for pid in reversed(self.program_pids()):
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        if self.pane_pid:
            try:
                os.kill(self.pane_pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self._tmux("kill-server", check=False)
        if self.server_pid:
            try:
                os.kill(self.server_pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        subprocess.run(["rm", "-rf", self.workdir], check=False)
