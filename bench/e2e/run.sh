#!/usr/bin/env bash
# Load and soak figures of the whole product, from a build without sanitizers
# (their bookkeeping would hide the memory figures):
#   bench/e2e/run.sh [BUILD_DIR]     default: build-bench (configured if missing)
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$here/build-bench}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEL_SANITIZE=OFF >/dev/null
fi
cmake --build "$build" -j2 --target varnel-e2e-bench PlayerSDK varnel-recorder
export QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy
bench="$build/bin/varnel-e2e-bench"
"$bench" search
"$bench" soak 200 50
"$bench" clients 32
