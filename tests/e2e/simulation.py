"""What the end-to-end suites share: the programs of the build tree (from
OPCMON_WINE_RUN, OPCMON_MONITOR and OPCMON_SIMSERVER, set by ctest), the
simulation server's registration in the tree's prefix, and the tags of its
"fixed" scenario."""

import os
import subprocess

WINE_RUN = os.environ["OPCMON_WINE_RUN"]
MONITOR = os.environ["OPCMON_MONITOR"]
SIMSERVER = os.environ["OPCMON_SIMSERVER"]

FIXED_NAMES = ["Int16.Fixed", "Int32.Fixed", "Temp_\u00b0C", "\u540d\u524d", "Text.Fixed", "Empty.Fixed",
               "Stamp.Bad"]


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(*args):
    subprocess.run([WINE_RUN, *args], check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)


def register_simserver():
    wine("regsvr32", "/s", windows_path(SIMSERVER))


def unregister_simserver():
    wine("regsvr32", "/s", "/u", windows_path(SIMSERVER))
