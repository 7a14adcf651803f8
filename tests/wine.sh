#!/usr/bin/env bash
# The test suite against the Windows programs, under Wine: the core's own tests built for
# Windows, then every test of the Linux build with the .exe files as the programs under test.
# The Wine prefix lives in the Windows build directory, and one wineserver serves the whole run.
# Run from anywhere: tests/wine.sh [LINUX_BUILD] [WINDOWS_BUILD]   (default build, build-win)
set -euo pipefail
cd "$(dirname "$0")/.."
host=$(cd "${1:-build}" && pwd)
win=$(cd "${2:-build-win}" && pwd)

start=$(date +%s)
. tests/wine-env.sh
wine_start "$win"
trap wine_stop EXIT

# suite NAME DIR [VAR=value...]: ctest in DIR with those variables, its log in $win/NAME.log.
rc=0
suite() {
  local name=$1 dir=$2; shift 2
  local t0=$(date +%s) got=0
  (cd "$dir" && env "$@" ctest -j 2 --output-on-failure) > "$win/$name.log" 2>&1 || got=$?
  [ "$got" -eq 0 ] || { cat "$win/$name.log"; rc=1; }
  local summary=$(grep -E 'tests passed|tests failed' "$win/$name.log" | tail -n 1)
  echo "$name: ${summary:-no tests ran} ($(( $(date +%s) - t0 )) s)"
}
suite wine-core "$win"
suite wine-programs "$host" FWKIT_TEST_BIN_DIR="$win/bin" FWKIT_TEST_SUFFIX=.exe FWKIT_TEST_EMULATOR=wine
grep -h -A1000 'tests did not run' "$win/wine-core.log" "$win/wine-programs.log" | grep Skipped || true
echo "SUMMARY: Windows suite under Wine $( [ $rc -eq 0 ] && echo passed || echo FAILED ) in $(( $(date +%s) - start )) s"
exit $rc
