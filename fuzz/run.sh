#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for the given number of seconds (default 30)
# on a scratch copy of its seed corpus under fuzz/corpus/<target>. Findings land in fuzz/out/.
# Target names after the seconds run only those: fuzz/run.sh 600 zorbin_elf_fuzz
# The targets run in an empty scratch directory: kelvash's -d opens the file it names.
set -euo pipefail
secs=${1:-30}
shift $(( $# > 0 ? 1 : 0 ))
cd "$(dirname "$0")/.."
root=$PWD
build=${FUZZ_BUILD:-build-fuzz}
case $build in /*) ;; *) build=$root/$build ;; esac
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFWKIT_FUZZ=ON &&
       cmake --build "$build" -j 2; } > "$log" 2>&1; then
  tail -n 40 "$log"
  echo "fuzz build failed"
  exit 1
fi
mkdir -p fuzz/out
status=0
if [ $# -gt 0 ]; then
  targets=()
  for n in "$@"; do targets+=("$build/fuzz/$n"); done
else
  targets=("$build"/fuzz/*_fuzz)
fi
[ -x "${targets[0]}" ] || { echo "no fuzz targets built"; exit 1; }
for t in "${targets[@]}"; do
  name=$(basename "$t")
  work=$(mktemp -d)
  mkdir -p "$work/corpus" "$work/cwd"
  seeds=$root/fuzz/corpus/$name
  mkdir -p "$seeds"
  echo "-- $name for ${secs}s"
  if ! (cd "$work/cwd" && "$t" -max_total_time="$secs" -timeout=10 -rss_limit_mb=4096 \
          -print_final_stats=1 -artifact_prefix="$root/fuzz/out/$name-" "$work/corpus" "$seeds") \
        > "fuzz/out/$name.log" 2>&1; then
    echo "   FINDING: see fuzz/out/$name.log"; tail -n 30 "fuzz/out/$name.log"; status=1
  else
    # Executions, then the final coverage line.
    grep -E 'stat::number_of_executed_units|DONE ' "fuzz/out/$name.log" | tail -n 2 | sed 's/^/   /'
  fi
  rm -rf "$work"
done
exit $status
