#!/usr/bin/env bash
# Installs what is missing, builds the monitor and the simulation server,
# registers the server in the build tree's private Wine prefix and runs
# monitor.exe on Wine in this terminal.
#   scripts/run-monitor.sh          the x86_64 build
#   scripts/run-monitor.sh i686     the i686 build
set -euo pipefail
cd "$(dirname "$0")/.."

arch=${1:-x86_64}
case "$arch" in
  x86_64 | i686) ;;
  *) echo "usage: scripts/run-monitor.sh [x86_64|i686]" >&2; exit 2 ;;
esac

scripts/install-deps.sh "$arch"
OPCMON_BUILD_TARGETS="monitor simserver" scripts/build.sh "mingw-$arch"

tree=$PWD/build/$arch
run=$tree/wine-run
sh tests/wine/prefix.sh setup "$run" "$tree/wineprefix" >/dev/null
dll="Z:$(printf '%s' "$tree/simserver/simserver.dll" | tr / '\\')"
"$run" regsvr32 /s "$dll"

exec "$run" --terminal "$tree/monitor/monitor.exe"
