#!/usr/bin/env bash
# Tells whether this host runs 32-bit (i386) programs, by running one: a
# 93-byte i386 ELF program that only calls exit(0). Some hosts run 64-bit
# user code only; their kernel refuses any i386 program with ENOEXEC.
#   exit 0  it ran (or failed in some other way: only the kernel's refusal
#           counts as "no", so that a broken 32-bit set-up still fails loudly)
#   exit 1  the kernel refused it; one line on standard output says so
# OPCMON_I386_PROBE names a program to run instead of the written one (the
# tests use stand-ins). The probe is written into the directory given as the
# only argument (default: the build folder), which must allow execution.
set -u
probe=${OPCMON_I386_PROBE:-}
if [ -z "$probe" ]; then
  dir=${1:-$(dirname "$0")/../build}
  mkdir -p "$dir" || exit 0
  probe=$dir/.i386-probe
  if [ ! -x "$probe" ]; then
    {
      # ELF header: 32-bit, little-endian, executable, i386, entry 0x08048054,
      # one program header at offset 52.
      printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000'
      printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000'
      printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000'
      # Program header: the whole 93-byte file loaded read+execute at 0x08048000.
      printf '\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010'
      printf '\135\000\000\000\135\000\000\000\005\000\000\000\000\020\000\000'
      # mov eax,1 (exit); xor ebx,ebx (status 0); int 0x80
      printf '\270\001\000\000\000\061\333\315\200'
    } >"$probe.new" && chmod +x "$probe.new" && mv -f "$probe.new" "$probe" || exit 0
  fi
fi

# bash reports a program the kernel will not load as "cannot execute binary
# file: Exec format error" with status 126 (the C locale keeps the words).
said=$(LC_ALL=C LANGUAGE= "$probe" 2>&1)
status=$?
if [ "$status" -eq 126 ] && [[ $said == *"Exec format error"* ]]; then
  echo "this host runs no 32-bit programs: the kernel refuses i386 programs (Exec format error)"
  exit 1
fi
exit 0
