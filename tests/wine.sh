#!/usr/bin/env bash
# The test suite against the Windows programs, under Wine: the core's own tests built for
# Windows, then the Linux build's tests labelled wine with the .exe files as the programs
# under test. Of those, the ones that start a Windows program are counted apart from the ones
# that only call the Linux build's core.
# The Wine prefix lives in the Windows build directory, and one wineserver serves the whole run.
# Run from anywhere: tests/wine.sh [LINUX_BUILD] [WINDOWS_BUILD]   (default build, build-win)
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)
host=$(cd "${1:-build}" && pwd)
win=$(cd "${2:-build-win}" && pwd)

start=$(date +%s)
. tests/wine-env.sh
wine_start "$win"
trap wine_stop EXIT

# suite NAME DIR LABEL_ARGS [VAR=value...]: ctest in DIR with those variables, its log in
# $win/NAME.log, its skips and summary after it.
rc=0
suite() {
  local name=$1 dir=$2 labels=$3; shift 3
  local t0=$(date +%s) got=0
  (cd "$dir" && env "$@" ctest -j 2 $labels --output-on-failure) > "$win/$name.log" 2>&1 || got=$?
  [ "$got" -eq 0 ] || { cat "$win/$name.log"; rc=1; }
  "$src/tests/summary.sh" "$dir" "$win/$name.log" "$name ($(( $(date +%s) - t0 )) s)"
}
suite wine-core "$win" ""
starts="$win/wine-programs.starts"
rm -f "$starts"
suite wine-programs "$host" "-L wine" FWKIT_TEST_BIN_DIR="$win/bin" FWKIT_TEST_SUFFIX=.exe \
  FWKIT_TEST_EMULATOR=wine FWKIT_TEST_STARTS="$starts"
ran=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$win/wine-programs.log" | tail -n 1)
started=$( [ -f "$starts" ] && sort -u "$starts" | wc -l || echo 0)
echo "wine-programs: $started of ${ran:-0} tests started a Windows program; the other" \
     "$(( ${ran:-0} - started )) call only the Linux build's core"
echo "SUMMARY: Windows suite under Wine $( [ $rc -eq 0 ] && echo passed || echo FAILED ) in $(( $(date +%s) - start )) s"
exit $rc
