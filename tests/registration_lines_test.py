"""No text tells anyone to register or unregister a file by its bare name.
regsvr32 looks for a bare name in its own folder (System32) before the
current one, where another vendor's file of that name may be: the README,
docs/, the zip's texts, the scripts and opcdiag's hints (the string literals
of diagnose/) name every registration target with a path."""

import glob
import os
import re
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
TEXTS = ["README.md", "docs/*.md", "packaging/*.txt", "scripts/*.sh"]
SOURCES = ["diagnose/*.cpp"]

# regsvr32, its switches, then its operand (a quoted one whole); a program
# that registers itself (X /RegServer); and the prose that asks for a
# registration ("register X", "unregister X").
COMMAND = re.compile(r'\bregsvr32((?:\s+[/-][A-Za-z:]+)*)\s+("[^"]*"?|[^\s`|,;)]+)', re.I)
SELF = re.compile(r'("[^"]*"|[^\s`"]+)\s+[/-](?:Un)?RegServer\b', re.I)
PROSE = re.compile(r'\b(?:un)?register\s+[`"]?([^\s`"]+)', re.I)
FILE_NAME = re.compile(r"\.(?:dll|ocx|exe|ax)\b", re.I)
# A C++ comment, character literal or string literal, in the order they
# come, so that quotes inside comments are never taken for strings.
CXX_TOKEN = re.compile(r'//[^\n]*|/\*.*?\*/|\'(?:[^\'\\\n]|\\.)*\'|L?"((?:[^"\\\n]|\\.)*)"', re.S)


def bare_targets(text):
    operands = [m.group(2) for m in COMMAND.finditer(text)] + [m.group(1) for m in SELF.finditer(text)] + \
        [m.group(1) for m in PROSE.finditer(text)]
    return [o for o in (operand.strip('"`') for operand in operands)
            if FILE_NAME.search(o) and not re.search(r"[\\/:]", o)]


def string_literals(source):
    for m in CXX_TOKEN.finditer(source):
        if m.group(1) is not None:
            yield re.sub(r"\\(.)", r"\1", m.group(1))


def pieces():
    """(where, text) for every text and every string literal of opcdiag."""
    for pattern in TEXTS + SOURCES:
        for path in sorted(glob.glob(os.path.join(ROOT, pattern))):
            with open(path, encoding="utf-8") as f:
                text = f.read()
            name = os.path.relpath(path, ROOT)
            if path.endswith(".cpp"):
                yield from ((name, literal) for literal in string_literals(text))
            else:
                yield name, text


class RegistrationLines(unittest.TestCase):
    def test_every_registration_target_has_a_path(self):
        found = [(where, target) for where, text in pieces() for target in bare_targets(text)]
        self.assertEqual([], found, "registration targets named without a path")

    def test_the_rule_tells_a_path_from_a_bare_name(self):
        rows = [
            ('regsvr32 "%CD%\\opcmon-ps.dll"', []),
            ('regsvr32 /u "%CD%\\simserver.dll"', []),
            ('"$run" regsvr32 /s /u "$dll"', []),
            ("`regsvr32` records the full path", []),
            ("regsvr32 /u opcproxy.dll", ["opcproxy.dll"]),
            ("`regsvr32\nsimserver.dll`", ["simserver.dll"]),
            ("register opcproxy.dll of the win64 zip with regsvr32", ["opcproxy.dll"]),
            ("unregister `simserver.dll` first", ["simserver.dll"]),
            ("register your server", []),
            ('start "" /wait "%CD%\\simserver.exe" /RegServer', []),
            ("`simserver.exe /UnregServer`", ["simserver.exe"]),
        ]
        for text, bare in rows:
            self.assertEqual(bare, bare_targets(text), text)
        self.assertEqual(['regsvr32 "<x>\\a.dll"', "b"],
                         list(string_literals('// "c"\nf(L"regsvr32 \\"<x>\\\\a.dll\\"", \'"\', "b");')))


if __name__ == "__main__":
    unittest.main()
