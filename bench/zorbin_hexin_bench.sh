#!/bin/sh
# zorbin reading hex: 64 MiB of data from Intel hex to S-records, side by side with srec_cat
# and objcopy in one hyperfine run, in memory (/dev/shm) so that no disk is measured; then
# the peak memory of each (GNU time), beside the sizes of the image and the input.
# Run by hand: BIN=build/bin sh bench/zorbin_hexin_bench.sh   (needs hyperfine, srec_cat,
# objcopy). Targets: at least 10 times srec_cat's speed and 3 times objcopy's; peak memory
# the image plus the input plus a few MiB.
set -e
BIN=${BIN:-build/bin}
zorbin=$(cd "$BIN" && pwd)/zorbin
work=${WORK:-/dev/shm/zorbin-hexin.$$}
runs=${RUNS:-5}
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
cd "$work"

head -c 64M /dev/urandom > in.bin
"$zorbin" -intel32 -bin -base 0x08000000 in.bin in.hex

hyperfine -N --warmup 1 --runs "$runs" --export-markdown table.md \
  -n "zorbin -motorola32" "$zorbin -motorola32 in.hex z.s37" \
  -n "objcopy -I ihex -O srec" "objcopy -I ihex -O srec in.hex o.s37" \
  -n "srec_cat -intel -o -motorola" "srec_cat in.hex -intel -o s.s37 -motorola -address-length=4"
echo
cat table.md
echo
echo "image $(wc -c < in.bin) bytes, input $(wc -c < in.hex) bytes"
for cmd in "$zorbin -motorola32 in.hex z.s37" "objcopy -I ihex -O srec in.hex o.s37" \
           "srec_cat in.hex -intel -o s.s37 -motorola -address-length=4"; do
  kb=$(/usr/bin/time -f %M $cmd 2>&1 >/dev/null | tail -n 1)
  echo "peak $kb KiB: $cmd"
done
