#!/usr/bin/env bash
# Load and soak figures of the whole product, from an optimised build without
# sanitizers (their bookkeeping would hide the memory figures):
#   bench/e2e/run.sh [BUILD_DIR]     default: build-release, the one scripts/test.sh makes
#                                    (configured if missing)
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-${BENCH_BUILD:-$here/build-release}}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNEL_SANITIZE=OFF >/dev/null
fi
cmake --build "$build" -j2 --target varnel-e2e-bench PlayerSDK varnel-recorder >/dev/null
export QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy
bench="$build/bin/varnel-e2e-bench"
status=0
"$bench" search || status=1
"$bench" soak 200 50 || status=1
"$bench" clients 32 || status=1
exit $status
