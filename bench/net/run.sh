#!/usr/bin/env bash
# The library's network benchmarks:
#  1. download throughput: NetStartDownload against curl (and curl + sync), fetching the same
#     recording from the same recorder into a file on the same disk: one 1 GiB download
#     (NET_BENCH_MB), then 32 at once (NET_BENCH_CLIENTS) of a 16 MB one (NET_BENCH_CLIENT_MB);
#  2. time from NetOpenStream to PLAYER_EVENT_STARTED, 1 s buffer, the
#     recorder pacing at real time (--rate 1).
# Each figure is the median of NET_BENCH_RUNS (5) runs.
set -euo pipefail
# The build that scripts/test.sh makes, unless BENCH_BUILD names another;
# BENCH_BIN: a folder of programs already built, used as it is.
if [ -n "${BENCH_BIN:-}" ]; then BENCH_BUILD=$(dirname "$BENCH_BIN"); fi
: "${BENCH_BUILD:=$(cd "$(dirname "$0")/../.." && pwd)/build-release}"
source "$(dirname "$0")/../recorder/lib.sh"
[ -n "${BENCH_BIN:-}" ] || bench_build_targets varnel-recorder net_bench

work=$(mktemp -d)
trap 'stop_recorder; rm -rf "$work"' EXIT
name=ch1_20261209_100000_110000.mp4
make_large_recording "$work/recordings" "$name" "${NET_BENCH_MB:-1024}"
# The recorder lists its folder as it starts: both recordings first.
many=${NET_BENCH_CLIENTS:-32}
# Runs of each, interleaved so that a change in the machine's load falls on
# all alike (NET_BENCH_RUNS).
runs=${NET_BENCH_RUNS:-5}
many_name=ch1_20261209_130000_131000.mp4
make_large_recording "$work/recordings" "$many_name" "${NET_BENCH_CLIENT_MB:-16}"
cat "$work/recordings/$name" "$work/recordings/$many_name" > /dev/null
start_recorder "$work/recordings"
mkdir -p "$work/out"

# Ours renames onto the destination only after an fsync of the whole file;
# curl does not flush. "curl + sync" times curl followed by an fsync of its
# files (coreutils' `sync FILE...`), the like-for-like figure.
now() { date +%s.%N; }
rate() { awk -v mb="$1" -v a="$2" -v b="$3" 'BEGIN {printf "%.0f", mb / (b - a)}'; }
# curl_many COUNT FOLDER SYNC: COUNT curls at once into FOLDER, optionally
# followed by a flush of their files; prints MB/s over all of them.
curl_many() {
  local count=$1 folder=$2 flush=$3 started i
  started=$(now)
  for i in $(seq 1 "$count"); do
    curl -s -o "$folder/c$i.mp4" -u 246135:246135 "http://127.0.0.1:$recorder_port/recordings/$name" &
  done
  wait
  [ "$flush" = sync ] && sync "$folder"/c*.mp4
  rate $((count * size_mb)) "$started" "$(now)"
}
fresh() { rm -f "$work/out/"*; sync; }

size_mb=$(($(stat -c %s "$work/recordings/$name") / 1048576))
ours=() theirs=() synced=()
for _ in $(seq "$runs"); do
  fresh
  ours+=("$("$bench_build/bin/net_bench" download "$recorder_port" "$name" "$work/out/ours.mp4" 2>/dev/null)")
  fresh
  theirs+=("$(curl_many 1 "$work/out" nosync)")
  fresh
  synced+=("$(curl_many 1 "$work/out" sync)")
done
report() {  # TITLE GOAL
  local ours_mb theirs_mb synced_mb
  ours_mb=$(printf '%s\n' "${ours[@]}" | median)
  theirs_mb=$(printf '%s\n' "${theirs[@]}" | median)
  synced_mb=$(printf '%s\n' "${synced[@]}" | median)
  echo "== $1 (median of $runs; runs: ours ${ours[*]}, curl ${theirs[*]}, curl + sync ${synced[*]})"
  echo "  NetStartDownload (fsync included): $ours_mb MB/s"
  echo "  curl (no flush):                   $theirs_mb MB/s"
  echo "  curl + sync of its files:          $synced_mb MB/s"
  awk -v a="$ours_mb" -v b="$theirs_mb" -v g="$2" 'BEGIN {printf "  ratio:                             %.2fx curl (goal >= %sx)\n", a / b, g}'
  awk -v a="$ours_mb" -v b="$synced_mb" 'BEGIN {printf "  ratio:                             %.2fx curl + sync\n", a / b}'
}
report "one download of a ${size_mb} MB recording into a file" 0.9

# Many at once: the same number of curls at once, on the same recorder.
name=$many_name
size_mb=$(($(stat -c %s "$work/recordings/$name") / 1048576))
ours=() theirs=() synced=()
for _ in $(seq "$runs"); do
  fresh
  ours+=("$("$bench_build/bin/net_bench" downloads "$recorder_port" "$name" "$many" "$work/out" 2>/dev/null)")
  fresh
  theirs+=("$(curl_many "$many" "$work/out" nosync)")
  fresh
  synced+=("$(curl_many "$many" "$work/out" sync)")
done
stop_recorder
report "$many downloads of a ${size_mb} MB recording at once, MB/s over all" 0.8
rm -f "$work/out/"*

# A sample-like recording: 20 s, 320x180, H.264 + AAC, moov first.
stream=ch1_20261209_120000_120020.mp4
ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=320x180:rate=15 \
  -f lavfi -i sine=frequency=440:sample_rate=16000 -t 20 -map 0:v -map 1:a \
  -c:v libx264 -preset veryfast -crf 30 -g 30 -pix_fmt yuv420p -c:a aac -b:a 32k -ac 1 \
  -movflags +faststart "$work/recordings/$stream"
start_recorder "$work/recordings" --rate 1
echo "== NetOpenStream to PLAYER_EVENT_STARTED, 1 s buffer, --rate 1 (goal < 1300 ms)"
echo "  $("$bench_build/bin/net_bench" stream "$recorder_port" "$stream" 5 2>/dev/null)"
