"""The zip package of one build tree: cpack makes it, and it holds, in one
folder, monitor.exe and opcdiag.exe, the simulation server (DLL and EXE)
and the proxy/stub of the tree's architecture, and the texts a Windows user
reads: every file their lines run or register is in the zip, the folder
they name is the zip's own, and their lines end as Notepad expects. Run by
ctest with OPCMON_BUILD_DIR, OPCMON_PE_MACHINE and OPCMON_CPACK set."""

import glob
import os
import re
import struct
import subprocess
import tempfile
import unittest
import zipfile


def pe_machine(data):
    offset = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[offset:offset + 4] == b"PE\0\0", "not a PE image"
    return struct.unpack_from("<H", data, offset + 4)[0]


class Package(unittest.TestCase):
    def test_zip_holds_the_programs_and_the_text(self):
        with tempfile.TemporaryDirectory() as out:
            subprocess.run([os.environ.get("OPCMON_CPACK", "cpack"), "-G", "ZIP", "-B", out, "--config",
                            os.path.join(os.environ["OPCMON_BUILD_DIR"], "CPackConfig.cmake")],
                           check=True, stdout=subprocess.DEVNULL, timeout=120)
            [package] = glob.glob(os.path.join(out, "opc-console-monitor-1.1.1.10-win*.zip"))
            with zipfile.ZipFile(package) as z:
                folder = os.path.basename(package)[:-len(".zip")]
                files = [n for n in z.namelist() if not n.endswith("/")]
                self.assertEqual({folder}, {n.split("/")[0] for n in files})
                names = {os.path.basename(n): n for n in files}
                programs = ("monitor.exe", "opcdiag.exe", "simserver.dll", "simserver.exe", "opcmon-ps.dll")
                texts = ("read-me-first.txt", "try-the-simulation-server.txt",
                         "why-the-monitor-shows-what-it-shows.txt")
                self.assertEqual({*programs, *texts}, set(names))
                machine = int(os.environ["OPCMON_PE_MACHINE"], 16)
                for program in programs:
                    got = pe_machine(z.read(names[program]))
                    self.assertEqual(machine, got, f"{program}: got machine 0x{got:x}, expected 0x{machine:x}")
                for text in texts:
                    content = z.read(names[text]).decode("ascii")
                    self.assertNotIn("@", content, f"{text}: a placeholder left")
                    self.assertEqual(content.count("\n"), content.count("\r\n"), f"{text}: lines not ended CR LF")
                    for named in re.findall(r'%CD%\\([^"\s]+)', content):
                        self.assertIn(named, programs, f"{text} names %CD%\\{named}, which the zip does not hold")
                    for quoted in re.findall(r'cd /d "C:\\Tools\\([^"]+)"', content):
                        self.assertEqual(folder, quoted, f"{text}: cd /d to another folder than the zip's")
                self.assertIn(folder, z.read(names["read-me-first.txt"]).decode("ascii"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
