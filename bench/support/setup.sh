# Set-up shared by the scripts that play media with libPlayerSDK.so beside
# ffplay and mpv: a display for ffplay, a Release build of our own
# (BENCH_BUILD, default build-bench) and a folder for the media they make.
set -euo pipefail
bench_here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
bench_build=${BENCH_BUILD:-$bench_here/build-bench}

# bench_need_display "$@": runs the calling script again under Xvfb when there
# is no display.
bench_need_display() {
  [ -n "${DISPLAY:-}" ] || exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
}

# bench_media DEFAULT: the media folder (BENCH_MEDIA, else DEFAULT), made.
bench_media() {
  local media=${BENCH_MEDIA:-$1}
  mkdir -p "$media"
  echo "$media"
}

# bench_target NAME: builds that target of the Release build and prints its path.
bench_target() {
  cmake -S "$bench_here" -B "$bench_build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNEL_SANITIZE=OFF \
    -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache >/dev/null
  cmake --build "$bench_build" -j2 --target "$1" >/dev/null
  echo "$bench_build/bin/$1"
}
