#!/bin/sh
# Boots the QEMU sample from zorbin's intel32 output: fw.elf converted, then the hex file alone
# loaded into an emulated Cortex-M3 board, which prints what it found and exits with that status.
# BIN names the directory of the built programs; the hex file goes to the demo's scratch
# directory under the build tree. Without qemu-system-arm: one line, and success.
set -e
BIN=${BIN:-build/bin}
here=$(cd "$(dirname "$0")" && pwd)
if ! command -v qemu-system-arm > /dev/null 2>&1; then
  echo "skipped: qemu-system-arm not installed"
  exit 0
fi
bin=$(cd "$BIN" && pwd)
out="$bin/../demo/fw"
mkdir -p "$out"
cd "$out"
echo "\$ zorbin -intel32 fw.elf fw.hex"
"$bin/zorbin" -intel32 "$here/fw.elf" fw.hex
# Semihosting output to standard output through a character device; the 20 s limit turns a
# program that never exits into a failure.
set -- qemu-system-arm -M lm3s6965evb -nographic -monitor none -serial none \
  -chardev stdio,id=semi -semihosting-config enable=on,target=native,chardev=semi \
  -device loader,file=fw.hex
echo "\$ $*"
status=0
timeout 20 "$@" 2> qemu.err || status=$?
echo "exit status $status"
[ "$status" -eq 0 ] || { cat qemu.err >&2; exit 1; }
