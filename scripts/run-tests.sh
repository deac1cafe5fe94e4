#!/usr/bin/env bash
# Installs what is missing, builds the monitor, the simulation server and
# the tests for x86_64 and i686, and runs every test under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh all
scripts/build.sh mingw-x86_64 mingw-i686

# One ctest run over both trees, so one summary closes the output.
printf 'subdirs("x86_64" "i686")\n' > build/CTestTestfile.cmake
ctest --test-dir build --output-on-failure -j2 "$@"
