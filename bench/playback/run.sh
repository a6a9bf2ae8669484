#!/usr/bin/env bash
# Playback benchmarks: libPlayerSDK.so beside mpv, ffplay and one-thread
# ffmpeg decoding, on the same 720p25 and 1080p25 H.264+AAC clips, in a
# 740x540 window under Xvfb with no sound device. Not run by the tests.
set -euo pipefail
# One X server for the whole run, so that its own CPU time is not counted.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${BENCH_BUILD:-$here/build-bench}
media=${BENCH_MEDIA:-/tmp/playback-bench-media}
seconds=${BENCH_SECONDS:-20}
mkdir -p "$media"

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNEL_SANITIZE=OFF >/dev/null
cmake --build "$build" -j2 --target playback_bench >/dev/null
bench=$build/bin/playback_bench

for size in 1280x720 1920x1080; do
  clip=$media/clip-$size.mp4
  [ -s "$clip" ] || ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=s=$size:r=25:d=$seconds" \
      -f lavfi -i "sine=f=440:d=$seconds" -c:v libx264 -preset veryfast -crf 23 -g 50 \
      -pix_fmt yuv420p -c:a aac -shortest "$clip"
done

# CPU seconds (user + system) per second of media, and peak RSS, of a command.
measure() {
  local name=$1; shift
  local figures
  figures=$(mktemp)
  /usr/bin/time -o "$figures" -f "%U %S %M" "$@" >/dev/null 2>&1 || true
  read -r user sys rss < <(tail -1 "$figures")
  rm -f "$figures"
  awk -v n="$name" -v u="$user" -v s="$sys" -v r="$rss" -v d="$seconds" \
    'BEGIN { printf "%-13s cpu_s_per_media_s=%.3f  peak_rss_mb=%.1f\n", n, (u + s) / d, r / 1024 }'
}

export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-none}
for size in 1280x720 1920x1080; do
  clip=$media/clip-$size.mp4
  echo "== $size, ${seconds}s, window 740x540"
  "$bench" cpu "$clip"
  if command -v mpv >/dev/null; then
    measure mpv mpv --no-config --vo=x11 --ao=null \
      --geometry=740x540 --autofit=740x540 --really-quiet "$clip"
  else
    echo "mpv           not installed (apt-get install mpv)"
  fi
  measure ffplay ffplay -v quiet -an -autoexit \
    -x 740 -y 540 "$clip"
  measure "ffmpeg -f null" ffmpeg -nostdin -v error -threads 1 -i "$clip" -f null -
done
echo "== latency, 1920x1080, key frame every 2 s"
"$bench" latency "$media/clip-1920x1080.mp4"
