#!/bin/sh
# zorbin's finishing operations on a 64 MiB image, side by side in one hyperfine run: the
# conversion with -fill -range -crc crc32 beside the same conversion without them, and -raw
# beside cp of the file it writes; in memory (/dev/shm) so that no disk is measured.
# Run by hand: BIN=build/bin sh bench/zorbin_finish_bench.sh   (needs hyperfine)
# Targets: the operations within 1.15 times the plain conversion, -raw within 1.3 times cp.
set -e
BIN=${BIN:-build/bin}
zorbin=$(cd "$BIN" && pwd)/zorbin
work=${WORK:-/dev/shm/zorbin-finish.$$}
runs=${RUNS:-15}
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
cd "$work"

# 64 MiB at the start of a 64 MiB flash; a gap of 4 KiB in the middle, which -fill closes.
head -c 32M /dev/urandom > lo.bin
head -c 32764K /dev/urandom > hi.bin
cat lo.bin > in.bin
head -c 4K /dev/zero | tr '\0' '\377' >> in.bin
cat hi.bin >> in.bin
"$zorbin" -raw -bin -base 0x08000000 in.bin floor.bin

hyperfine -N --warmup 1 --runs "$runs" --export-markdown table.md \
  -n "zorbin intel32" "$zorbin -intel32 -bin -base 0x08000000 in.bin z.hex" \
  -n "zorbin intel32 -fill -range -crc crc32" \
     "$zorbin -intel32 -bin -base 0x08000000 -fill 0xFF -range 0x08000000 64M -crc crc32 0x0BFFFFFC in.bin c.hex" \
  -n "zorbin -raw" "$zorbin -raw -bin -base 0x08000000 in.bin z.bin" \
  -n "cp, the raw output" "cp floor.bin copy.bin"
echo
cat table.md
