#!/usr/bin/env bash
# Builds the Debian package from a built tree (default build-ci), unpacks it into a scratch root
# with dpkg -x and runs every program from there, side by side with the same programs of the
# build tree. Run from anywhere: tests/package_check.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
build=$(cd "${1:-build-ci}" && pwd)

fail() { echo "package check: $*" >&2; exit 1; }

rm -f "$build"/fwkit_*.deb
(cd "$build" && cpack -G DEB > cpack.log 2>&1) || { cat "$build/cpack.log"; fail "cpack -G DEB failed"; }
debs=("$build"/fwkit_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one fwkit_*.deb in $build"
deb=${debs[0]}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
dpkg-deb -x "$deb" "$root"

# Debian's own judge: not one error or warning (info tags are advice and are not shown).
lintian --fail-on error,warning "$deb" > "$work/lintian" 2> "$work/lintian.err" \
  || { cat "$work/lintian" "$work/lintian.err"; fail "lintian failed"; }
[ ! -s "$work/lintian" ] || { cat "$work/lintian"; fail "lintian complains"; }

# The listing: programs, the Zorbin link, echo out of PATH, the compressed manual pages, the
# completion file under every command's name.
listing=$(dpkg-deb -c "$deb" | awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }')
comp=./usr/share/bash-completion/completions
for want in "./usr/bin/zorbin" "./usr/bin/Zorbin -> zorbin" "./usr/bin/kelvash" "./usr/bin/orvane" \
            "./usr/libexec/fwkit/echo" "./usr/share/man/man1/zorbin.1.gz" \
            "./usr/share/man/man1/Zorbin.1.gz -> zorbin.1.gz" "./usr/share/man/man1/kelvash.1.gz" \
            "./usr/share/man/man1/orvane.1.gz" "./usr/share/man/man1/fwkit-echo.1.gz" \
            "./usr/share/doc/fwkit/copyright" "./usr/share/doc/fwkit/changelog.gz" \
            "$comp/zorbin" "$comp/Zorbin -> zorbin" "$comp/kelvash -> zorbin" "$comp/orvane -> zorbin" \
            "./usr/lib/cmake/fwkit/fwkitConfig.cmake" "./usr/lib/cmake/fwkit/fwkitConfigVersion.cmake" \
            "./usr/lib/cmake/fwkit/fwkitTargets.cmake"; do
  grep -qxF "$want" <<< "$listing" || fail "package lacks $want"
done
! grep -q '^\./usr/bin/echo$' <<< "$listing" || fail "echo must not be installed on PATH"
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libstdc++6' <<< "$depends" || fail "Depends lacks libstdc++6: $depends"
file -L "$root/usr/bin/zorbin" | grep -q 'ELF.*, stripped' || fail "zorbin is not a stripped ELF file"

pkg=$root/usr/bin
tree=$build/bin

# find_package(fwkit) from the unpacked tree: the programs beside it, not those of /usr.
mkdir "$work/probe"
cat > "$work/probe/CMakeLists.txt" <<'END'
cmake_minimum_required(VERSION 3.25)
project(probe LANGUAGES NONE)
find_package(fwkit 1 REQUIRED)
file(GENERATE OUTPUT found.txt CONTENT
  "$<TARGET_FILE:fwkit::zorbin>\n$<TARGET_FILE:fwkit::kelvash>\n$<TARGET_FILE:fwkit::orvane>\n")
END
cmake -S "$work/probe" -B "$work/probe/b" -DCMAKE_PREFIX_PATH="$root/usr" > "$work/probe.log" 2>&1 ||
  { cat "$work/probe.log"; fail "find_package(fwkit) finds no package in it"; }
printf '%s\n' "$pkg/zorbin" "$pkg/kelvash" "$pkg/orvane" | cmp -s - "$work/probe/b/found.txt" ||
  { cat "$work/probe/b/found.txt"; fail "its CMake package points elsewhere"; }

# expect WHAT STATUS COMMAND...: runs COMMAND, keeps its output in $work/out and $work/err.
expect() {
  local what=$1 want=$2; shift 2
  local got=0
  "$@" > "$work/out" 2> "$work/err" || got=$?
  [ "$got" -eq "$want" ] || { cat "$work/err"; fail "$what: exit status $got, expected $want"; }
}

expect "zorbin -help" 0 "$pkg/zorbin" -help
grep -q '<<< ZORBIN Version 1.2 >>>' "$work/err" || fail "zorbin -help: no help text"
cp "$work/err" "$work/help"
expect "Zorbin -help" 0 "$pkg/Zorbin" -help
cmp -s "$work/err" "$work/help" || fail "Zorbin -help differs from zorbin -help"
expect "zorbin without a format" 1 "$pkg/zorbin"
grep -q '^usage: Zorbin' "$work/out" || fail "zorbin: no usage line"

# A real conversion gives the same files as the build tree's program.
mkdir "$work/pkg" "$work/tree"
(cd "$work/pkg" && expect "zorbin -motorola32 app.aif" 0 "$pkg/zorbin" -motorola32 "$src/samples/app.aif")
(cd "$work/tree" && "$tree/zorbin" -motorola32 "$src/samples/app.aif")
for f in ROOT VECTORS CALTABLE; do
  cmp -s "$work/pkg/$f.hex" "$work/tree/$f.hex" || fail "zorbin: $f.hex differs from the build tree's"
done

expect "kelvash without arguments" 1 "$pkg/kelvash"
grep -q "^Usage:.*kelvash {-a|-r}" "$work/err" || fail "kelvash: no usage text"
expect "kelvash -a task.srec" 0 "$pkg/kelvash" -a -d "$src/samples/task.def" -o "$work/pkg/task.ld" \
  "$src/samples/task.srec"
"$tree/kelvash" -a -d "$src/samples/task.def" -o "$work/tree/task.ld" "$src/samples/task.srec"
cmp -s "$work/pkg/task.ld" "$work/tree/task.ld" || fail "kelvash: task.ld differs from the build tree's"

expect "orvane without arguments" 1 "$pkg/orvane"
grep -q '^Usage: orvane dirname filename type' "$work/out" || fail "orvane: no usage text"
expect "orvane on the sample list" 0 "$pkg/orvane" "$src/samples/src/" "$src/samples/objs.lst" 32l
"$tree/orvane" "$src/samples/src/" "$src/samples/objs.lst" 32l | cmp -s - "$work/out" \
  || fail "orvane: output differs from the build tree's"

expect "libexec echo" 0 "$root/usr/libexec/fwkit/echo" fwkit ready
printf 'fwkit ready \r\n' | cmp -s - "$work/out" || fail "echo: wrong output"

# The manual pages render from the package, the Zorbin link included.
for page in zorbin Zorbin kelvash orvane fwkit-echo; do
  expect "man -l $page.1.gz" 0 env MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1.gz"
  [ ! -s "$work/err" ] || { cat "$work/err"; fail "man -l $page.1.gz warns"; }
  grep -q 'EXIT STATUS' "$work/out" || fail "man -l $page.1.gz: no EXIT STATUS section"
done

# bash-completion loads completions/<command> when <command> is first completed: each file, read
# by a fresh bash, registers its command, and zorbin's offers its words in the case typed.
for cmd in zorbin Zorbin kelvash orvane; do
  expect "completion for $cmd" 0 bash --norc --noprofile -c \
    'source "$1" && complete -p "$2" && COMP_WORDS=("$2" -MOT) COMP_CWORD=1 && _zorbin &&
     echo "${COMPREPLY[*]}"' bash "$root/${comp#./}/$cmd" "$cmd"
  want="complete -F _$(tr Z z <<< "$cmd") $cmd"
  [ "$(head -n 1 "$work/out")" = "$want" ] || { cat "$work/out"; fail "completion: no '$want'"; }
  [ "$(tail -n 1 "$work/out")" = "-MOTOROLA32" ] || { cat "$work/out"; fail "completion: zorbin -MOT"; }
done

echo "package check passed: $(basename "$deb"), $(wc -l <<< "$listing") entries"
