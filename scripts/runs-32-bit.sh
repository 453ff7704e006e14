#!/usr/bin/env bash
# Exits 0 when this machine runs 32-bit x86 programs, which 32-bit wine needs; some
# virtual machines refuse them ("Exec format error") although the processor has the mode.
# Tries a program of three instructions, made with the host's binutils.
set -euo pipefail
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
printf '.globl _start\n_start:\n movl $1, %%eax\n movl $0, %%ebx\n int $0x80\n' |
  as --32 -o "$dir/exit.o" - 2>/dev/null
ld -m elf_i386 -o "$dir/exit" "$dir/exit.o" 2>/dev/null
"$dir/exit" 2>/dev/null
