"""The zip package of one build tree: cpack makes it, and it holds
monitor.exe and opcdiag.exe, the simulation server (DLL and EXE) and the proxy/stub of the
tree's architecture and the texts on trying them and on opcdiag. Run by ctest with OPCMON_BUILD_DIR, OPCMON_PE_MACHINE and OPCMON_CPACK set."""

import glob
import os
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
                names = {os.path.basename(n): n for n in z.namelist() if not n.endswith("/")}
                programs = ("monitor.exe", "opcdiag.exe", "simserver.dll", "simserver.exe", "opcmon-ps.dll")
                texts = ("try-the-simulation-server.txt", "why-the-monitor-shows-what-it-shows.txt")
                self.assertEqual({*programs, *texts}, set(names))
                machine = int(os.environ["OPCMON_PE_MACHINE"], 16)
                for program in programs:
                    got = pe_machine(z.read(names[program]))
                    self.assertEqual(machine, got, f"{program}: got machine 0x{got:x}, expected 0x{machine:x}")
                text = z.read(names["try-the-simulation-server.txt"])
                for command in (b"regsvr32 simserver.dll", b"regsvr32 opcmon-ps.dll", b"simserver.exe /RegServer"):
                    self.assertIn(command, text)
                text = z.read(names["why-the-monitor-shows-what-it-shows.txt"])
                for command in (b"opcdiag.exe --list", b"opcdiag.exe <ProgID>"):
                    self.assertIn(command, text)


if __name__ == "__main__":
    unittest.main(verbosity=2)
