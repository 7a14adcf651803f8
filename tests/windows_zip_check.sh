#!/usr/bin/env bash
# Builds the Windows zip from a cross-built tree, unpacks it into a scratch folder and runs every
# program from there under Wine, side by side with the Linux build's programs: the files they
# write must be the same bytes. Run from anywhere:
#   tests/windows_zip_check.sh [LINUX_BUILD] [WINDOWS_BUILD]   (default build, build-win)
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
host=$(cd "${1:-build}" && pwd)
win=$(cd "${2:-build-win}" && pwd)

fail() { echo "zip check: $*" >&2; exit 1; }

rm -f "$win"/fwkit-*-win64.zip
(cd "$win" && cpack -G ZIP > cpack.log 2>&1) || { cat "$win/cpack.log"; fail "cpack -G ZIP failed"; }
zips=("$win"/fwkit-*-win64.zip)
[ ${#zips[@]} -eq 1 ] && [ -f "${zips[0]}" ] || fail "expected one fwkit-*-win64.zip in $win"
zip=${zips[0]}

work=$(mktemp -d)
. tests/wine-env.sh
wine_start "$win"
trap 'wine_stop; rm -rf "$work"' EXIT
(cd "$work" && cmake -E tar xf "$zip")
top=$work/$(basename "$zip" .zip)

# The listing: the four programs side by side, the README for Windows and the guide, the
# manual pages as text, the CMake package (its targets file named for the build type).
config=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$win/CMakeCache.txt" | tr A-Z a-z)
listing=$(cd "$top" && find . -type f | sort | tr '\n' ' ')
want=$( (printf '%s\n' ./README.txt ./doc/fwkit-echo.txt ./doc/kelvash.txt ./doc/orvane.txt \
           ./doc/zorbin.txt ./echo.exe ./kelvash.exe ./orvane.exe ./zorbin.exe \
           ./cmake/fwkitConfig.cmake ./cmake/fwkitConfigVersion.cmake ./cmake/fwkitTargets.cmake \
           "./cmake/fwkitTargets-$config.cmake"
         cd "$src" && find ./docs -name '*.md') | sort | tr '\n' ' ')
[ "$listing" = "$want" ] || fail "zip holds: $listing"
# Linked statically: the programs need no DLL but the system's own.
dlls=$(x86_64-w64-mingw32-objdump -p "$top"/*.exe | sed -n 's/^\tDLL Name: //p' | sort -u | tr '\n' ' ')
[ "$dlls" = "KERNEL32.dll msvcrt.dll " ] || fail "the programs need $dlls"
grep -q $'^  zorbin.exe ' "$top/README.txt" && grep -q $'\r$' "$top/README.txt" ||
  fail "README.txt is no Windows README with CR LF line ends"
! grep -qE 'build/|build-win|make demo|dpkg' "$top/README.txt" || fail "README.txt names the build tree"
grep -q "ZORBIN(1)" "$top/doc/zorbin.txt" && grep -q $'\r$' "$top/doc/zorbin.txt" ||
  fail "doc/zorbin.txt is no rendered page with CR LF line ends"

# find_package(fwkit) with the unpacked folder as its prefix: the programs where the zip put
# them, wherever it is unpacked.
mkdir "$work/probe"
cat > "$work/probe/CMakeLists.txt" <<'END'
cmake_minimum_required(VERSION 3.25)
project(probe LANGUAGES NONE)
find_package(fwkit 1 REQUIRED)
file(GENERATE OUTPUT found.txt CONTENT
  "$<TARGET_FILE:fwkit::zorbin>\n$<TARGET_FILE:fwkit::kelvash>\n$<TARGET_FILE:fwkit::orvane>\n")
END
cmake -S "$work/probe" -B "$work/probe/b" -DCMAKE_PREFIX_PATH="$top" > "$work/probe.log" 2>&1 ||
  { cat "$work/probe.log"; fail "find_package(fwkit) finds no package in the zip"; }
# (The programs' install destination is ".", which the paths keep: "<prefix>/./zorbin.exe".)
sed 's|/\./|/|' "$work/probe/b/found.txt" > "$work/probe/found.txt"
printf '%s\n' "$top/zorbin.exe" "$top/kelvash.exe" "$top/orvane.exe" | cmp -s - "$work/probe/found.txt" ||
  { cat "$work/probe/b/found.txt"; fail "the zip's CMake package points elsewhere"; }

# expect WHAT STATUS COMMAND...: runs COMMAND, keeps its output in $work/out and $work/err.
expect() {
  local what=$1 want=$2; shift 2
  local got=0
  "$@" > "$work/out" 2> "$work/err" < /dev/null || got=$?
  [ "$got" -eq "$want" ] || { cat "$work/err"; fail "$what: exit status $got, expected $want"; }
}

expect "zorbin -help" 0 wine "$top/zorbin.exe" -help
grep -q '<<< ZORBIN Version 1.2 >>>' "$work/err" || fail "zorbin -help: no help text"
cp "$work/err" "$work/help"
# From cmd, found on PATH under the name its messages use.
expect "Zorbin -help from cmd" 0 env WINEPATH="$(winepath -w "$top")" wine cmd /c "Zorbin -help"
cmp -s "$work/err" "$work/help" || fail "Zorbin -help from cmd differs from zorbin -help"

mkdir "$work/win" "$work/linux"
(cd "$work/win" && expect "zorbin -motorola32 app.aif" 0 wine "$top/zorbin.exe" -motorola32 "$src/samples/app.aif")
(cd "$work/linux" && "$host/bin/zorbin" -motorola32 "$src/samples/app.aif")
for f in ROOT VECTORS CALTABLE; do
  cmp -s "$work/win/$f.hex" "$work/linux/$f.hex" || fail "zorbin: $f.hex differs from Linux's"
done

expect "kelvash without arguments" 1 wine "$top/kelvash.exe"
grep -q "^Usage:.*kelvash.exe {-a|-r}" "$work/err" || fail "kelvash: no usage text"
expect "kelvash -a task.srec" 0 wine "$top/kelvash.exe" -a -d "$src/samples/task.def" \
  -o "$work/win/task.ld" "$src/samples/task.srec"
"$host/bin/kelvash" -a -d "$src/samples/task.def" -o "$work/linux/task.ld" "$src/samples/task.srec"
cmp -s "$work/win/task.ld" "$work/linux/task.ld" || fail "kelvash: task.ld differs from Linux's"

expect "orvane on the sample list" 0 wine "$top/orvane.exe" "$src/samples/src/" "$src/samples/objs.lst" 32l
"$host/bin/orvane" "$src/samples/src/" "$src/samples/objs.lst" 32l | cmp -s - "$work/out" ||
  fail "orvane: output differs from Linux's"

expect "echo" 0 wine "$top/echo.exe" fwkit ready
printf 'fwkit ready \r\n' | cmp -s - "$work/out" || fail "echo: wrong output"

echo "zip check passed: $(basename "$zip"), $(wc -w <<< "$listing") files"
