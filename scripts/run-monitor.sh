#!/usr/bin/env bash
# Installs what is missing, builds the monitor and the simulation server,
# registers the server in the build tree's Wine prefix for this command
# (build/<arch>/monitor-prefix, never the tests' one) and runs monitor.exe
# on Wine in this terminal.
#   scripts/run-monitor.sh [x86_64|i686]                   simserver.dll, in the monitor's process
#   scripts/run-monitor.sh --out-of-process [x86_64|i686]  simserver.exe, a process of its own, through
#                                                          the proxy/stub opcmon-ps.dll
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { echo "usage: scripts/run-monitor.sh [--out-of-process] [x86_64|i686]" >&2; exit 2; }
arch=x86_64
out_of_process=
for argument in "$@"; do
  case "$argument" in
    x86_64 | i686) arch=$argument ;;
    --out-of-process) out_of_process=1 ;;
    *) usage ;;
  esac
done

if [ "$arch" = i686 ] && ! refused=$(scripts/host-runs-32bit.sh); then
  echo "$refused, so the 32-bit monitor cannot run here; scripts/run-monitor.sh runs the 64-bit one" >&2
  exit 1
fi
scripts/install-deps.sh "$arch"
OPCMON_BUILD_TARGETS="monitor simserver simserver_exe opcproxy" scripts/build.sh "mingw-$arch"

tree=$PWD/build/$arch
run=$tree/monitor-run
sh tests/wine/prefix.sh setup "$run" "$tree/monitor-prefix" >/dev/null
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
dll=$(windows_path "$tree/simserver/simserver.dll")
# COM prefers a DLL registered for the class over an EXE: only one of the
# two stays registered.
if [ -n "$out_of_process" ]; then
  "$run" regsvr32 /s /u "$dll"
  "$run" regsvr32 /s "$(windows_path "$tree/opcproxy/opcmon-ps.dll")"
  "$run" "$tree/simserver/simserver.exe" /RegServer
else
  "$run" "$tree/simserver/simserver.exe" /UnregServer
  "$run" regsvr32 /s "$dll"
fi

exec "$run" --terminal "$tree/monitor/monitor.exe"
