#!/bin/sh
# Preparing a load file from a ~200 MB S-record file against a plain cp of that file.
# Run by hand after a Release build: sh bench/kelvash_bench.sh [build/bin]
# Needs hyperfine and objcopy. Works in /dev/shm so that the disk does not enter the figure.
set -e
bin=$(cd "${1:-build/bin}" && pwd)
dir=$(mktemp -d /dev/shm/kelvash-bench.XXXXXX)
trap 'rm -rf "$dir"' EXIT
cd "$dir"

# 70 MB of bytes as S3 records with 16 data bytes each: 4.4 million lines, 210 MB.
head -c 70000000 /dev/urandom > image.bin
objcopy -I binary -O srec --srec-forceS3 image.bin task.srec
ls -l task.srec

# Same bytes behind the header, and the header's section and entry point.
"$bin/kelvash" -a -o task.ld task.srec
tail -c +82 task.ld | cmp - task.srec
head -c 81 task.ld; echo

hyperfine -N -w 3 -r 20 \
    'cp task.srec copy.srec' \
    "$bin/kelvash -a -o task.ld task.srec"
