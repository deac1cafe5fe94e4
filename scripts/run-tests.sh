#!/usr/bin/env bash
# Installs what is missing, builds the monitor, the simulation server and
# the tests for x86_64 and i686, and runs every test under Wine. On a host
# that runs no 32-bit programs the i686 tree is still built, and the tests
# that need a 32-bit process are reported skipped, with the reason.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh all
scripts/build.sh mingw-x86_64 mingw-i686

# One ctest run over both trees, so one summary closes the output.
printf 'subdirs("x86_64" "i686")\n' > build/CTestTestfile.cmake
status=0
ctest --test-dir build --output-on-failure -j2 --output-log build/ctest.log "$@" || status=$?

skipped=$(grep -c '(Skipped)$' build/ctest.log || true)
if [ "$skipped" -gt 0 ]; then
  if refused=$(scripts/host-runs-32bit.sh); then
    echo "$skipped tests skipped; the output of each says why (ctest --test-dir build -V -R NAME)"
  else
    echo "$skipped tests skipped, those that need a 32-bit process: $refused."
    echo "The i686 tree was built (it compiles and links); its tests and the crossed ones need a host that runs 32-bit programs."
  fi
fi
exit "$status"
