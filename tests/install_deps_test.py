"""The set-up scripts against stand-ins first (and alone) on PATH: apt-get,
dpkg and dpkg-query failing the way a package mirror in the middle of a
sync does, sudo resetting the environment, and the kernel's answer to a
32-bit program (a stand-in probe that runs, or that the kernel refuses with
ENOEXEC). No network, nothing installed for real."""

import os
import stat
import subprocess
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "install-deps.sh")
TOOLS = ["x86_64-w64-mingw32-g++-posix", "x86_64-w64-mingw32-windres", "x86_64-w64-mingw32-widl", "cmake",
         "i686-w64-mingw32-g++-posix", "i686-w64-mingw32-windres", "tmux", "python3", "make", "g++"]

# apt-get: logs every call and the frontend it was given; `update` exits
# FAKE_UPDATE_STATUS; `install` fails like a broken mirror unless its mode
# allows it, and on success marks the packages installed and puts the tools
# in place (less FAKE_MISSING). Mode `skew` is the broken mirror after an
# earlier call took Wine's 64-bit half from the security suite: its i386
# twin is then in no index.
STAND_INS = {
    "apt-get": r"""#!/bin/bash
echo "apt-get $*" >> "$FAKE/calls"
echo "${DEBIAN_FRONTEND:-unset}" >> "$FAKE/frontends"
case "$1" in
  update) echo "E: Failed to fetch binary-i386/Packages.xz  File has unexpected size" >&2
          exit "${FAKE_UPDATE_STATUS:-0}" ;;
  install)
    if [ "$FAKE_INSTALL" = skew ] && grep -qx wine64 "$FAKE/installed" 2>/dev/null && [[ " $* " == *" wine32:i386 "* ]]; then
      echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100
    fi
    case "$FAKE_INSTALL:$*" in
      ok:*|target:*" -t "*|skew:*" -t "*) ;;
      *) echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100 ;;
    esac
    skip=; for a in "$@"; do
      if [ -n "$skip" ]; then skip=; elif [ "$a" = -t ]; then skip=1
      else case "$a" in -*|install) ;; *) echo "$a" >> "$FAKE/installed" ;; esac; fi
    done
    for t in $FAKE_TOOLS; do case " $FAKE_MISSING " in *" $t "*) ;; *) ln -sf /bin/true "$FAKE/bin/$t" ;; esac; done
    mkdir -p "$FAKE/wine" && ln -sf /bin/true "$FAKE/wine/wine64"
    [[ " $* " != *" wine32:i386 "* ]] || ln -sf /bin/true "$FAKE/wine/wine" ;;
esac
""",
    "dpkg-query": r"""#!/bin/bash
grep -qx "${@: -1}" "$FAKE/installed" 2>/dev/null && echo "install ok installed"
""",
    "dpkg": r"""#!/bin/bash
echo "dpkg $*" >> "$FAKE/calls"
[ "$1" = --print-foreign-architectures ] && cat "$FAKE/arches" 2>/dev/null
exit 0
""",
    "sleep": "#!/bin/sh\nexit 0\n",
    # sudo resets the environment.
    "sudo": "#!/bin/sh\nexec env -u DEBIAN_FRONTEND \"$@\"\n",
    "id": "#!/bin/sh\necho \"$FAKE_UID\"\n",
}
# The kernel's answers to a 32-bit program: it ran, or a file it will not
# load (the same ENOEXEC an i386 program gets where 32-bit code is off).
PROBES = {"runs": b"#!/bin/sh\nexit 0\n", "refused": b"\x7fELF\x00not a program for this kernel\x00"}


def codename():
    with open("/etc/os-release") as f:
        return dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)["VERSION_CODENAME"].strip('"')


# What a bare Debian lacks for each scope's configure and build: every scope
# configures a tree with its tests (python3, make); only the tests' scope
# builds natively (g++) and drives terminals (tmux).
SCOPES = [
    ("x86_64", {"python3", "make", "cmake", "googletest", "libwine-dev"}, {"g++", "tmux", "g++-mingw-w64-i686-posix"}),
    ("i686", {"python3", "make", "g++-mingw-w64-i686-posix"}, {"g++", "tmux"}),
    ("all", {"python3", "make", "g++", "tmux", "unicode-data", "g++-mingw-w64-i686-posix"}, set()),
]


class InstallDeps(unittest.TestCase):
    def setUp(self):
        self.fake = tempfile.mkdtemp(prefix="install-deps-")
        self.bin = os.path.join(self.fake, "bin")
        os.mkdir(self.bin)
        for name, text in STAND_INS.items():
            path = os.path.join(self.bin, name)
            with open(path, "w") as f:
                f.write(text)
            os.chmod(path, stat.S_IRWXU)
        for kind, text in PROBES.items():
            with open(os.path.join(self.fake, f"probe-{kind}"), "wb") as f:
                f.write(text)
            os.chmod(os.path.join(self.fake, f"probe-{kind}"), stat.S_IRWXU)
        for util in ["bash", "grep", "mktemp", "rm", "cat", "head", "tail", "ln", "mkdir", "dirname", "env"]:
            os.symlink(subprocess.run(["sh", "-c", f"command -v {util}"], stdout=subprocess.PIPE, text=True,
                                      check=True).stdout.strip(), os.path.join(self.bin, util))

    def tearDown(self):
        subprocess.run(["rm", "-rf", self.fake], check=True)

    def run_script(self, scope, install="ok", update_status=0, missing="", host="runs", uid=0, script=SCRIPT):
        env = {"PATH": self.bin, "FAKE": self.fake, "FAKE_INSTALL": install, "FAKE_UPDATE_STATUS": str(update_status),
               "FAKE_TOOLS": " ".join(TOOLS), "FAKE_MISSING": missing, "FAKE_UID": str(uid),
               "OPCMON_WINE_DIR": os.path.join(self.fake, "wine"),
               "OPCMON_I386_PROBE": os.path.join(self.fake, f"probe-{host}")}
        done = subprocess.run([os.path.join(self.bin, "bash"), script, scope], env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True, timeout=60)
        log = os.path.join(self.fake, "calls")
        if not os.path.exists(log):
            return done, []
        with open(log) as f:
            return done, f.read().splitlines()

    def test_broken_mirror_falls_back_to_the_release_suite_and_a_second_run_fetches_nothing(self):
        done, calls = self.run_script("all", install="target", update_status=100)
        self.assertEqual(0, done.returncode, done.stderr)
        self.assertEqual(3, calls.count("apt-get update -qq"), calls)
        self.assertIn("dpkg --add-architecture i386", calls)
        installs = [c for c in calls if c.startswith("apt-get install")]
        self.assertEqual(2, len(installs), calls)
        self.assertNotIn(" -t ", installs[0])
        self.assertIn(f" -t {codename()} ", installs[1])
        self.assertIn("wine32:i386", installs[1])
        self.assertIn("going on with what was fetched", done.stderr)

        again, calls_after = self.run_script("all", install="target", update_status=100)
        self.assertEqual((0, "", calls), (again.returncode, again.stderr, calls_after))

    def test_each_scope_installs_what_a_bare_debian_lacks_for_its_tree(self):
        for scope, wanted, unwanted in SCOPES:
            with self.subTest(scope=scope):
                self.tearDown()
                self.setUp()
                done, calls = self.run_script(scope)
                self.assertEqual(0, done.returncode, done.stderr)
                [install] = self.installs(calls)
                packages = set(install.split()[2:])
                self.assertEqual(set(), wanted - packages, install)
                self.assertEqual(set(), unwanted & packages, install)

    def test_install_failing_in_both_ways_stops_with_one_line_naming_packages_and_apt(self):
        done, calls = self.run_script("all", install="never")
        self.assertEqual(1, done.returncode)
        last = done.stderr.strip().splitlines()[-1]
        self.assertRegex(last, r"^could not install .*wine32:i386.*: apt said: E: Unable to correct problems")
        self.assertEqual(2, len([c for c in calls if c.startswith("apt-get install")]))

    def test_a_tool_missing_after_install_is_named(self):
        done, _ = self.run_script("all", missing="i686-w64-mingw32-windres tmux")
        self.assertEqual(1, done.returncode)
        self.assertEqual("missing after install: i686-w64-mingw32-windres tmux", done.stderr.strip().splitlines()[-1])

    def installs(self, calls):
        return [c for c in calls if c.startswith("apt-get install")]

    def test_run_then_test_on_a_bad_mirror_day_takes_both_wine_halves_from_one_index(self):
        ran, calls = self.run_script("x86_64", install="skew", update_status=100)
        self.assertEqual(0, ran.returncode, ran.stderr)
        taken = self.installs(calls)[-1]
        self.assertRegex(taken, r" wine64 .*wine32:i386")
        self.assertNotRegex(taken, r"i686|tmux|unicode-data")
        self.assertIn("dpkg --add-architecture i386", calls)

        tested, calls = self.run_script("all", install="skew", update_status=100)
        self.assertEqual(0, tested.returncode, tested.stderr)
        self.assertNotIn("wine32:i386", self.installs(calls)[-1])
        self.assertIn("g++-mingw-w64-i686-posix", self.installs(calls)[-1])
        self.assertIn(" unicode-data", self.installs(calls)[-1])

    def test_a_host_that_runs_no_32_bit_code_gets_nothing_32_bit_but_the_cross_compiler(self):
        for scope in ["x86_64", "all"]:
            done, calls = self.run_script(scope, host="refused")
            self.assertEqual(0, done.returncode, done.stderr)
            self.assertNotIn("dpkg --add-architecture i386", calls)
            self.assertNotIn(":i386", " ".join(calls))
            self.assertIn("the kernel refuses i386 programs", done.stderr)
        self.assertIn("g++-mingw-w64-i686-posix", self.installs(calls)[-1])

    def test_through_sudo_apt_still_asks_no_questions(self):
        done, _ = self.run_script("all", uid=1000)
        self.assertEqual(0, done.returncode, done.stderr)
        with open(os.path.join(self.fake, "frontends")) as f:
            self.assertEqual({"noninteractive"}, set(f.read().split()))

    def test_the_32_bit_monitor_stops_at_once_where_the_kernel_refuses_it(self):
        run = os.path.join(os.path.dirname(SCRIPT), "run-monitor.sh")
        done, calls = self.run_script("i686", host="refused", script=run)
        self.assertEqual((1, []), (done.returncode, calls))
        self.assertRegex(done.stderr, r"^this host runs no 32-bit programs: .*, so the 32-bit monitor cannot run here; "
                                      r"scripts/run-monitor.sh runs the 64-bit one\n$")


class HostKind(unittest.TestCase):
    """host-runs-32bit.sh, and the wrapper that turns its "no" into a skipped
    test: only the kernel's refusal says no, so a 32-bit half that fails in
    any other way still fails its tests."""

    PROBE = os.path.join(os.path.dirname(SCRIPT), "host-runs-32bit.sh")
    WRAPPER = os.path.join(os.path.dirname(SCRIPT), "..", "tests", "wine", "needs-32bit.sh")

    def answer(self, probe_text, command):
        with tempfile.TemporaryDirectory() as folder:
            probe = os.path.join(folder, "probe")
            with open(probe, "wb") as f:
                f.write(probe_text)
            os.chmod(probe, stat.S_IRWXU)
            return subprocess.run(command(folder), env={**os.environ, "OPCMON_I386_PROBE": probe},
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=60)

    def test_only_the_kernels_refusal_says_no(self):
        for text, status in [(PROBES["runs"], 0), (PROBES["refused"], 1), (b"#!/bin/sh\nexit 3\n", 0),
                             (b"#!/bin/sh\nkill -9 $$\n", 0)]:
            done = self.answer(text, lambda folder: ["bash", self.PROBE, folder])
            self.assertEqual(status, done.returncode, text)
            self.assertEqual("this host runs no 32-bit programs: the kernel refuses i386 programs (Exec format error)\n"
                             if status else "", done.stdout)

    def test_a_test_needing_32_bit_code_is_skipped_with_the_reason_or_runs_with_its_own_outcome(self):
        command = lambda folder: ["bash", self.WRAPPER, folder, "sh", "-c", "echo ran; exit 5"]  # noqa: E731
        skipped = self.answer(PROBES["refused"], command)
        self.assertEqual((77, "skipped: this host runs no 32-bit programs: the kernel refuses i386 programs "
                              "(Exec format error)\n"), (skipped.returncode, skipped.stdout))
        ran = self.answer(b"#!/bin/sh\nexit 3\n", command)
        self.assertEqual((5, "ran\n"), (ran.returncode, ran.stdout))


if __name__ == "__main__":
    unittest.main()
