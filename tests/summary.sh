#!/bin/sh
# The closing lines of a ctest run: every skipped test with the reason it gave, then one line
# that counts what passed, what was skipped and what failed.
#   tests/summary.sh CTEST_DIR LOG [WHAT]   (LOG: what ctest printed; WHAT names the run)
dir=$1 log=$2 what=${3:-tests}
last="$dir/Testing/Temporary/LastTest.log"
total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
failed=$(sed -n 's/.* \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -n 1)
skipped=$(grep -c '^[[:space:]]*[0-9]* - .* (Skipped)$' "$log")
if [ -z "$total" ]; then
  echo "SUMMARY: $what: no tests ran"
  exit 0
fi
if [ "$skipped" -gt 0 ] && [ -f "$last" ]; then
  echo "Skipped, and why:"
  # gtest prints "file:line: Skipped" and the reason on the next line.
  awk '/^\[ RUN      \] / { name = $4 }
       skip { print "  " name ": " $0; skip = 0 }
       /: Skipped$/ { skip = 1 }' "$last"
fi
echo "SUMMARY: $what: $((total - failed - skipped)) passed, $skipped skipped, $failed failed, of $total"
