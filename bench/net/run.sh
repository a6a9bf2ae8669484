#!/usr/bin/env bash
# The library's network benchmarks:
#  1. download throughput: NetStartDownload against curl (and curl + sync), fetching the same
#     recording from the same recorder into a file on the same disk;
#  2. time from NetOpenStream to PLAYER_EVENT_STARTED, 1 s buffer, the
#     recorder pacing at real time (--rate 1).
set -euo pipefail
source "$(dirname "$0")/../recorder/lib.sh"
bench_build_targets varnel-recorder net_bench

work=$(mktemp -d)
trap 'stop_recorder; rm -rf "$work"' EXIT
name=ch1_20261209_100000_110000.mp4
make_large_recording "$work/recordings" "$name" 1024
cat "$work/recordings/$name" > /dev/null
start_recorder "$work/recordings"
mkdir -p "$work/out"

# Ours renames onto the destination only after an fsync of the whole file;
# curl does not flush. "curl + sync" times curl followed by an fsync of its
# file (coreutils' `sync FILE`), the like-for-like figure.
size_mb=$(($(stat -c %s "$work/recordings/$name") / 1048576))
now() { date +%s.%N; }
ours=() theirs=() synced=()
for _ in 1 2 3; do
  rm -f "$work/out/"*
  sync
  ours+=("$("$bench_build/bin/net_bench" download "$recorder_port" "$name" "$work/out/ours.mp4" 2>/dev/null)")
  rm -f "$work/out/"*
  sync
  theirs+=("$(curl -s -o "$work/out/curl.mp4" -w '%{speed_download}' -u 246135:246135 \
    "http://127.0.0.1:$recorder_port/recordings/$name" | awk '{printf "%.0f", $1 / 1048576}')")
  rm -f "$work/out/"*
  sync
  started=$(now)
  curl -s -o "$work/out/curl.mp4" -u 246135:246135 "http://127.0.0.1:$recorder_port/recordings/$name"
  sync "$work/out/curl.mp4"
  synced+=("$(awk -v mb="$size_mb" -v a="$started" -v b="$(now)" 'BEGIN {printf "%.0f", mb / (b - a)}')")
done
stop_recorder
ours_mb=$(printf '%s\n' "${ours[@]}" | median)
theirs_mb=$(printf '%s\n' "${theirs[@]}" | median)
synced_mb=$(printf '%s\n' "${synced[@]}" | median)
echo "== downloading a 1 GiB recording into a file (median of 3; runs: ours ${ours[*]}, curl ${theirs[*]}, curl + sync ${synced[*]})"
echo "  NetStartDownload (fsync included): $ours_mb MB/s"
echo "  curl (no flush):                   $theirs_mb MB/s"
echo "  curl + sync of its file:           $synced_mb MB/s"
awk -v a="$ours_mb" -v b="$theirs_mb" 'BEGIN {printf "  ratio:                             %.2fx curl (goal >= 0.9x)\n", a / b}'
awk -v a="$ours_mb" -v b="$synced_mb" 'BEGIN {printf "  ratio:                             %.2fx curl + sync\n", a / b}'

# A sample-like recording: 20 s, 320x180, H.264 + AAC, moov first.
stream=ch1_20261209_120000_120020.mp4
ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=320x180:rate=15 \
  -f lavfi -i sine=frequency=440:sample_rate=16000 -t 20 -map 0:v -map 1:a \
  -c:v libx264 -preset veryfast -crf 30 -g 30 -pix_fmt yuv420p -c:a aac -b:a 32k -ac 1 \
  -movflags +faststart "$work/recordings/$stream"
start_recorder "$work/recordings" --rate 1
echo "== NetOpenStream to PLAYER_EVENT_STARTED, 1 s buffer, --rate 1 (goal < 1300 ms)"
echo "  $("$bench_build/bin/net_bench" stream "$recorder_port" "$stream" 5 2>/dev/null)"
