#!/bin/sh
# The kit's main job on the bundled samples. BIN names the directory of the built programs.
set -e
BIN=${BIN:-build/bin}
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$BIN" && pwd)

echo "== echo"
"$bin/echo" firmware build kit ready
