#!/usr/bin/env bash
# Installs what the cross build and the Wine runs need on Debian, quietly and
# only when something is missing; then checks that the tools are really there.
#   install-deps.sh x86_64   the 64-bit monitor on Wine (the run command)
#   install-deps.sh i686     the 32-bit monitor on Wine
#   install-deps.sh all      everything the tests need (the default)
# Every scope configures a tree with its tests, which needs python3 (any on
# PATH will do; a Debian one only when there is none) and make for CMake's
# Makefiles; the tests also build natively with the host's g++.
# Wine's 32-bit half comes with its 64-bit half in one apt call, whatever the
# scope, so that both come from one index even on a day when a package
# mirror serves one architecture's index half synced; if the install fails
# all the same, it falls back to the release's own suite. On a host that
# runs no 32-bit programs (host-runs-32bit.sh asks the kernel first) nothing
# 32-bit is installed: no i386 architecture, no Wine for 32-bit programs.
set -uo pipefail

scope=${1:-all}
wine_dir=${OPCMON_WINE_DIR:-/usr/lib/wine}
case "$scope" in
  x86_64 | i686 | all) ;;
  *) echo "usage: install-deps.sh [x86_64|i686|all]" >&2; exit 2 ;;
esac
no_32bit=$(bash "$(dirname "$0")/host-runs-32bit.sh")

pkgs=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools libwine-dev wine wine64 cmake make googletest)
tools=(x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-windres x86_64-w64-mingw32-widl "$wine_dir/wine64" cmake make
       python3)
if [ -z "$no_32bit" ]; then
  pkgs+=(wine32:i386)
  tools+=("$wine_dir/wine")
fi
if [ "$scope" != x86_64 ]; then
  # The 32-bit build compiles and links on any host.
  pkgs+=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686)
  tools+=(i686-w64-mingw32-g++-posix i686-w64-mingw32-windres)
fi
if [ "$scope" = all ]; then
  # unicode-data: the data files the table of escaped code points is held against.
  pkgs+=(tmux unicode-data g++)
  tools+=(tmux g++)
fi

have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
need=()
for pkg in "${pkgs[@]}"; do
  have "$pkg" || need+=("$pkg")
done
command -v python3 >/dev/null || need+=(python3)

if [ ${#need[@]} -gt 0 ]; then
  # sudo resets the environment: the frontend setting goes through env, so
  # that no debconf question ever waits unseen.
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get)
  log=$(mktemp)
  trap 'rm -f "$log"' EXIT
  [ -z "$no_32bit" ] || echo "$no_32bit; nothing 32-bit is installed" >&2
  echo "installing: ${need[*]}" >&2
  case " ${need[*]}" in
    *:i386*) dpkg --print-foreign-architectures | grep -qx i386 || "${sudo[@]}" dpkg --add-architecture i386 ;;
  esac

  # An index that still fails after a few tries is not fatal by itself: what
  # was fetched may well be enough.
  for attempt in 1 2 3; do
    "${apt[@]}" update -qq >"$log" 2>&1 && break
    if [ "$attempt" -eq 3 ]; then
      echo "apt-get update still fails, going on with what was fetched: $(grep '^E:' "$log" | head -n 1)" >&2
    else
      sleep 5
    fi
  done

  install=("${apt[@]}" install -y -qq --no-install-recommends)
  if ! "${install[@]}" "${need[@]}" >"$log" 2>&1; then
    codename=$( . /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
    if [ -z "$codename" ] || ! "${install[@]}" -t "$codename" "${need[@]}" >"$log" 2>&1; then
      echo "could not install ${need[*]}: apt said: $(grep '^E:' "$log" | tail -n 1)" >&2
      exit 1
    fi
  fi
fi

missing=()
for tool in "${tools[@]}"; do
  case "$tool" in
    /*) [ -x "$tool" ] || missing+=("$tool") ;;
    *) command -v "$tool" >/dev/null || missing+=("$tool") ;;
  esac
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "missing after install: ${missing[*]}" >&2
  exit 1
fi
exit 0
