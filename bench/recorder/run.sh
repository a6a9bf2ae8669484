#!/usr/bin/env bash
# The recorder's benchmarks:
#  1. search over a synthetic index of 1,000,000 recordings (one channel, one day);
#  2. serving throughput of one large recording against nginx serving the
#     same file, both fetched by curl -o /dev/null on loopback;
#  3. a crowd of 1000 hostile connections (500 slow headers, 500 idle) while a
#     login, the library's search, download and stream, and 64 downloads at
#     once go on.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
command -v nginx >/dev/null || { echo "nginx missing: bash scripts/setup.sh" >&2; exit 1; }
bench_build_targets varnel-recorder recorder_search_bench recorder_crowd_bench

echo "== search over 1,000,000 recordings"
"$bench_build/bin/recorder_search_bench"

work=$(mktemp -d)
trap 'stop_recorder; [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null; rm -rf "$work"' EXIT
name=ch1_20261209_100000_110000.mp4
make_large_recording "$work/recordings" "$name" 1024
start_recorder "$work/recordings"

nginx_port=$(free_port)
mkdir -p "$work/nginx"
chmod 755 "$work" "$work/recordings"  # nginx's workers read as their own user
cat > "$work/nginx/nginx.conf" <<CONF
worker_processes 1;
daemon on;
pid $work/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  client_body_temp_path $work/nginx;
  proxy_temp_path $work/nginx;
  fastcgi_temp_path $work/nginx;
  uwsgi_temp_path $work/nginx;
  scgi_temp_path $work/nginx;
  server {
    listen 127.0.0.1:$nginx_port;
    root $work/recordings;
  }
}
CONF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx"
sleep 0.5

# Warm the page cache, then fetch each five times in turn.
cat "$work/recordings/$name" > /dev/null
ours=() theirs=()
for _ in 1 2 3 4 5; do
  ours+=("$(curl -s -o /dev/null -w '%{speed_download}' -u 246135:246135 "http://127.0.0.1:$recorder_port/recordings/$name")")
  theirs+=("$(curl -s -o /dev/null -w '%{speed_download}' "http://127.0.0.1:$nginx_port/$name")")
done
ours_mb=$(printf '%s\n' "${ours[@]}" | median | awk '{printf "%.0f", $1 / 1048576}')
theirs_mb=$(printf '%s\n' "${theirs[@]}" | median | awk '{printf "%.0f", $1 / 1048576}')
echo "== serving a 1 GiB recording to curl -o /dev/null (median of 5, taken in turns)"
echo "  varnel-recorder: $ours_mb MB/s"
echo "  nginx:           $theirs_mb MB/s"
awk -v a="$ours_mb" -v b="$theirs_mb" 'BEGIN {printf "  ratio:           %.2fx nginx (goal >= 0.7x)\n", a / b}'

echo "== a crowd of 1000 hostile connections on the recorder (loopback)"
media=ch1_20261209_080000_080010.mp4
crowd_large=ch1_20261209_120000_130000.mp4
ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc2=size=320x180:rate=25 \
  -f lavfi -i sine=frequency=440:sample_rate=48000 -t 10 -c:v libx264 -preset ultrafast -g 25 \
  -pix_fmt yuv420p -c:a aac -movflags +faststart "$work/recordings/$media"
make_large_recording "$work/recordings" "$crowd_large" 32
stop_recorder
start_recorder "$work/recordings"
"$bench_build/bin/recorder_crowd_bench" "$recorder_port" "$work/recordings" "$media" "$crowd_large"
