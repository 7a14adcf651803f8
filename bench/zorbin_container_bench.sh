#!/bin/sh
# zorbin's containers on a 64 MiB random binary, in memory (/dev/shm) so that no disk is
# measured: -uf2 beside cp of a file of its output's size (UF2 is twice the data), -dfu and
# -dfuse beside -raw of the same bytes.
# Run by hand: BIN=build/bin sh bench/zorbin_container_bench.sh   (needs hyperfine, or falls
# back to the best of RUNS runs timed by date; dfu-util's dfu-suffix checks the outputs when
# it is there: apt-get install hyperfine dfu-util)
# Targets: -uf2 within 1.3 times the cp of its output, -dfu within 1.3 times -raw. A third
# line of reference: zorbin reading every byte of its mapped input once and writing nothing
# (-info with a CRC over the whole image), which cp never has to do: it copies inside the
# system.
set -e
BIN=${BIN:-build/bin}
zorbin=$(cd "$BIN" && pwd)/zorbin
work=${WORK:-/dev/shm/zorbin-containers.$$}
runs=${RUNS:-10}
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
cd "$work"

head -c 64M /dev/urandom > in.bin
"$zorbin" -uf2 -family rp2040 -bin -base 0x10000000 in.bin z.uf2
"$zorbin" -raw -bin in.bin z.raw
head -c "$(stat -c %s z.uf2)" /dev/zero > floor.uf2
head -c "$(stat -c %s z.raw)" /dev/zero > floor.raw
if command -v dfu-suffix > /dev/null; then
  "$zorbin" -dfu -usbid 0483:df11 -bin in.bin z.dfu
  dfu-suffix -c z.dfu > /dev/null && echo "dfu-suffix accepts the -dfu output"
fi

if command -v hyperfine > /dev/null; then
  hyperfine -N --warmup 1 --runs "$runs" --export-markdown table.md \
    -n "zorbin -uf2" "$zorbin -uf2 -family rp2040 -bin -base 0x10000000 in.bin z.uf2" \
    -n "cp, size of the UF2 output" "cp floor.uf2 copy.uf2" \
    -n "zorbin -dfu" "$zorbin -dfu -usbid 0483:df11 -bin in.bin z.dfu" \
    -n "zorbin -dfuse" "$zorbin -dfuse -usbid 0483:df11 -bin -base 0x08000000 in.bin z.dfuse" \
    -n "zorbin -raw" "$zorbin -raw -bin in.bin z.raw" \
    -n "cp, size of the raw output" "cp floor.raw copy.raw" \
    -n "zorbin reads its input once" "$zorbin -info -bin -crc crc32 0x04000000 in.bin"
  echo
  cat table.md
  echo
fi

# The pairs the targets compare, run in turn ($runs rounds) so that a busy spell of a shared
# machine hits both sides alike: the median and the best wall time of each, in milliseconds.
: > times.txt
for i in $(seq "$runs"); do
  for c in uf2 cp-uf2 dfu raw read; do
    case $c in
      uf2) set -- "$zorbin" -uf2 -family rp2040 -bin -base 0x10000000 in.bin z.uf2 ;;
      cp-uf2) set -- cp floor.uf2 copy.uf2 ;;
      dfu) set -- "$zorbin" -dfu -usbid 0483:df11 -bin in.bin z.dfu ;;
      raw) set -- "$zorbin" -raw -bin in.bin z.raw ;;
      read) set -- "$zorbin" -info -bin -crc crc32 0x04000000 in.bin ;;
    esac
    t0=$(date +%s%N); "$@" > /dev/null; t=$(( ($(date +%s%N) - t0) / 1000 ))
    echo "$c $t" >> times.txt
  done
done
for c in uf2 cp-uf2 dfu raw read; do
  sort -n -k2 times.txt | awk -v c="$c" '$1 == c { t[n++] = $2 }
    END { printf "%-7s median %6.1f ms, best %6.1f ms\n", c, t[int(n / 2)] / 1000, t[0] / 1000 }'
done
