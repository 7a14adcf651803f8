#!/usr/bin/env bash
# The generated-link comparison of zorbin with both objcopys, deeper than CI's 50 links: COUNT
# links from SEED on, split over two jobs (one per core), their logs in BUILD/elf_diff_deep.*.log.
# Prints each class of link (how the tools and the rule compare, and the facts that may part
# them) with its count and first seed, how often each fact was seen, then the failing seeds.
# Run from anywhere: tests/elf_diff_deep.sh [BUILD] [COUNT] [SEED]   (default build 3000 1)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
count=${2:-3000}
seed=${3:-1}
half=$(( count / 2 ))
start=$(date +%s)
job() {
  FWKIT_ELF_SEED=$1 FWKIT_ELF_LINKS=$2 "$build/tests/zorbin_elf_diff_test" > "$build/elf_diff_deep.$3.log" 2>&1
}
rc=0
job "$seed" "$half" 1 & first=$!
job $(( seed + half )) $(( count - half )) 2 & second=$!
wait $first || rc=1
wait $second || rc=1
logs=("$build"/elf_diff_deep.[12].log)
grep -h ' links from seed ' "${logs[@]}"
# "  N x CLASS (first seed S)" from both jobs, counts added up.
grep -h '^  [0-9]* x ' "${logs[@]}" | sed -E 's/^  ([0-9]+) x (.*) \(first seed ([0-9]+)\)$/\1\t\3\t\2/' |
  sort -t$'\t' -k3,3 -k2,2n |
  awk -F'\t' '$3 != k { if (k != "") printf "  %d x %s (first seed %d)\n", n, k, s; k = $3; n = 0; s = $2 }
              { n += $1 } END { if (k != "") printf "  %d x %s (first seed %d)\n", n, k, s }'
grep -h '^  fact in ' "${logs[@]}" | sed -E 's/^  fact in ([0-9]+) links: (.*)$/\1\t\2/' |
  awk -F'\t' '{ n[$2] += $1 } END { for (f in n) printf "  fact in %d links: %s\n", n[f], f }' | sort -t: -k2
failing=$(grep -h '^failing seeds:' "${logs[@]}" | sed 's/^failing seeds://' | xargs)
echo "failing seeds ($(echo $failing | wc -w)): ${failing:-none}"
echo "SUMMARY: $count generated links $( [ $rc -eq 0 ] && echo passed || echo FAILED ) in $(( $(date +%s) - start )) s"
exit $rc
