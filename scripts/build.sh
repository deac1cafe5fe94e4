#!/usr/bin/env bash
# Configures and builds the given CMake presets quietly; the log is shown
# only when something fails.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p build
for preset in "$@"; do
  log="build/$preset.log"
  if ! { cmake --preset "$preset" && cmake --build --preset "$preset" -j "$(nproc)"; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "build of $preset failed (log: $log)" >&2
    exit 1
  fi
done
