#!/usr/bin/env bash
# Exit 0 when this kernel runs 32-bit x86 code: writes a 96-byte i386 ELF
# (ELF header, one PT_LOAD, then mov eax,1; mov ebx,42; int 0x80) and runs it.
# A kernel without IA-32 emulation refuses it with "exec format error".
set -u
probe="$(mktemp)"
trap 'rm -f "$probe"' EXIT
hex=7f454c46010101000000000000000000020003000100000054800408340000000000000000000000
hex+=340020000100000000000000010000000000000000800408008004086000000060000000050000
hex+=0000100000b801000000bb2a000000cd80
printf '%b' "$(printf '%s' "$hex" | sed 's/../\\x&/g')" >"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
[ $? -eq 42 ]
