#!/usr/bin/env bash
# Configures and builds the given CMake presets quietly; the log is shown
# only when something fails. OPCMON_BUILD_TARGETS limits the build to the
# named targets.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p build
for preset in "$@"; do
  log="build/$preset.log"
  if ! { cmake --preset "$preset" && cmake --build --preset "$preset" -j "$(nproc)" ${OPCMON_BUILD_TARGETS:+--target $OPCMON_BUILD_TARGETS}; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "build of $preset failed (log: $log)" >&2
    exit 1
  fi
done
