#!/usr/bin/env bash
# Asks the kernel once whether it runs 32-bit x86 programs, which 32-bit Wine
# (and so the shipped 32-bit launcher and installer) needs. Not every machine
# of this kind has had a kernel that does: some refuse them with "Exec format
# error". Writes a 92-byte 32-bit ELF program that only exits with 42, runs
# it, and exits 0 when it ran; otherwise prints why and exits 1.
set -u
# Made in the build folder, where the test command runs its own programs: a
# /tmp mounted noexec refuses every program ("Permission denied"), which
# would be taken for a kernel without 32-bit support.
build=$(cd "$(dirname "$0")/.." && pwd)/build
mkdir -p "$build"
probe=$(mktemp "$build/i386-probe-XXXXXX")
trap 'rm -f "$probe"' EXIT
# ELF32 header (52 bytes) and one PT_LOAD program header (32 bytes) mapping
# the whole file at 0x08048000; the entry point runs
#   mov eax, 1 ; mov ebx, 42 ; int 0x80      (the i386 exit system call)
python3 - "$probe" <<'PY'
import struct, sys
code = bytes([0xB8, 1, 0, 0, 0, 0xBB, 42, 0, 0, 0, 0xCD, 0x80])
base, header = 0x08048000, 52 + 32
elf = b"\x7fELF" + bytes([1, 1, 1, 0]) + bytes(8)
elf += struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, base + header, 52, 0, 0, 52, 32, 1, 0, 0, 0)
size = header + len(code)
elf += struct.pack("<IIIIIIII", 1, 0, base, base, size, size, 5, 0x1000)
open(sys.argv[1], "wb").write(elf + code)
PY
chmod +x "$probe"
output=$("$probe" 2>&1)
status=$?
if [ "$status" -eq 42 ]; then
  exit 0
fi
echo "32-bit programs cannot run on this kernel ($(uname -r)): a 32-bit test program ended with status $status${output:+: $output}." >&2
echo "The 32-bit Windows runs (the shipped launcher, the installer and the suites under 32-bit Wine) were not possible here; everything else runs." >&2
exit 1
