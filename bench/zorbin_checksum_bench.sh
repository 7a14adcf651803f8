#!/bin/sh
# The checksum core beside the peers on the same 64 MiB: zorbin_checksum_bench in memory,
# srec_cat's -crc32-l-e filter (its run with the filter less the same run without it, so that
# what remains is the CRC), and Python's crcmod and hashlib on the bytes in memory. Every
# figure is processor time (user + system), not wall time, so that a shared machine's other
# work counts less; best of RUNS.
# Run by hand: BIN=build/bin sh bench/zorbin_checksum_bench.sh   (needs srecord, python3-crcmod)
set -e
BIN=${BIN:-build/bin}
bench=$(cd "$BIN" && pwd)/zorbin_checksum_bench
work=${WORK:-/dev/shm/zorbin-checksum.$$}
runs=${RUNS:-5}
py=/usr/bin/python3  # the one Debian's crcmod belongs to
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

"$bench" "$runs"
echo

head -c 64M /dev/urandom > "$work/in.bin"
# cpu COMMAND...: the least user + system seconds of RUNS runs.
cpu() {
  best=
  for _ in $(seq "$runs"); do
    t=$(/usr/bin/time -f '%U %S' "$@" 2>&1 >/dev/null | tail -n 1 | awk '{print $1 + $2}')
    if [ -z "$best" ] || [ "$(echo "$t $best" | awk '{print $1 < $2}')" = 1 ]; then best=$t; fi
  done
  echo "$best"
}
plain=$(cpu srec_cat "$work/in.bin" -binary -o "$work/plain.bin" -binary)
crc=$(cpu srec_cat "$work/in.bin" -binary -crc32-l-e 0x04000000 -o "$work/crc.bin" -binary)
echo "srec_cat copy $plain s, with -crc32-l-e $crc s: the CRC" \
  "$(echo "$plain $crc" | awk '{printf "%.0f", 67.108864 / ($2 - $1)}') MB/s"

"$py" - "$work/in.bin" "$runs" <<'EOF'
import hashlib, sys, time
import crcmod.predefined
d = open(sys.argv[1], 'rb').read()
def best(f):
    t = []
    for _ in range(int(sys.argv[2])):
        t0 = time.process_time()
        f(d)
        t.append(time.process_time() - t0)
    return len(d) / min(t) / 1e6
for name in ('crc-32', 'crc-32c', 'crc-32-mpeg', 'xmodem', 'crc-8', 'crc-64'):
    print('crcmod %-12s %6.0f MB/s' % (name, best(crcmod.predefined.mkCrcFun(name))))
print('hashlib sha256      %6.0f MB/s' % best(lambda b: hashlib.sha256(b).digest()))
EOF
