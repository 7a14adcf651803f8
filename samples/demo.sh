#!/bin/sh
# The kit's main job on the bundled samples. BIN names the directory of the built programs.
# Outputs go to a scratch directory under the build tree; the samples themselves stay untouched.
set -e
BIN=${BIN:-build/bin}
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$BIN" && pwd)
out="$bin/../demo"
rm -rf "$out"
mkdir -p "$out"
cd "$out"

# --- zorbin ---
# --- /zorbin ---

# --- kelvash ---
# --- /kelvash ---

# --- orvane ---
echo "== orvane"
"$bin/orvane" "$here/src/" "$here/objs.lst" 32l > objs.mk
cat objs.mk
# make reads the fragment as it is, CR LF line ends included.
printf 'include objs.mk\nshow: ; $(info $(words $(OBJS)) objects: $(strip $(OBJS)))\n' > objs-demo.mk
make -s -f objs-demo.mk show
# --- /orvane ---

echo "== echo"
"$bin/echo" firmware build kit ready
