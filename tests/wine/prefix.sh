#!/bin/sh
# Creates or ends the private Wine prefix of one build tree.
#   prefix.sh setup WINE_RUN PREFIX [SECONDS]  create it once, then start
#                                       a wineserver that stays SECONDS (60)
#                                       after its last program
#   prefix.sh teardown WINE_RUN PREFIX  end the wineserver and its programs
# The output of every program it runs goes to standard output, so a test
# log shows why a step failed.
set -u
action=$1 run=$2 prefix=$3 seconds=${4:-60}
export WINEPREFIX="$prefix"
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=/usr/lib/wine/wineserver32

. "$(dirname "$0")/reg_add.sh"

case "$action" in
setup)
  mkdir -p "$prefix" || exit 1
  if [ ! -f "$prefix/.opcmon-ready" ]; then
    "$run" wineboot -i 2>&1 || { echo "wineboot failed in $prefix" >&2; exit 1; }
    # A crash must end the program with a failure status instead of
    # starting winedbg, which exits 0.
    for key in 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
               'HKLM\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\AeDebug'; do
      reg_add "$key" /v Debugger /t REG_SZ /d "no-crash-debugger.exe" || exit 1
      reg_add "$key" /v Auto /t REG_SZ /d 1 || exit 1
    done
    # The first out-of-process activation can hang for minutes while the
    # new prefix's set-up is still finishing: wait for its server to end.
    "$server" -w
    touch "$prefix/.opcmon-ready"
  fi
  # Keep one server for the whole test run instead of one per program
  # (one already running is as good). A server past its time flushes the
  # registry and exits; a program that starts then connects to it and is
  # ended before it runs, and every later program brings its own server,
  # which ends with it (Debian's wrapper passes -p0): each start races the
  # last one's exit. So the tests ask for longer than any pause in a run.
  # Its output handles must not be the caller's: a reader would wait for it.
  "$server" -p"$seconds" </dev/null >/dev/null 2>&1
  echo "wine prefix ready: $prefix"
  ;;
teardown)
  "$server" -k 2>/dev/null
  exit 0
  ;;
*)
  echo "usage: prefix.sh setup|teardown WINE_RUN PREFIX" >&2
  exit 2
  ;;
esac
