#!/usr/bin/env bash
# Playback as a user meets it: the real `varnel` program playing a clip in its
# own window (real Qt on a real X server, Xvfb), beside mpv showing the same
# clip at the same picture size, in the same run, and one-thread ffmpeg
# decoding as the floor no player can go under. Whole processes are measured
# from outside (CPU user + system of all threads, peak resident memory);
# start-up (launch to 5 s after the first picture) and steady state (CPU per
# second after that) apart, since users play for hours. Each player is
# watched for the first BENCH_WATCH seconds of a 60 s clip, which keeps the
# whole run within about 7 minutes on two cores. Then seeks made with real
# input events while paused, beside mpv and ffplay. Clips are made once and
# kept under out/playback. Not run by the tests.
#   BENCH_BUILD (default build-release), BENCH_RUNS (1; medians when more),
#   BENCH_SECONDS (60, the clips' length), BENCH_WATCH (30);
#   BENCH_BIN: a folder of programs already built, used as it is;
#   BENCH_CLIPS: the clips to play, by name (default all), e.g. "h264-1080p";
#   BENCH_SEEKS=0 leaves the seeks out (they need the h264-1080p clip)
set -euo pipefail
# One X server for the whole run; its own CPU time is counted for no one.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -br -nolisten tcp" bash "$0" "$@"
fi
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${BENCH_BUILD:-$here/build-release}
media=${BENCH_MEDIA:-$here/out/playback}
seconds=${BENCH_SECONDS:-60}
runs=${BENCH_RUNS:-1}
watch=${BENCH_WATCH:-30}
mkdir -p "$media"

bin=${BENCH_BIN:-$build/bin}
if [ -z "${BENCH_BIN:-}" ]; then
  [ -f "$build/build.ninja" ] || cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j2 --target varnel PlayerSDK playback_bench window_probe >/dev/null
fi
probe=$bin/window_probe
varnel=$bin/varnel

# Clips as NAME:SIZE:ENCODER:PRESET, 25 fps, key frame every 2 s, with sound:
# 10 s encoded, then repeated to the length without encoding again (60 s of
# 4K H.265 would take half an hour to encode on two shared cores).
clips=(h264-720p:1280x720:libx264:veryfast h264-1080p:1920x1080:libx264:veryfast
       h265-1080p:1920x1080:libx265:ultrafast h265-4k:3840x2160:libx265:ultrafast)
if [ -n "${BENCH_CLIPS:-}" ]; then
  chosen=()
  for entry in "${clips[@]}"; do
    [[ " $BENCH_CLIPS " == *" ${entry%%:*} "* ]] && chosen+=("$entry")
  done
  clips=("${chosen[@]}")
fi
clip_of() { echo "$media/clip-$1-${seconds}s.mp4"; }
for entry in "${clips[@]}"; do
  IFS=: read -r name size encoder preset <<<"$entry"
  clip=$(clip_of "$name")
  [ -s "$clip" ] && continue
  echo "making $(basename "$clip")" >&2
  nice ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=s=$size:r=25:d=10" -f lavfi -i "sine=f=440:d=10" \
      -c:v "$encoder" -preset "$preset" -crf 23 -g 50 -x265-params log-level=error -pix_fmt yuv420p \
      -c:a aac -shortest "$clip.piece.mp4"
  ffmpeg -nostdin -v error -y -stream_loop -1 -i "$clip.piece.mp4" -t "$seconds" -c copy "$clip.part.mp4"
  rm "$clip.piece.mp4"
  mv "$clip.part.mp4" "$clip"
done

# The main window is 402x341 dialog units; its picture area is at (18, 7),
# 370x270 units (555x405 pixels with this font), the seek bar at (52, 298),
# 297 units wide, and the Pause button centred at (96, 326).
dialog=402:341
area_box=18:7:370:270:$dialog
width=555 height=405
mpv_options=(--no-config --vo=x11 --osd-level=0 --osc=no
             --geometry=${width}x${height} --autofit=${width}x${height} --really-quiet)
ffplay_options=(-v quiet -an -autoexit -x "$width" -y "$height")
# Playing, every player decodes the sound too, as its user hears it: ours to
# SDL's silent driver, mpv to its null output, and the floor decodes both.

export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy} QT_QPA_PLATFORM=xcb
figures=$(mktemp)
trap 'rm -f "$figures" "$figures.conf"' EXIT

median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
field() { tr " " "\n" | sed -n "s/^$1=//p"; }
# play NAME COMMAND...: one run, its figures appended to $figures as
# "NAME cpu_per_media_s rss_mb first_picture_ms startup_cpu_s steady_cpu_per_s steady_shown_per_s".
play() {
  local name=$1 out
  shift
  out=$("$probe" play "$watch" "$@" 2>/dev/null) || { echo "  $name: no picture" >&2; return; }
  echo "$name $(field cpu_s <<<"$out") $(field peak_rss_mb <<<"$out") $(field first_picture_ms <<<"$out")" \
       "$(field startup_cpu_s <<<"$out") $(field steady_cpu_per_s <<<"$out") $(field steady_shown_per_s <<<"$out")" |
    awk -v d="$watch" '{printf "%s %.4f %s %s %s %s %s\n", $1, $2 / d, $3, $4, $5, $6, $7}' >> "$figures"
}
# One-thread decoding of the same stretch of the clip: no start-up to speak
# of, so its CPU per second of media is its steady state too.
floor() {
  local out
  out=$( { /usr/bin/time -f "%U %S %M" ffmpeg -nostdin -v error -threads 1 -i "$1" -t "$watch" -f null - ; } 2>&1 | tail -1)
  awk -v d="$watch" '{c = ($1 + $2) / d; printf "floor %.4f %.1f - - %.4f -\n", c, $3 / 1024, c}' <<<"$out" >> "$figures"
}
med() { awk -v n="$1" -v c="$2" '$1 == n {print $c}' "$figures" | median; }

for entry in "${clips[@]}"; do
  IFS=: read -r name size _ <<<"$entry"
  clip=$(clip_of "$name")
  : > "$figures"
  # Interleaved, so that a change in the machine's load falls on all alike.
  for _ in $(seq "$runs"); do
    play varnel --watch "$area_box" -- "$varnel" "$clip"
    play mpv -- mpv "${mpv_options[@]}" --ao=null "$clip"
    floor "$clip"
  done
  ours=$(med varnel 6) mpv_cpu=$(med mpv 6) floor_cpu=$(med floor 6)
  echo "== $name ($size, 25 fps, ${seconds}s clip, first ${watch}s watched), picture area ${width}x${height}, medians of $runs runs; load after: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "   CPU s per second of media in steady state (from 5 s after the first picture; stands only where pictures shown/s is about 25), start-up CPU s apart, whole process"
  for who in varnel mpv floor; do
    label=$who
    [ "$who" = varnel ] && label="varnel (its window)"
    [ "$who" = mpv ] && label="mpv --vo=x11 --ao=null"
    [ "$who" = floor ] && label="ffmpeg -threads 1 decode, both (floor)"
    printf "  %-33s steady=%s  shown/s=%s  startup_cpu_s=%s  whole=%s  peak_rss_mb=%s  first_picture_ms=%s  steady runs:%s\n" \
      "$label" "$(med $who 6)" "$(med $who 7)" "$(med $who 5)" "$(med $who 2)" "$(med $who 3)" "$(med $who 4)" \
      "$(awk -v n=$who '$1 == n {printf " %s", $6}' "$figures")"
  done
  awk -v a="$ours" -v m="$mpv_cpu" -v f="$floor_cpu" 'BEGIN {
    printf "  steady state: varnel / mpv: %.2fx (goal <= 0.8x); varnel / one-thread decoding: %.2fx (goal <= 1.4x)\n", a / m, a / f }'
done

[ "${BENCH_SEEKS:-1}" = 0 ] || [ ! -s "$(clip_of h264-1080p)" ] && exit 0

# Seeks while paused: ours dragged from the seek bar (a middle-button click on
# the bar, which the toolkit's slider takes as grabbing the thumb there and
# letting go: the same codes as a drag), mpv by keys bound to exact seeks to
# the same fractions, ffplay by its right-click seek (to a key frame).
clip=$(clip_of h264-1080p)
# The clip repeats 10 s of pictures, a key frame every 2 s: the targets (13.2,
# 45, 27, 58.2 and 21 s) and the key frames before them each show five
# different pictures, so that every seek, exact or to a key frame, can be
# seen to land.
fractions=(0.22 0.75 0.45 0.97 0.35)
ours_seeks=() mpv_seeks=() ffplay_seeks=()
: > "$figures.conf"
for i in "${!fractions[@]}"; do
  f=${fractions[$i]}
  ours_seeks+=("click:2:$(awk -v f="$f" 'BEGIN {print 52 + f * 297}'):306:$dialog")
  echo "$((i + 1)) seek $(awk -v f="$f" 'BEGIN {print f * 100}') absolute-percent+exact" >> "$figures.conf"
  mpv_seeks+=("key:$((i + 1))")
  ffplay_seeks+=("click:3:$f:0.5:1:1")
done
echo "== seeks while paused, 1920x1080, key frame every 2 s, to ${fractions[*]} of the clip (ms from the input to the new picture)"
echo "  varnel (seek bar):       $("$probe" seek "click:1:96:326:$dialog" "${ours_seeks[@]}" --watch "$area_box" -- "$varnel" "$clip" 2>&1 | grep seek_ms || echo failed)"
echo "  mpv (exact):             $("$probe" seek key:space "${mpv_seeks[@]}" -- mpv "${mpv_options[@]}" --no-audio --input-conf="$figures.conf" "$clip" 2>&1 | grep seek_ms || echo failed)"
echo "  ffplay (to a key frame): $("$probe" seek key:p "${ffplay_seeks[@]}" -- ffplay "${ffplay_options[@]}" "$clip" 2>&1 | grep seek_ms || echo failed)"
echo "== in-process latency, 1920x1080 (library into a picture sink, no window)"
echo "  $("$bin/playback_bench" latency "$clip")"
