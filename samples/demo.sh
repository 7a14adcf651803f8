#!/bin/sh
# The kit's main job on the bundled samples. BIN names the directory of the built programs.
# Outputs go to a scratch directory under the build tree; the samples themselves stay untouched.
# Each step is counted; a step that fails on purpose says so and why, and the last line tells
# how many steps ran and whether all went as expected.
set -e
BIN=${BIN:-build/bin}
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$BIN" && pwd)
out="$bin/../demo"
rm -rf "$out"
mkdir -p "$out"
cd "$out"

steps=0 expected=0
# step TITLE: a new step of the demo.
step() { steps=$((steps + 1)); echo "== $steps. $1"; }
# fails_as_expected WHY COMMAND...: COMMAND must fail; its exit status and WHY are shown.
fails_as_expected() {
  local why=$1 rc=0; shift
  "$@" || rc=$?
  if [ "$rc" -eq 0 ]; then
    echo "!! expected to fail, but succeeded: $why"
    exit 1
  fi
  expected=$((expected + 1))
  echo "(exit status $rc, as expected: $why)"
}

# --- zorbin ---
step "zorbin: an AIF image, one file per segment"
# app.aif: an AIF image whose root (code and data at 0x8000) is followed by a chain of two
# segments, VECTORS and CALTABLE; each goes to a file of its own.
for fmt in motorola32 intel32 ihf; do
  mkdir "zorbin-$fmt"
  echo "\$ Zorbin -$fmt app.aif"
  (cd "zorbin-$fmt" && "$bin/Zorbin" -"$fmt" "$here/app.aif")
  for f in "zorbin-$fmt"/*.hex; do
    echo "-- $f"
    tr -d '\r' < "$f"
  done
done
step "zorbin: the same image with byte-reversed header words gives the same files"
mkdir zorbin-be
(cd zorbin-be && "$bin/zorbin" -motorola32 "$here/app-be.aif")
for f in CALTABLE ROOT VECTORS; do cmp "zorbin-motorola32/$f.hex" "zorbin-be/$f.hex"; done
echo "app-be.aif: same three files"
step "zorbin: -base and an output name apply to the root only: two warnings"
echo "\$ zorbin -intel32 -base 0x100 app.aif app.hex"
"$bin/zorbin" -intel32 -base 0x100 "$here/app.aif" app.hex
ls *.hex
# CALTABLE at 0x20000 is past the 16-bit mostech limit: the segments before it are written,
# CALTABLE.hex is not, and the run fails.
step "zorbin: a segment past the 16-bit mostech limit"
mkdir zorbin-mostech
echo "\$ zorbin -mostech app.aif"
fails_as_expected "CALTABLE at 0x20000 lies past mostech's 16-bit limit" \
  sh -c 'cd zorbin-mostech && exec "$1" -mostech "$2"' sh "$bin/zorbin" "$here/app.aif"
ls zorbin-mostech
# app.elf: a GNU-linked ARM executable (samples/elf/app.s and app.ld): vectors, code and
# read-only data in flash at 0x08000000, then the initial values of .data, which runs in RAM;
# a configuration block past a gap at 0x08000800. The whole image goes to one file: the
# Intel hex has a second extended address record before the second block.
step "zorbin: a GNU-linked ARM ELF executable as Intel hex"
echo "\$ zorbin -intel32 app.elf app-elf.hex"
"$bin/zorbin" -intel32 "$here/app.elf" app-elf.hex
tr -d '\r' < app-elf.hex
# cosmac carries an address only in its start line: one block, the gap filled with FF.
step "zorbin: the same ELF image as cosmac"
echo "\$ zorbin -cosmac -base 0 app.elf"
"$bin/zorbin" -cosmac -base 0 "$here/app.elf" | tr -d '\r' | head -n 8
echo "..."
# --- /zorbin ---

# --- samples/fw ---
# A Cortex-M3 program converted to Intel hex and booted from the hex file alone in QEMU's
# lm3s6965evb board: it copies .data from flash, checks a table and prints what it found.
step "zorbin: a real loader boots the converted image (QEMU, when installed)"
BIN="$bin" sh "$here/fw/run.sh"
# The flash image finished: padded to 4 KiB with erased bytes, a CRC in its last word.
step "zorbin: a finished flash image, filled and checked"
echo "\$ zorbin -info -fill 0xFF -range 0x08000000 4K -crc crc32 0x08000FFC app.elf"
"$bin/zorbin" -info -fill 0xFF -range 0x08000000 4K -crc crc32 0x08000FFC "$here/app.elf" | tr -d '\r'
# --- /samples/fw ---

# --- kelvash ---
step "kelvash: a load file for an absolute task"
# task.srec: 96 bytes at 0x8000 as S1 records, entry 0x8000 in its S9 record. task.def holds
# the task's standard parameters; -p on the command line beats the file's -p 20.
echo "\$ kelvash -v -a -p 10 -d task.def -o task.ld task.srec"
"$bin/kelvash" -v -a -p 10 -d "$here/task.def" -o task.ld "$here/task.srec"
echo "-- header of task.ld: tag, name, priority, stacks, flags, mode, entry, sections, size, start"
head -c 81 task.ld; echo
head -c 81 task.ld | awk '{ printf "%s %s", substr($0, 1, 5), substr($0, 6, 4)
                            for (i = 10; i < 82; i += 8) printf " %s", substr($0, i, 8)
                            print "" }'
tail -c +82 task.ld | cmp - "$here/task.srec"
echo "task.ld: $(wc -c < task.ld) bytes, the header and task.srec"
step "kelvash: a missing -a/-r fails before anything is written"
echo "\$ kelvash task.srec -o task.ld"
fails_as_expected "neither -a nor -r says what kind of task it is; task.ld stays as it was" \
  sh -c '"$1" "$2" -o task.ld 2> usage.txt' sh "$bin/kelvash" "$here/task.srec"
head -n 1 usage.txt
tail -c +82 task.ld | cmp - "$here/task.srec"
# --- /kelvash ---

# --- orvane ---
step "orvane: the object lists of a makefile"
"$bin/orvane" "$here/src/" "$here/objs.lst" 32l > objs.mk
cat objs.mk
# make reads the fragment as it is, CR LF line ends included.
printf 'include objs.mk\nshow: ; $(info $(words $(OBJS)) objects: $(strip $(OBJS)))\n' > objs-demo.mk
make -s -f objs-demo.mk show
# --- /orvane ---

step "echo"
"$bin/echo" firmware build kit ready

echo "demo: $steps steps run, $expected of them failed on purpose as marked; all went as expected"
