"""scripts/install-deps.sh against stand-in apt-get, dpkg and dpkg-query
first (and alone) on PATH, failing the way a package mirror in the middle
of a sync does. No network, nothing installed for real."""

import os
import stat
import subprocess
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "install-deps.sh")
TOOLS = ["x86_64-w64-mingw32-g++-posix", "x86_64-w64-mingw32-windres", "x86_64-w64-mingw32-widl", "cmake",
         "i686-w64-mingw32-g++-posix", "i686-w64-mingw32-windres", "tmux", "python3"]

# apt-get: logs every call; `update` exits FAKE_UPDATE_STATUS; `install`
# fails like a broken mirror unless its mode allows it, and on success marks
# the packages installed and puts the tools in place (less FAKE_MISSING).
STAND_INS = {
    "apt-get": r"""#!/bin/bash
echo "apt-get $*" >> "$FAKE/calls"
case "$1" in
  update) echo "E: Failed to fetch binary-i386/Packages.xz  File has unexpected size" >&2
          exit "${FAKE_UPDATE_STATUS:-0}" ;;
  install)
    case "$FAKE_INSTALL:$*" in
      ok:*|target:*" -t "*) ;;
      *) echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100 ;;
    esac
    skip=; for a in "$@"; do
      if [ -n "$skip" ]; then skip=; elif [ "$a" = -t ]; then skip=1
      else case "$a" in -*|install) ;; *) echo "$a" >> "$FAKE/installed" ;; esac; fi
    done
    for t in $FAKE_TOOLS; do case " $FAKE_MISSING " in *" $t "*) ;; *) ln -sf /bin/true "$FAKE/bin/$t" ;; esac; done
    mkdir -p "$FAKE/wine" && ln -sf /bin/true "$FAKE/wine/wine64" && ln -sf /bin/true "$FAKE/wine/wine" ;;
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
}


def codename():
    with open("/etc/os-release") as f:
        return dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)["VERSION_CODENAME"].strip('"')


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
        for util in ["bash", "grep", "id", "mktemp", "rm", "cat", "head", "tail", "ln", "mkdir"]:
            os.symlink(subprocess.run(["sh", "-c", f"command -v {util}"], stdout=subprocess.PIPE, text=True,
                                      check=True).stdout.strip(), os.path.join(self.bin, util))

    def tearDown(self):
        subprocess.run(["rm", "-rf", self.fake], check=True)

    def run_script(self, scope, install="ok", update_status=0, missing=""):
        env = {"PATH": self.bin, "FAKE": self.fake, "FAKE_INSTALL": install, "FAKE_UPDATE_STATUS": str(update_status),
               "FAKE_TOOLS": " ".join(TOOLS), "FAKE_MISSING": missing,
               "OPCMON_WINE_DIR": os.path.join(self.fake, "wine")}
        done = subprocess.run([os.path.join(self.bin, "bash"), SCRIPT, scope], env=env, stdout=subprocess.PIPE,
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

    def test_the_64_bit_run_needs_no_32_bit_half(self):
        done, calls = self.run_script("x86_64")
        self.assertEqual(0, done.returncode, done.stderr)
        self.assertNotIn("dpkg --add-architecture i386", calls)
        [install] = [c for c in calls if c.startswith("apt-get install")]
        self.assertNotRegex(install, r"i386|i686|tmux")
        self.assertIn("wine64", install)


if __name__ == "__main__":
    unittest.main()
