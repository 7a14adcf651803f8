#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for the given number of seconds (default 30)
# on a scratch copy of its seed corpus under fuzz/corpus/<target>. Findings land in fuzz/out/.
set -euo pipefail
secs=${1:-30}
cd "$(dirname "$0")/.."
build=${FUZZ_BUILD:-build-fuzz}
CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFWKIT_FUZZ=ON >/dev/null
cmake --build "$build" -j 2 >/dev/null
mkdir -p fuzz/out
status=0
for t in "$build"/fuzz/*_fuzz; do
  [ -x "$t" ] || continue
  name=$(basename "$t")
  work=$(mktemp -d)
  seeds=fuzz/corpus/$name
  mkdir -p "$seeds"
  echo "-- $name for ${secs}s"
  if ! "$t" -max_total_time="$secs" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
        -artifact_prefix="fuzz/out/$name-" "$work" "$seeds" > "fuzz/out/$name.log" 2>&1; then
    echo "   FINDING: see fuzz/out/$name.log"; tail -n 30 "fuzz/out/$name.log"; status=1
  else
    grep -E 'stat::number_of_executed_units|cov: ' "fuzz/out/$name.log" | tail -n 2 | sed 's/^/   /'
  fi
  rm -rf "$work"
done
exit $status
