#!/usr/bin/env bash
# The Windows binding's 32-bit call thunk, built as a 32-bit Linux program
# and run under qemu-i386: for machines whose kernel runs no 32-bit programs
# (and so no 32-bit Wine). Called by scripts/test-windows.sh there.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
out=build-thunk-i386
mkdir -p "$out"
# -maccumulate-outgoing-args: the caller's stack pointer stays put between
# its calls, so a read before and after a call compares like with like.
g++ -m32 -std=c++20 -O2 -static -maccumulate-outgoing-args -Wall -Wextra -Wpedantic -Werror -I. \
  tests/win32/CallThunkI386Test.cpp player/CallThunk.cpp -o "$out/call_thunk_i386_test"
timeout 60 qemu-i386-static "$out/call_thunk_i386_test"
