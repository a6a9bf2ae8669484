#!/usr/bin/env bash
# Builds libPlayerSDK.so and the engine stress with ThreadSanitizer in a build
# folder of its own (build-tsan) and runs 500 loops, each of open / sound on /
# play / seek / close of a local clip with sound and open / sound on /
# re-buffer / close of the same clip as a network stream that loses its
# connection (see EngineStress.cpp); sound through SDL's dummy driver. Fails
# on any report. About 11 minutes. Usage: bench/engine/tsan.sh [LOOPS]
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${TSAN_BUILD:-$here/build-tsan}
loops=${1:-500}
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEL_SANITIZE=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
  -DCMAKE_C_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread \
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache >/dev/null
cmake --build "$build" -j2 --target engine_stress >/dev/null
media=$(mktemp -d)
trap 'rm -rf "$media"' EXIT
clip=$media/clip.mp4
ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=s=160x120:r=25:d=3" -f lavfi -i "sine=f=440:d=3" \
  -c:v libx264 -preset veryfast -g 25 -c:a aac -shortest -movflags +faststart "$clip"
SDL_AUDIODRIVER=dummy TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1:suppressions=$here/bench/engine/tsan.supp" \
  "$build/bin/engine_stress" "$clip" "$loops"
