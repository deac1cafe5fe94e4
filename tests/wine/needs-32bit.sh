#!/usr/bin/env bash
# Runs a test command that starts a 32-bit process. On a host whose kernel
# refuses 32-bit programs it reports the test skipped instead (status 77,
# which ctest counts as skipped), with the reason; on any other host the
# command runs and its outcome stands.
#   needs-32bit.sh PROBE_DIR COMMAND [ARGS...]
probe_dir=$1
shift
if ! refused=$(bash "$(dirname "$0")/../../scripts/host-runs-32bit.sh" "$probe_dir"); then
  echo "skipped: $refused"
  exit 77
fi
exec "$@"
