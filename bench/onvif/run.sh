#!/usr/bin/env bash
# Our recorder's HTTP protocol and ONVIF side by side, in one run: one folder
# served by two varnel-recorders on 127.0.0.1, one speaking our protocol only,
# the other an ONVIF device as well (--rtsp-port; the library then speaks
# ONVIF to it), both read through the library's entry points as the remote
# window calls them (onvif_bench: a harness, pictures counted, no window):
#  1. a one-day search of 10 s segments, back to back (channel 1) and with a
#     5 s gap after each (channel 3): rows returned, rows/s;
#  2. one download of a 60 s 1280x720 H.264 + AAC recording (channel 2):
#     MB/s of the file written, the file checked with ffprobe;
#  3. a stream of that recording with the window's 20 s buffer: ms to
#     STARTED and to the first picture, then a seek to 30 s: ms to the
#     picture there.
# Each figure is the median of ONVIF_BENCH_RUNS (3), the two protocols taken
# in turns so that a change in the machine's load falls on both alike.
set -euo pipefail
if [ -n "${BENCH_BIN:-}" ]; then BENCH_BUILD=$(dirname "$BENCH_BIN"); fi
: "${BENCH_BUILD:=$(cd "$(dirname "$0")/../.." && pwd)/build-release}"
source "$(dirname "$0")/../recorder/lib.sh"
[ -n "${BENCH_BIN:-}" ] || bench_build_targets varnel-recorder onvif_bench
bench=$bench_build/bin/onvif_bench
runs=${ONVIF_BENCH_RUNS:-3}
day=20260302

work=$(mktemp -d)
http_pid= onvif_pid=
stop_both() {
  local pid
  for pid in $http_pid $onvif_pid; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  http_pid= onvif_pid=
}
trap 'stop_both; rm -rf "$work"' EXIT
root=$work/recordings

# One 10 s segment, linked under every name of the day: the recorder reads
# names, not bytes, to list them.
ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=320x180:rate=25 \
  -f lavfi -i sine=frequency=440:sample_rate=16000 -t 10 -map 0:v -map 1:a \
  -c:v libx264 -preset ultrafast -g 50 -pix_fmt yuv420p -c:a aac -b:a 32k -ac 1 \
  -movflags +faststart "$work/segment.mp4"
lay_day() {  # CHANNEL EVERY_SECONDS: 10 s segments starting every EVERY_SECONDS
  python3 - "$work/segment.mp4" "$root/ch$1/$day" "$1" "$day" "$2" <<'PY'
import os, sys
segment, folder, channel, day, every = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5])
os.makedirs(folder, exist_ok=True)
hms = lambda s: "%02d%02d%02d" % (s // 3600, s // 60 % 60, s % 60)
for s in range(0, 86400 - 9, every):
    os.link(segment, "%s/ch%s_%s_%s_%s.mp4" % (folder, channel, day, hms(s), hms(min(s + 10, 86399))))
PY
}
lay_day 1 10
lay_day 3 15
mkdir -p "$root/ch2/$day"
large=$root/ch2/$day/ch2_${day}_120000_120100.mp4
ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=1280x720:rate=25 \
  -f lavfi -i sine=frequency=440:sample_rate=48000 -t 60 -map 0:v -map 1:a \
  -c:v libx264 -preset ultrafast -b:v 4M -g 50 -pix_fmt yuv420p -c:a aac -b:a 64k \
  -movflags +faststart "$large"
cat "$large" > /dev/null

# start RECORDER_VAR INDEX_FILE [options]: a recorder on a free port; sets
# ${RECORDER_VAR}_pid and ${RECORDER_VAR}_port.
start() {
  local var=$1 index=$2 log=$work/$1.log port=
  shift 2
  "$bench_build/bin/varnel-recorder" --root "$root" --listen 127.0.0.1 --port 0 --index-file "$index" "$@" \
    2>"$log" &
  printf -v "${var}_pid" %s $!
  for _ in $(seq 300); do
    port=$(grep -o 'listening on http://127.0.0.1:[0-9]*' "$log" | sed 's/.*://' || true)
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { echo "recorder did not start" >&2; cat "$log" >&2; exit 1; }
  printf -v "${var}_port" %s "$port"
}
start http "$work/http.index"
start onvif "$work/onvif.index" --rtsp-port 0
# Both have listed the folder once a search finds the last segment of the day.
for port in $http_port $onvif_port; do
  for _ in $(seq 600); do
    [ "$("$bench" search "$port" 1 "$day" 2>/dev/null | head -n 1 | cut -d' ' -f1)" -ge 1 ] 2>/dev/null && break
    sleep 0.5
  done
done

declare -A figures
note() { figures[$1]+="$2 "; }
med() { printf '%s\n' ${figures[$1]} | median; }
all() { echo "${figures[$1]% }"; }

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for _ in $(seq "$runs"); do
  for protocol in http onvif; do
    port_var=${protocol}_port
    port=${!port_var}
    for channel in 1 3; do
      read -r count ms per_s < <("$bench" search "$port" "$channel" "$day" | head -n 1)
      note "$protocol.rows$channel" "$count"
      note "$protocol.rate$channel" "$per_s"
      note "$protocol.ms$channel" "$ms"
    done
    name=$("$bench" search "$port" 2 "$day" | sed -n 2p)
    note "$protocol.size" "$(cut -f2 <<<"$name")"
    name=$(cut -f1 <<<"$name")
    rm -f "$work/$protocol.mp4"
    read -r mb seconds bytes < <("$bench" download "$port" "$name" "$work/$protocol.mp4")
    note "$protocol.mb" "$mb"
    note "$protocol.bytes" "$bytes"
    read -r started picture seek < <("$bench" stream "$port" "$name" 30000 1)
    note "$protocol.started" "$started"
    note "$protocol.picture" "$picture"
    note "$protocol.seek" "$seek"
  done
done
stop_both

probe() {
  ffprobe -v error -show_entries stream=codec_name:format=duration -of csv=p=0 "$1" | paste -sd' '
}
echo "== load before: $load_before (medians of $runs runs; all runs in brackets)"
row() {  # LABEL KEY UNIT
  printf '  %-44s %12s %12s   [%s | %s]\n' "$1" "$(med "http.$2")" "$(med "onvif.$2")" "$(all "http.$2")" \
    "$(all "onvif.$2")"
}
printf '  %-44s %12s %12s\n' "" "our HTTP" "ONVIF"
echo "== one-day search of 10 s segments, back to back (ONVIF: one row per stretch)"
row "rows returned" rows1
row "rows/s" rate1
row "ms" ms1
echo "== one-day search of 10 s segments, a 5 s gap after each"
row "rows returned" rows3
row "rows/s" rate3
row "ms" ms3
echo "== one download of a 60 s 1280x720 recording ($(($(stat -c %s "$large") / 1048576)) MB)"
row "size column of its row (bytes)" size
row "MB/s of the file written (fsync included)" mb
row "bytes written" bytes
echo "  ffprobe, source:   $(probe "$large")"
echo "  ffprobe, our HTTP: $(probe "$work/http.mp4")"
echo "  ffprobe, ONVIF:    $(probe "$work/onvif.mp4")"
echo "== a stream of it, the window's 20 s buffer, then a seek to 30 s"
row "ms from NetOpenStream to STARTED" started
row "ms from NetOpenStream to the first picture" picture
row "ms from the seek to the picture at 30 s" seek
echo "== load after: $(cut -d' ' -f1-3 /proc/loadavg)"
