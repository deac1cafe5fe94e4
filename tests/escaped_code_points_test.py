"""The table of code points that names show as escapes: the committed one is
what the generator makes from the Unicode data files on this machine
(Debian's unicode-data, or OPCMON_UNICODE_DIR) when they are of its Unicode
version, else skipped; and the generator reads those files' shapes right."""

import os
import re
import subprocess
import sys
import tempfile
import unittest

CONSOLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "console")
GENERATOR = os.path.join(CONSOLE, "make_escaped_code_points.py")
TABLE = os.path.join(CONSOLE, "escaped_code_points.inc")
SKIPPED = []


def version(path):
    """The Unicode version the first line of a data file or the table names."""
    with open(path, encoding="utf-8") as f:
        found = re.search(r"\d+\.\d+\.\d+", f.readline())
    return found.group(0) if found else None


def generate(unicode_dir, folder):
    output = os.path.join(folder, "table.inc")
    done = subprocess.run([sys.executable, GENERATOR, unicode_dir, output], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, timeout=60)
    if done.returncode != 0:
        raise AssertionError(f"generator failed with {done.returncode}: {done.stderr}")
    with open(output, encoding="utf-8") as f:
        return f.read()


class EscapedCodePoints(unittest.TestCase):
    def test_the_committed_table_is_what_the_data_files_give(self):
        unicode_dir = os.environ.get("OPCMON_UNICODE_DIR", "/usr/share/unicode")
        self.assertTrue(os.path.exists(os.path.join(unicode_dir, "UnicodeData.txt")),
                        "no Unicode data files: scripts/install-deps.sh installs unicode-data")
        ours, host = version(TABLE), version(os.path.join(unicode_dir, "DerivedCoreProperties.txt"))
        self.assertIsNotNone(ours, "the committed table names no Unicode version in its first line")
        if ours != host:
            SKIPPED.append(f"the table is Unicode {ours}, the data in {unicode_dir} Unicode {host}: not compared")
            self.skipTest(SKIPPED[-1])
        with tempfile.TemporaryDirectory() as folder, open(TABLE, encoding="utf-8") as f:
            self.assertEqual(f.read(), generate(unicode_dir, folder),
                             "out of date: run console/make_escaped_code_points.py and commit the table")

    def test_ranges_of_the_data_files_are_read_whole_and_merged(self):
        unicode_data = "\n".join([
            "0041;LATIN CAPITAL LETTER A;Lu;0;L;;;;;N;;;;0061;",
            "00AD;SOFT HYPHEN;Cf;0;BN;;;;;N;;;;;",
            "2028;LINE SEPARATOR;Zl;0;WS;;;;;N;;;;;",
            "2029;PARAGRAPH SEPARATOR;Zp;0;B;;;;;N;;;;;",
            "202A;LEFT-TO-RIGHT EMBEDDING;Cf;0;LRE;;;;;N;;;;;",
            "4E00;<CJK Ideograph, First>;Lo;0;L;;;;;N;;;;;",
            "9FFF;<CJK Ideograph, Last>;Lo;0;L;;;;;N;;;;;",
            "A000;<Made-up Format, First>;Cf;0;BN;;;;;N;;;;;",
            "A0FF;<Made-up Format, Last>;Cf;0;BN;;;;;N;;;;;",
            "E0001;LANGUAGE TAG;Cf;0;BN;;;;;N;;;;;",
        ]) + "\n"
        properties = "\n".join([
            "# DerivedCoreProperties-99.1.0.txt",
            "# Default_Ignorable_Code_Point in a comment is not a line of it",
            "0041..005A    ; Alphabetic # L&  [26] LATIN CAPITAL LETTER A..LATIN CAPITAL LETTER Z",
            "",
            "034F          ; Default_Ignorable_Code_Point # Mn       COMBINING GRAPHEME JOINER",
            "2060..2064    ; Default_Ignorable_Code_Point # Cf   [5] WORD JOINER..INVISIBLE PLUS",
            "2065          ; Default_Ignorable_Code_Point # Cn       <reserved-2065>",
            "A100..A10F    ; Default_Ignorable_Code_Point # Cn  [16] made up",
            "E0000         ; Default_Ignorable_Code_Point # Cn       <reserved-E0000>",
            "E0002..E0FFF  ; Default_Ignorable_Code_Point # Cn [4094] <reserved-E0002>..<reserved-E0FFF>",
            "0100..0101    ; Grapheme_Base # L&   [2] made up",
        ]) + "\n"
        white_space = ("# PropList-99.1.0.txt\n001F..0021    ; White_Space # made up, the space between\n"
                       "2000..200A    ; White_Space # Zs  [11] EN QUAD..HAIR SPACE\n0020 ; Pattern_White_Space\n")
        with tempfile.TemporaryDirectory() as folder:
            for name, text in [("UnicodeData.txt", unicode_data), ("DerivedCoreProperties.txt", properties),
                               ("PropList.txt", white_space)]:
                with open(os.path.join(folder, name), "w", encoding="utf-8") as f:
                    f.write(text)
            table = generate(folder, folder).splitlines()
        self.assertIn("Unicode 99.1.0", table[0])
        self.assertEqual(["{0x001F, 0x001F},", "{0x0021, 0x0021},", "{0x00AD, 0x00AD},", "{0x034F, 0x034F},",
                          "{0x2000, 0x200A},", "{0x2028, 0x202A},", "{0x2060, 0x2065},", "{0xA000, 0xA10F},",
                          "{0xE0000, 0xE0FFF},"],
                         [line for line in table if not line.startswith("//")])


if __name__ == "__main__":
    passed = unittest.main(exit=False).result.wasSuccessful()
    for reason in SKIPPED:
        print(f"SKIPPED: {reason}")
    sys.exit(77 if passed and SKIPPED else 0 if passed else 1)
