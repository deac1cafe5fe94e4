#!/bin/sh
# Builds the native rules' tests in BUILD_DIR with the host's compiler and
# runs them: tests/native/run.sh BUILD_DIR
set -eu
here=$(dirname "$0")
build=$1
log="$build.log"
mkdir -p "$build"
if ! { cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release && cmake --build "$build" -j2; } >"$log" 2>&1; then
  cat "$log"
  echo "build of the native rules' tests failed (log: $log)"
  exit 1
fi
exec "$build/rules_test"
