#!/usr/bin/env bash
# Indexing a folder of 100,000 segments in the nested layout
#   cam<C>/<YYYY-MM-DD>/<HH>/<MM>.<SS>.mp4   (4 channels, 10 s segments)
# with the real varnel-recorder on the real disk, and one-day queries over
# HTTP, side by side with find(1) walking and stat-ing the same folder.
#  - first start: the walk that indexes the names (time to listening), then
#    the background probe of every file's real length (first-run cost);
#  - second start: the walk again, the lengths from the kept probe answers;
#  - a one-day query of one channel (8,640 segments), curl round trip.
# The segments are hard links to a 10 s MP4 of a few KB, so the folder is
# 100,000 real directory entries and inodes to stat, but little data; the
# page cache is warm (the folder was just made).
set -euo pipefail
source "$(dirname "$0")/lib.sh"
bench_build_targets varnel-recorder
count=${SEGMENTS:-100000}

work=$(mktemp -d)
trap 'stop_recorder; rm -rf "$work"' EXIT
ffmpeg -nostdin -hide_banner -loglevel error -f lavfi -i testsrc2=size=64x36:rate=5 -t 10 \
  -c:v libx264 -preset ultrafast -g 50 -pix_fmt yuv420p -threads 1 "$work/one.mp4"
python3 - "$work/one.mp4" "$work/folder" "$count" <<'PY'
import datetime, os, shutil, sys
one, root, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
# A file takes at most 65,000 links: a copy for every 50,000.
sources = [one + f".{k}" for k in range(count // 50000 + 1)]
for s in sources:
    shutil.copyfile(one, s)
start = datetime.datetime(2026, 12, 1)
made = set()
for i in range(count):
    channel, slot = i % 4 + 1, i // 4
    t = start + datetime.timedelta(seconds=10 * slot)
    folder = os.path.join(root, f"cam{channel}", t.strftime("%Y-%m-%d"), t.strftime("%H"))
    if folder not in made:
        os.makedirs(folder, exist_ok=True)
        made.add(folder)
    os.link(sources[i // 50000], os.path.join(folder, t.strftime("%M.%S.mp4")))
PY
folders=$(find "$work/folder" -type d | wc -l)
echo "== $count segments in $folders folders"

TIMEFORMAT='%R %U %S'
find_times=$( { time find "$work/folder" -type f -printf '%s %T@ %p\n' > /dev/null; } 2>&1)
find_ms=$(echo "$find_times" | awk '{printf "%.0f", $1 * 1000}')
find_cpu=$(echo "$find_times" | awk '{printf "%.0f", ($2 + $3) * 1000}')

pattern='%{channel}/%Y-%m-%d/%H/%M.%S.mp4'
# start_and_time: sets started_ms (exec to listening, as seen from here).
start_and_time() {
  local t0 t1
  t0=$(date +%s.%N)
  start_recorder "$work/folder" --pattern "$pattern"
  t1=$(date +%s.%N)
  started_ms=$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.0f", (b - a) * 1000}')
}
wait_probed() {
  for _ in $(seq 6000); do
    grep -q 'background probing done' "$recorder_log" && return 0
    sleep 0.1
  done
  echo "probing did not finish in 10 minutes" >&2
  return 1
}
indexed_ms() { grep -o 'indexed in [0-9.]* ms' "$recorder_log" | awk '{print $3}'; }
cpu_ms() { grep -o '[0-9]* ms of CPU' "$recorder_log" | awk '{print $1}'; }
probed_line() { grep -o 'background probing done.*' "$recorder_log" || echo "none"; }

start_and_time
first_indexed=$(indexed_ms)
first_cpu=$(cpu_ms)
first_started=$started_ms
wait_probed
first_probe=$(probed_line)
# The recorder's own CPU time so far (/proc, in clock ticks), since the wall
# clock of a loaded machine mostly measures waiting for a core.
ticks() { awk '{print $14 + $15}' "/proc/$recorder_pid/stat"; }
probe_cpu=$(awk -v t="$(ticks)" -v hz="$(getconf CLK_TCK)" 'BEGIN {printf "%.0f", t * 1000 / hz}')
url="http://127.0.0.1:$recorder_port/api/search?channel=2&type=1&limit=1&start=20261202000000&end=20261202235959"
lines=$(curl -s -u 246135:246135 "$url" | wc -l)
# The recorder's own CPU time per query too.
ticks_before=$(ticks)
query_ms=$(for _ in $(seq 51); do curl -s -o /dev/null -w '%{time_total}\n' -u 246135:246135 "$url"; done |
  median | awk '{printf "%.2f", $1 * 1000}')
query_cpu=$(awk -v a="$ticks_before" -v b="$(ticks)" -v hz="$(getconf CLK_TCK)" 'BEGIN {printf "%.1f", (b - a) * 1000 / hz / 51}')
login_ms=$(for _ in $(seq 21); do curl -s -o /dev/null -w '%{time_total}\n' -u 246135:246135 \
  "http://127.0.0.1:$recorder_port/api/login"; done | median | awk '{printf "%.2f", $1 * 1000}')
stop_recorder

start_and_time
second_indexed=$(indexed_ms)
second_cpu=$(cpu_ms)
second_started=$started_ms
answers=$(grep -o '[0-9]* probe answers kept' "$recorder_log" | awk '{print $1}')
stop_recorder

echo "== first start (no probe answers yet)"
echo "  names indexed:          ${first_indexed} ms, ${first_cpu} ms of CPU (exec to listening ${first_started} ms; goal < 5000 ms)"
echo "  real lengths, probed:   ${first_probe#background probing done: } (in the background on $(nproc) threads, searches served meanwhile; ${probe_cpu} ms of CPU from exec)"
echo "== second start (probe answers kept for $answers files)"
echo "  indexed with lengths:   ${second_indexed} ms, ${second_cpu} ms of CPU (exec to listening ${second_started} ms)"
echo "  find -printf size,mtime: ${find_ms} ms, ${find_cpu} ms of CPU (the same walk and stat, for reference)"
echo "  (load average while measuring: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores)"
echo "== one-day query of one channel over HTTP (curl, median of 51)"
echo "  /api/search:            ${query_ms} ms for $lines recordings, ${query_cpu} ms of the recorder's CPU each (goal < 10 ms)"
echo "  /api/login:             ${login_ms} ms (the same round trip with an empty answer)"
