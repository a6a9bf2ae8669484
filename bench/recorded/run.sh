#!/usr/bin/env bash
# Files as recorders and cameras leave them, played by libPlayerSDK.so, ffplay
# and mpv in the same run; per file and player: pictures shown, how far play
# went, whether the end came, and whether sound was played.
#  - the library: bench/recorded/RecordedPlay.cpp, the library through its entry
#    points into an in-process picture sink (nothing drawn on screen), sound
#    through SDL's disk driver ("sound" = some of it not silent). "reached" is
#    the furthest play time it reported; "total" its total time at open -> end.
#  - ffplay under Xvfb, sound to SDL's disk driver, pictures never dropped;
#    mpv with --vo=null --ao=null. Both count the pictures and sound frames
#    that reach their output through a showinfo/ashowinfo filter; "reached" is
#    the last picture's own timestamp (a file whose timestamps jump shows it).
# Every player is stopped after LIMIT seconds (default 25).
. "$(dirname "$0")/../support/setup.sh"
# ffplay needs a display: the whole run goes under one Xvfb.
bench_need_display "$@"
media=$(bench_media /tmp/recorded-bench-media)
limit=${LIMIT:-25}
play=$(bench_target recorded_play)

ff() { ffmpeg -nostdin -v error -y "$@"; }
picture() { echo "-f lavfi -i testsrc2=s=320x240:r=25:d=$1"; }
sound() { echo "-f lavfi -i sine=f=440:r=${2:-48000}:d=$1"; }
make_once() { local out=$1; shift; [ -s "$out" ] || ff "$@" "$out"; }

# Two 5 s recording sessions joined, the second 1 h later (or earlier).
for way in forward backward; do
  out=$media/jump-$way.ts
  [ -s "$out" ] && continue
  first=0; second=3600
  [ $way = backward ] && { first=3600; second=0; }
  ff $(picture 5) $(sound 5) -c:v libx264 -g 25 -c:a aac -output_ts_offset $first "$media/a.ts"
  ff $(picture 5) $(sound 5) -c:v libx264 -g 25 -c:a aac -output_ts_offset $second "$media/b.ts"
  cat "$media/a.ts" "$media/b.ts" > "$out"
done
make_once "$media/whole.mp4" $(picture 10) $(sound 10) -c:v libx264 -g 25 -c:a aac -movflags +faststart
make_once "$media/whole-frag.mp4" -i "$media/whole.mp4" -c copy -movflags frag_keyframe+empty_moov+default_base_moof
make_once "$media/whole.mkv" -i "$media/whole.mp4" -c copy
for name in whole.mp4 whole-frag.mp4 whole.mkv; do
  half=$media/${name%.*}-half.${name##*.}
  [ -s "$half" ] || head -c $(( $(stat -c %s "$media/$name") / 2 )) "$media/$name" > "$half"
done
make_once "$media/g711.mov" $(picture 5) $(sound 5 8000) -c:v libx264 -g 25 -c:a pcm_alaw
make_once "$media/raw-15fps.h264" -f lavfi -i testsrc2=s=320x240:r=15:d=5 -c:v libx264 -g 15 -f h264
make_once "$media/hevc-mid-gop.ts" $(picture 6) -c:v libx265 -x265-params log-level=none:keyint=50 \
  -bsf:v "noise=drop='lt(n\,12)'" -f mpegts

sound_file=$media/sound.raw
lib() {
  rm -f "$sound_file"
  printf '  %-8s ' library
  SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$sound_file "$play" "$1" "$sound_file" "$limit" 2>/dev/null
}
# Reads a showinfo/ashowinfo log on standard input; a picture counts once
# (mpv may pass one through its filter twice): by its timestamp, or by its
# number when it has none (ffplay on a raw stream).
summarise() {
  awk -v wall="$1" '
    /showinfo.*n:/ && !/ashowinfo/ {
      if (match($0, /pts_time:[-0-9.e]+/)) { key = substr($0, RSTART + 9, RLENGTH - 9); last = key; timed = 1 }
      else if (match($0, /n: *[0-9]+/)) key = "n" (substr($0, RSTART + 2, RLENGTH - 2) + 0)
      if (!(key in seen)) { seen[key] = 1; n++ } }
    /ashowinfo.*n:/ { a++ }
    END { reached = timed ? sprintf("%6.2fs (last picture timestamp)", last) : "  none (pictures without timestamps)"
          printf "pictures=%-4d reached=%s  wall=%5.1fs sound=%s\n", n, reached, wall, (a > 0 ? "yes" : "no") }'
}
timed() {
  local start end
  start=$(date +%s.%N)
  "$@" > "$media/log" 2>&1 || true
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.1f", e - s }'
}
ffp() {
  printf '  %-8s ' ffplay
  local wall
  wall=$(timed timeout "$limit" env SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null \
    ffplay -hide_banner -loglevel info -autoexit -noframedrop -vf showinfo -af ashowinfo "$1")
  summarise "$wall" < "$media/log"
}
mpvp() {
  printf '  %-8s ' mpv
  local wall
  wall=$(timed timeout "$limit" mpv --no-config --vo=null --ao=null --vf=lavfi=[showinfo] --af=lavfi=[ashowinfo] \
    --msg-level=all=debug "$1")
  summarise "$wall" < "$media/log"
}

row() { echo "== $1"; shift; for p in lib ffp mpvp; do $p "$@"; done; }
row "MPEG-TS, 5 s + 5 s, timestamps jump forward by 1 h at the join" "$media/jump-forward.ts"
row "MPEG-TS, 5 s + 5 s, timestamps jump backward by 1 h at the join" "$media/jump-backward.ts"
row "MP4, index at the front, 10 s cut to half its bytes" "$media/whole-half.mp4"
row "fragmented MP4, 10 s cut to half its bytes" "$media/whole-frag-half.mp4"
row "Matroska, 10 s cut to half its bytes (its header still says 10 s)" "$media/whole-half.mkv"
row "H.264 + G.711 A-law 8 kHz in MOV, 5 s" "$media/g711.mov"
row "raw H.264 at 15 pictures/s, 5 s, no timestamps" "$media/raw-15fps.h264"
row "H.265 MPEG-TS starting mid-GOP (first 12 packets dropped), 6 s" "$media/hevc-mid-gop.ts"

# A 10 s recording written in real time; each player starts 5 s after its writer.
echo "== MPEG-TS still being written (10 s, opened 5 s after the writer began)"
for p in lib ffp mpvp; do
  growing=$media/growing.ts
  rm -f "$growing"
  ff -re $(picture 10) $(sound 10) -c:v libx264 -tune zerolatency -g 25 -c:a aac -f mpegts -flush_packets 1 "$growing" &
  writer=$!
  sleep 5
  $p "$growing"
  wait "$writer"
done
