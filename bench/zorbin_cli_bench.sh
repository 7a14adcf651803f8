#!/bin/sh
# zorbin's whole run (load, encode, write) on a 64 MiB random binary, beside objcopy, srec_cat
# and cp of a file of the output's size, and on the same bytes linked into an ARM ELF
# executable, in memory (/dev/shm) so that no disk is measured.
# Run by hand: BIN=build/bin sh bench/zorbin_cli_bench.sh   (needs hyperfine, objcopy,
# the ARM binutils, srec_cat and /usr/bin/time: apt-get install hyperfine binutils
# binutils-arm-none-eabi srecord time)
# Targets: zorbin >= 2.5 times faster than objcopy, <= 1.75 times the cp floor, the ELF no
# more than 10% slower than the same bytes with -bin, and a peak resident size of at most the
# input plus 8 MiB.
set -e
BIN=${BIN:-build/bin}
zorbin=$(cd "$BIN" && pwd)/zorbin
work=${WORK:-/dev/shm/zorbin-bench.$$}
runs=${RUNS:-10}
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
cd "$work"

head -c 64M /dev/urandom > in.bin
# The same bytes as the one section of an ARM executable at 0x08000000.
arm-none-eabi-objcopy -I binary -O elf32-littlearm -B arm \
  --rename-section .data=.text,alloc,load,readonly,code,contents in.bin in.o
arm-none-eabi-ld -e 0x08000000 -Ttext=0x08000000 -o in.elf in.o
# Floors: files of the exact sizes zorbin writes.
"$zorbin" -motorola32 -bin in.bin z.s3
"$zorbin" -intel32 -bin in.bin z.hex
head -c "$(stat -c %s z.s3)" /dev/zero > floor.s3
head -c "$(stat -c %s z.hex)" /dev/zero > floor.hex

hyperfine -N --warmup 1 --runs "$runs" --export-markdown table.md \
  -n "zorbin motorola32" "$zorbin -motorola32 -bin in.bin z.s3" \
  -n "zorbin motorola32, ELF" "$zorbin -motorola32 in.elf e.s3" \
  -n "objcopy srec (S3)" "objcopy -I binary -O srec --srec-forceS3 in.bin o.s3" \
  -n "srec_cat S3" "srec_cat in.bin -binary -o c.s3 -motorola -address-length=4 -obs=16" \
  -n "cp, size of the S3 output" "cp floor.s3 copy.s3" \
  -n "zorbin intel32" "$zorbin -intel32 -bin in.bin z.hex" \
  -n "zorbin intel32, ELF" "$zorbin -intel32 in.elf e.hex" \
  -n "objcopy ihex" "objcopy -I binary -O ihex in.bin o.hex" \
  -n "srec_cat intel" "srec_cat in.bin -binary -o c.hex -intel -obs=16" \
  -n "cp, size of the intel output" "cp floor.hex copy.hex"
echo
cat table.md
echo
for input in "-bin in.bin" in.elf; do
  for fmt in motorola32 intel32; do
    # shellcheck disable=SC2086 # $input is an option and a file name
    kib=$(/usr/bin/time -v "$zorbin" -"$fmt" $input peak.out 2>&1 >/dev/null |
          sed -n 's/.*Maximum resident set size (kbytes): //p')
    echo "peak RSS zorbin -$fmt $input: $kib KiB (input 65536 KiB, target <= $((65536 + 8192)) KiB)"
  done
done
