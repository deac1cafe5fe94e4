#!/usr/bin/env bash
# Installs what the cross build and the Wine test runs need on Debian:
# the mingw-w64 compilers and tools (widl among them), the platform's IDL
# files (libwine-dev), Wine for 64- and 32-bit programs,
# cmake, tmux and python3 (the end-to-end tests). Quiet and idempotent: it does nothing when all is there.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

for pkg in g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools libwine-dev \
           binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 \
           wine wine64 wine32:i386 cmake tmux; do
  have "$pkg" || need+=("$pkg")
done
command -v python3 >/dev/null || need+=(python3)
[ ${#need[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
fi
echo "installing: ${need[*]}" >&2
"${sudo[@]}" apt-get update -qq >/dev/null
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
