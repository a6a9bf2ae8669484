#!/usr/bin/env bash
# Heavy clips on this machine, as a user meets them: the real `varnel`
# program (its sound switch pressed), ffplay and mpv, each in its own window
# on a virtual X server, sound through SDL's disk driver, in one run. Each
# clip is 4K H.265 with film grain, a bar code of the picture's number and a
# tone with a beep at every second; window_probe reads both back and prints
# pictures shown per second, the worst lag of the picture behind the sound,
# the pace of the picture's time against the wall clock and the sound heard.
# ffplay's own status line (pictures it dropped, its A-V drift) is printed
# beside its row: a player that drops nearly every picture leaves few bar
# codes to read. Beside them, how many pictures per second ffmpeg decodes on
# two threads.
# Then one exact seek 9.9 s into a 10 s GOP of 4K H.265 with the library.
# Clips are made once and kept under out/heavy (encoding 4K takes minutes).
# Not run by the tests.
#   BENCH_BUILD (default build-release), BENCH_RUNS (1)
set -euo pipefail
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -br -nolisten tcp" bash "$0" "$@"
fi
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${BENCH_BUILD:-$here/build-release}
media=$here/out/heavy
runs=${BENCH_RUNS:-1}
mkdir -p "$media"
[ -f "$build/build.ninja" ] || cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target varnel PlayerSDK playback_bench window_probe >/dev/null
bin=$build/bin

# make CLIP SECONDS GOP: 4K H.265 (I and P pictures only, as cameras write),
# film grain, the picture's number as 10 bars across the middle, sound.
make() {
  local clip=$media/$1
  [ -s "$clip" ] && return
  local bar="nullsrc=s=10x1:r=25:d=$2,format=gray,geq=lum='255*mod(floor(N/pow(2\,X))\,2)',scale=3840:216:flags=neighbor[bar]"
  local sound="aevalsrc='0.3*sin(2*PI*440*t)+0.3*lt(mod(t\,1)\,0.05)*sin(2*PI*(1000+100*floor(t))*t)':s=48000:d=$2"
  echo "making $1 (a few minutes)" >&2
  nice ffmpeg -nostdin -v error -y \
    -f lavfi -i "testsrc2=s=3840x2160:r=25:d=$2,noise=alls=24:allf=t+u[v];$bar;[v][bar]overlay=0:972" \
    -f lavfi -i "$sound" -c:v libx265 -preset ultrafast -crf 26 -pix_fmt yuv420p \
    -x265-params "keyint=$3:min-keyint=$3:scenecut=0:bframes=0:log-level=error" -c:a aac -b:a 96k "$clip.part.mp4"
  mv "$clip.part.mp4" "$clip"
}
make grain-4k-gop2s.mp4 12 50
make seek-4k-gop10s.mp4 11 250

# The main window's picture area and sound switch (dialog units, 402x341).
dialog=402:341
area_box=18:7:370:270:$dialog
audio_switch=click:1:282:326:$dialog
width=555 height=405
sound=$(mktemp --suffix=.raw)
ffplay_status=$(mktemp)
trap 'rm -f "$sound" "$ffplay_status"' EXIT
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$sound QT_QPA_PLATFORM=xcb

clip=$media/grain-4k-gop2s.mp4
frames=$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$clip")
decode_s=$( { /usr/bin/time -f "%e" ffmpeg -nostdin -v error -threads 2 -i "$clip" -an -f null - ; } 2>&1 | tail -1)
decodable=$(awk -v n="$frames" -v s="$decode_s" 'BEGIN {printf "%.1f", n / s}')
echo "== 4K H.265 with film grain, key frame every 2 s, 12 s at 25 fps, AAC; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "  ffmpeg -threads 2 decodes $frames pictures in ${decode_s}s: $decodable pictures/s"
report() {  # NAME PROBE-OUTPUT
  local out=$2
  [ -n "$out" ] || { echo "  $1: no picture"; return; }
  awk -v name="$1" -v d="$decodable" -v line="$out" 'BEGIN {
    n = split(line, kv, " "); for (i = 1; i <= n; i++) { split(kv[i], p, "="); f[p[1]] = p[2] }
    printf "  %-22s shown/s=%5.1f (%3.0f%% of decodable)  worst lag=%5.2fs  pace=%.2fx  sound missing=%4.1fs  (%d pictures in %.1fs, %d beeps)\n",
      name, f["shown_per_s"], 100 * f["shown_per_s"] / d, f["worst_lag_s"], f["pace"],
      (12 - f["sound_heard_s"] > 0 ? 12 - f["sound_heard_s"] : 0), f["pictures"], f["wall_s"], f["beeps"] }'
}
for _ in $(seq "$runs"); do
  report "varnel (its window)" "$("$bin/window_probe" av 40 "$sound" "$audio_switch" --watch "$area_box" -- \
      "$bin/varnel" "$clip" 2>/dev/null || true)"
  report "ffplay" "$("$bin/window_probe" av 40 "$sound" -- bash -c 'exec ffplay "$@" 2>"$0"' "$ffplay_status" \
      -v quiet -stats -autoexit -x "$width" -y "$height" "$clip" 2>/dev/null || true)"
  tr '\r' '\n' < "$ffplay_status" | awk '$2 == "A-V:" && $3 ~ /^-?[0-9.]+$/ {
      d = $3 < 0 ? -$3 : $3; if (d > worst) worst = d
      if (match($0, /fd= *[0-9]+/)) { dropped = substr($0, RSTART + 3, RLENGTH - 3) + 0 } }
    END { printf "    (ffplay by its own status line: %d pictures dropped, worst A-V %.2fs)\n", dropped, worst }'
  report "mpv --ao=sdl" "$("$bin/window_probe" av 40 "$sound" -- mpv --no-config --vo=x11 --ao=sdl --audio-format=s16 \
      --audio-channels=mono --audio-samplerate=48000 --osd-level=0 --osc=no --geometry=${width}x${height} \
      --autofit=${width}x${height} --really-quiet "$clip" 2>/dev/null || true)"
done
echo "  (goals for varnel: no sound missing, pace >= 0.9x, worst lag <= 3 s, >= 60 % of decodable shown)"

echo "== exact seek 9.9 s into a 10 s GOP, 4K H.265, library into a picture sink (no window), load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "  $("$bin/playback_bench" seek "$media/seek-4k-gop10s.mp4" 9900)"
echo "  (goal: a picture within 1.5 s)"
