#!/usr/bin/env bash
# Sets up the machine, builds the sanitized test build and runs every test.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
if [ "$(id -u)" -eq 0 ]; then bash scripts/setup.sh; else sudo bash scripts/setup.sh; fi
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVARNEL_SANITIZE=ON
cmake --build build-test -j "$(nproc)"
# Optimised builds warn more (GCC at -O3): the Release build must compile too.
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build-release -j "$(nproc)"
# The Windows programs and their suites under Wine; the Linux suites run last,
# so that their summary closes the output.
bash "$here/scripts/test-windows.sh"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1
export LSAN_OPTIONS="suppressions=$here/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd build-test
ctest --output-on-failure -j "$(nproc)" "$@"
