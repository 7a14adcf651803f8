#!/bin/sh
# The texts of whole memories (-vmem, -mif, -coe, -titxt, -carray) beside -intel32, each a
# whole run on the same 64 MiB random binary in memory (/dev/shm), so that no disk is
# measured. Every figure is processor time (user + system, from getrusage to the microsecond),
# not wall time, so that a shared machine's other work counts less: the best of RUNS rounds,
# each round running every command once, so that all of them meet the same load. The texts
# write more or less text than Intel hex for the same image (a MIF line per word), so each is
# also given per byte of its output.
# Run by hand: BIN=build/bin sh bench/zorbin_text_bench.sh   (needs python3)
# Target: each within 1.5 times -intel32's time per byte of output.
set -e
BIN=${BIN:-build/bin}
zorbin=$(cd "$BIN" && pwd)/zorbin
work=${WORK:-/dev/shm/zorbin-text.$$}
runs=${RUNS:-9}
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

head -c 64M /dev/urandom > "$work/in.bin"
python3 - "$zorbin" "$work" "$runs" <<'EOF'
import os, resource, subprocess, sys
zorbin, work, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3])
runs = ['intel32', 'vmem', 'vmem -width 4', 'mif', 'mif -width 4', 'coe', 'coe -width 4',
        'titxt', 'carray']
out = os.path.join(work, 'out.txt')
def cpu(args):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(args, check=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
best, size = {}, {}
for _ in range(rounds):
    for r in runs:
        t = cpu([zorbin, '-' + r.split()[0]] + r.split()[1:] + ['-bin', os.path.join(work, 'in.bin'), out])
        best[r] = min(best.get(r, t), t)
        size[r] = os.path.getsize(out)
bt, bs = best['intel32'], size['intel32']
print('| run | output MB | CPU s | MB/s of image | MB/s of output | × intel32, per image byte | × intel32, per output byte |')
print('|---|---:|---:|---:|---:|---:|---:|')
for r in runs:
    t, s = best[r], size[r]
    print('| `-%s` | %.0f | %.3f | %.0f | %.0f | %.2f | %.2f |' %
          (r, s / 1e6, t, 67.108864 / t, s / 1e6 / t, t / bt, (t / s) / (bt / bs)))
EOF
