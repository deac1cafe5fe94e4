#!/bin/sh
# Creates or ends the private Wine prefix of one build tree.
#   prefix.sh setup WINE_RUN PREFIX     create it once, then start a
#                                       persistent wineserver for the run
#   prefix.sh teardown WINE_RUN PREFIX  end the wineserver and its programs
set -u
action=$1 run=$2 prefix=$3
export WINEPREFIX="$prefix"
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=/usr/lib/wine/wineserver32

case "$action" in
setup)
  mkdir -p "$prefix" || exit 1
  if [ ! -f "$prefix/.opcmon-ready" ]; then
    "$run" wineboot -i >/dev/null 2>&1 || { echo "wineboot failed in $prefix" >&2; exit 1; }
    # A crash must end the program with a failure status instead of
    # starting winedbg, which exits 0.
    for key in 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
               'HKLM\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\AeDebug'; do
      "$run" reg add "$key" /v Debugger /t REG_SZ /d "no-crash-debugger.exe" /f >/dev/null 2>&1 || exit 1
      "$run" reg add "$key" /v Auto /t REG_SZ /d 1 /f >/dev/null 2>&1 || exit 1
    done
    # The first out-of-process activation can hang for minutes while the
    # new prefix's set-up is still finishing: wait for its server to end.
    "$server" -w
    touch "$prefix/.opcmon-ready"
  fi
  # Keep one server for the whole test run instead of one per program
  # (one already running is as good). Its output handles must not be the
  # caller's: a reader would wait for it.
  "$server" -p60 </dev/null >/dev/null 2>&1
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
