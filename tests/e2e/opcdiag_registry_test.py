"""End-to-end: what the real opcdiag.exe tells of the registration, one row
per situation staged in the tree's prefix with reg.exe (and removed again
after the row): the lines it must print and its exit status. The
situations of the other architecture use the other tree's simserver.dll,
whose PE header opcdiag reads without loading it; without that tree those
rows are skipped."""

import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from simulation import (OPCDIAG, WINE_PREFIX, WINE_RUN, register_simserver, unregister_simserver, wine,  # noqa: E402
                        windows_path)

SERVER_EXE = os.environ["OPCMON_DIAG_SERVER_EXE"]
OTHER_DLL = os.environ["OPCMON_DIAG_OTHER_DLL"]
OTHER_EXE = os.path.join(os.path.dirname(OTHER_DLL), "simserver.exe")
PROXY = os.environ["OPCMON_DIAG_PROXY"]
# This tree's architecture and the other one's.
OWN, OTHER = ("32", "64") if os.environ["OPCMON_DIAG_ARCH"] == "i686" else ("64", "32")
ZIP = {"32": "win32", "64": "win64"}[OTHER]

CLASS = "{5D1C3A0E-7B7A-4C55-9E0B-2F4D6C8A9B10}"
# The simulation server's own class: a server EXE started for it registers
# it, so that an activation of the final program ends at once.
SIM_CLASS = "{CE51EC76-81FD-4D98-8720-F5E68D5BFEE8}"
# What the registry hands over is shown by the monitor's rule.
DESCRIPTION, SHOWN_DESCRIPTION = "Staged \x1b[31m by the table", r"Staged \\x1B\[31m by the table"
PROGID = "OPC.DiagRow.1"
CATEGORY_20 = "{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}"
INTERFACES = "IOPCServer, IOPCBrowseServerAddressSpace, IOPCItemMgt and IOPCSyncIO"


def reg_add(key, value=None, view=OWN, kind="REG_SZ"):
    wine("reg", "add", "HKCR\\" + key, *(["/ve", "/t", kind, "/d", value] if value is not None else []), "/f",
         f"/reg:{view}")


def remove_staged():
    for view in ("32", "64"):
        for key in (PROGID, "CLSID\\" + CLASS):
            wine("reg", "delete", "HKCR\\" + key, "/f", f"/reg:{view}", check=False)


def stage_class(server=None, path=None, view=OWN, kind="REG_SZ"):
    reg_add(PROGID + "\\CLSID", CLASS, view)
    reg_add("CLSID\\" + CLASS, DESCRIPTION, view)
    reg_add(f"CLSID\\{CLASS}\\Implemented Categories\\{CATEGORY_20}", None, view)
    if server:
        reg_add(f"CLSID\\{CLASS}\\{server}", path, view, kind)


def register_exe():
    wine(SERVER_EXE, "/RegServer")


def unregister_exe():
    wine(SERVER_EXE, "/UnregServer")


# The other view's program folder, where its setup would install the DLL,
# named as its registration names it: %ProgramFiles% means that view's.
OTHER_FOLDER = {"32": "C:\\Program Files (x86)", "64": "C:\\Program Files"}[OTHER]
COPIED_DLL = os.path.join(WINE_PREFIX, "drive_c", OTHER_FOLDER[3:], "opcdiag-row", "simserver.dll")


def stage_other_dll():
    os.makedirs(os.path.dirname(COPIED_DLL), exist_ok=True)
    shutil.copyfile(OTHER_DLL, COPIED_DLL)
    stage_class("InprocServer32", "%ProgramFiles%\\opcdiag-row\\simserver.dll", OTHER, "REG_EXPAND_SZ")


def remove_other_dll():
    shutil.rmtree(os.path.dirname(COPIED_DLL))
    remove_staged()


def stage_other_exe_with_own_proxy():
    # Unquoted, with an argument after the path, as some setups write it.
    reg_add(f"CLSID\\{SIM_CLASS}\\LocalServer32", windows_path(OTHER_EXE) + " -Embedding", OTHER)
    wine("regsvr32", "/s", windows_path(PROXY))


def remove_other_exe_and_proxy():
    wine("regsvr32", "/s", "/u", windows_path(PROXY))
    wine("reg", "delete", f"HKCR\\CLSID\\{SIM_CLASS}", "/f", f"/reg:{OTHER}", check=False)


def verdict(name, cause):
    subject = "the monitor" if name == "OPC.Brenvick.1" else "a monitor built for " + re.escape(name)
    return f'^verdict: {subject} prints "' + re.escape(name) + ' not instantiated": ' + cause


def file_row(name, key, value, fact, view=OWN):
    """A class whose server key names `value`: the line said of its file."""
    return (name, lambda: stage_class(key, value, view), [PROGID],
            [rf"^FAIL  server file +{key} \({view}-bit view\) names {fact}; next: ", verdict(PROGID, ".*" + fact)], 1,
            remove_staged)


# name, set-up, opcdiag's arguments, patterns every one of which must match
# a line, exit status, clean-up.
ROWS = [
    ("nothing registered under the ProgID", register_simserver, [PROGID],
     [r"^FAIL  ProgID +nothing is registered under OPC\.DiagRow\.1 in either view",
      verdict(PROGID, r"nothing is registered under that ProgID in either registry view "
                      r"\(the OPC DA servers registered: OPC\.Brenvick\.1\)$")],
     1, unregister_simserver),
    ("a class without a server key", stage_class, [PROGID],
     # Wine keeps a ProgID written by a 32-bit process in both views.
     [rf"^ok    ProgID +OPC\.DiagRow\.1 names the class {re.escape(CLASS)} \((.* and )?{OWN}-bit view\)$",
      rf'^ok    class +{re.escape(CLASS)} "{SHOWN_DESCRIPTION}" \({OWN}-bit view\)$',
      rf"^FAIL  class +{re.escape(CLASS)} has no server key",
      verdict(PROGID, r"its class has no server key \(InprocServer32 or LocalServer32\) in either registry view$")],
     1, remove_staged),
    ("a server file that is gone",
     lambda: stage_class("InprocServer32", "%SystemDrive%\\gone\\server.dll", kind="REG_EXPAND_SZ"), [PROGID],
     [rf"^FAIL  server file +InprocServer32 \({OWN}-bit view\) names C:\\gone\\server\.dll, which is not there; next: ",
      verdict(PROGID, rf"its server key InprocServer32 \({OWN}-bit view\) names C:\\gone\\server\.dll, which is "
                      r"not there$")],
     1, remove_staged),
    (f"an in-process server of {OTHER} bits only, by its PE header",
     stage_other_dll, [PROGID],
     [rf"^ok    server file +InprocServer32 \({OTHER}-bit view\): "
      rf"{re.escape(OTHER_FOLDER)}\\opcdiag-row\\simserver\.dll, {OTHER}-bit$",
      verdict(PROGID, rf"the only server is in process and {OTHER}-bit \(.*simserver\.dll\): "
                      rf"take the {OTHER}-bit monitor \(the {ZIP} zip\)$")],
     1, remove_other_dll),
    ("a server EXE without the proxy/stub", register_exe, [],
     # The path as it can be typed back.
     [rf"^ok    server file +LocalServer32 \({OWN}-bit view\): {re.escape(windows_path(SERVER_EXE))}, {OWN}-bit$",
      rf"^FAIL  proxy/stub +{OWN}-bit view \(the monitor's\): no ProxyStubClsid32 for {INTERFACES}; next: ",
      verdict("OPC.Brenvick.1",
              rf"no proxy/stub for {INTERFACES} in the {OWN}-bit registry view \(the monitor's side\)$")],
     1, unregister_exe),
    (f"a {OTHER}-bit server EXE, by its PE header, with the proxy/stub in the monitor's view only",
     stage_other_exe_with_own_proxy, [SIM_CLASS],
     [rf"^ok    server file +LocalServer32 \({OTHER}-bit view\): .*simserver\.exe, {OTHER}-bit$",
      rf"^ok    proxy/stub +{OWN}-bit view \(the monitor's\): the four interfaces through .*opcmon-ps\.dll$",
      rf"^FAIL  proxy/stub +{OTHER}-bit view \(the server's\): no ProxyStubClsid32 for {INTERFACES}; next: ",
      verdict(SIM_CLASS, rf"no proxy/stub for {INTERFACES} in the {OTHER}-bit registry view \(the server's side\)$")],
     1, remove_other_exe_and_proxy),
    ("--list names the simulation server's DLL and EXE", lambda: (register_simserver(), register_exe()), ["--list"],
     [rf'^info  server +OPC\.Brenvick\.1 {re.escape(SIM_CLASS)} "Brenvick OPC DA Simulation Server" \(DA 2\.0\): '
      rf"DLL {OWN}-bit .*simserver\.dll \({OWN}-bit view\); EXE {OWN}-bit .*simserver\.exe \({OWN}-bit view\)$",
      r"^info  servers +1 OPC DA server\(s\) registered in "],
     0, lambda: (unregister_exe(), unregister_simserver())),
    # What a key names is judged by its form before any file call.
    file_row("an EXE as the in-process server", "InprocServer32", windows_path(SERVER_EXE),
             re.escape(windows_path(SERVER_EXE)) + r", a program \(EXE\): COM loads only a DLL in process"),
    file_row("a pipe as the in-process server", "InprocServer32", r"\\.\pipe\opcdiag-row",
             r"\\\\\.\\pipe\\opcdiag-row, a named pipe, which opcdiag does not open"),
    file_row("a network path as the in-process server", "InprocServer32", r"\\host\share\server.dll",
             r"\\\\host\\share\\server\.dll, a network path, which opcdiag does not open"),
    file_row("a device as the local server", "LocalServer32", r"C:\windows\nul.exe -Embedding",
             r"C:\\windows\\nul\.exe, a device name or a file's stream, which opcdiag does not open"),
    file_row("an unquoted command line of many words", "LocalServer32", "C:\\gone " + "x " * 5000,
             r"C:\\gone( x){7} \.\.\., which is not there \(unquoted: only its first 8 words were tried; quote the "
             r"program's path\)"),
]


def run_opcdiag(args):
    with tempfile.TemporaryFile() as out:
        status = subprocess.run([WINE_RUN, OPCDIAG, *args], stdin=subprocess.DEVNULL, stdout=out,
                                stderr=subprocess.DEVNULL, timeout=60).returncode
        out.seek(0)
        return status, out.read().decode("utf-8").replace("\r\n", "\n")


def run_row(name, setup, args, patterns, status, cleanup):
    setup()
    try:
        got_status, text = run_opcdiag(args)
    finally:
        cleanup()
    lines = text.splitlines()
    problems = [f"no line matches {p!r}" for p in patterns if not any(re.search(p, line) for line in lines)]
    if got_status != status:
        problems.append(f"got exit status {got_status}, expected {status}")
    return problems, text


def registry_export():
    """The prefix's machine and user software keys as reg.exe exports them
    (both views: the 32-bit one lives in HKLM\\Software\\Wow6432Node)."""
    exported = []
    for hive in ("HKLM", "HKCU"):
        target = os.path.join(WINE_PREFIX, "drive_c", f"opcdiag-{hive}.reg")
        wine("reg", "export", hive + "\\Software", windows_path(target), "/y")
        with open(target, "rb") as f:
            exported.append(f.read())
        os.remove(target)
    return exported


def export_unchanged():
    register_simserver()
    try:
        before = registry_export()
        for args in ([], ["--list"], [PROGID]):
            run_opcdiag(args)
        after = registry_export()
    finally:
        unregister_simserver()
    return ([] if before == after else ["the registry export differs after opcdiag ran"]), ""


def alias_reaches_the_monitor():
    """A server registered under a ProgID of its own only: opcdiag names it
    with the monitor it would show, prints the alias line, and that line,
    run as it stands, makes the shipped monitor's own check show it."""
    register_simserver()
    wine("reg", "delete", "HKCR\\OPC.Brenvick.1", "/f")
    reg_add(PROGID + "\\CLSID", SIM_CLASS)
    try:
        status, text = run_opcdiag([PROGID])
        problems = [] if status == 0 else [f"got exit status {status}, expected 0"]
        if not re.search(r"^verdict: a monitor built for OPC\.DiagRow\.1 polls 28 records", text, re.M):
            problems.append("no verdict for a monitor built for OPC.DiagRow.1")
        alias = [line.strip() for line in text.splitlines() if line.startswith("  reg add ")]
        if alias != [f'reg add "HKLM\\Software\\Classes\\OPC.Brenvick.1\\CLSID" /ve /d "{SIM_CLASS}" /f'
                     + (" /reg:32" if OWN == "32" else "")]:
            return problems + [f"got alias lines {alias}"], text
        # Typed into cmd as it stands: a batch file of that one line.
        batch = os.path.join(WINE_PREFIX, "drive_c", "opcdiag-alias.cmd")
        with open(batch, "w", newline="\r\n") as f:
            f.write(alias[0] + "\n")
        wine("cmd", "/c", "C:\\opcdiag-alias.cmd")
        os.remove(batch)
        status, after = run_opcdiag([])
        if status != 0 or "verdict: the monitor polls 28 records" not in after:
            problems.append(f"after the alias line the monitor's own check gave status {status}")
        return problems, text + after
    finally:
        remove_staged()
        unregister_simserver()


def host_refuses_32bit():
    """The kernel's reason when this host runs no 32-bit programs, else None."""
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "host-runs-32bit.sh")
    probe = subprocess.run(["bash", script, os.path.dirname(WINE_RUN)], stdin=subprocess.DEVNULL,
                           stdout=subprocess.PIPE, text=True, timeout=60)
    return probe.stdout.strip() if probe.returncode == 1 else None


def main():
    remove_staged()
    # The activation of a 32-bit server EXE starts a 32-bit process.
    refused = host_refuses_32bit() if OTHER == "32" else None
    failed = passed = skipped = 0
    # The export first: a key written once by an earlier run would be in
    # both exports.
    checks = [("the registry export is the same before and after", export_unchanged)]
    checks += [(row[0], lambda row=row: run_row(*row)) for row in ROWS]
    checks.append(("the alias line opcdiag prints gets the shipped monitor to another ProgID's server",
                   alias_reaches_the_monitor))
    for name, check in checks:
        if "PE header" in name and not (os.path.exists(OTHER_DLL) and os.path.exists(OTHER_EXE)):
            print(f"SKIP {name}: the other tree's simserver is not built")
            skipped += 1
            continue
        if "server EXE, by its PE header" in name and refused:
            print(f"SKIP {name}: it starts a 32-bit process: {refused}")
            skipped += 1
            continue
        problems, text = check()
        if problems:
            failed += 1
            print(f"FAIL {name}: " + "; ".join(problems) + "\n" + text)
        else:
            passed += 1
            print(f"ok   {name}")
    print(f"{passed} passed, {failed} failed, {skipped} skipped")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
