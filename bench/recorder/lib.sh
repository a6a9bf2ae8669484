# Helpers shared by the benchmark scripts: a release build of our own, a
# recorder on a free loopback port, a large test recording.
bench_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
bench_build=${BENCH_BUILD:-$bench_root/build-bench}

bench_build_targets() {
  local cache=()
  command -v ccache >/dev/null && cache=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  cmake -S "$bench_root" -B "$bench_build" -G Ninja -DCMAKE_BUILD_TYPE=Release "${cache[@]}" >/dev/null
  cmake --build "$bench_build" -j2 --target "$@" >/dev/null
}

# start_recorder ROOT [options...]: sets recorder_pid and recorder_port.
start_recorder() {
  local root=$1
  shift
  recorder_log=$(mktemp)
  local log=$recorder_log
  "$bench_build/bin/varnel-recorder" --root "$root" --listen 127.0.0.1 --port 0 "$@" 2>"$log" &
  recorder_pid=$!
  for _ in $(seq 100); do
    recorder_port=$(grep -o 'listening on http://127.0.0.1:[0-9]*' "$log" | sed 's/.*://' || true)
    [ -n "$recorder_port" ] && break
    sleep 0.1
  done
  [ -n "$recorder_port" ] || { echo "recorder did not start" >&2; cat "$log" >&2; exit 1; }
}

stop_recorder() {
  [ -n "${recorder_pid:-}" ] && kill "$recorder_pid" 2>/dev/null && wait "$recorder_pid" 2>/dev/null || true
  recorder_pid=
  [ -n "${recorder_log:-}" ] && rm -f "$recorder_log"
  recorder_log=
}

# make_large_recording DIR NAME MB: random bytes (no compression can help).
make_large_recording() {
  mkdir -p "$1"
  [ -f "$1/$2" ] || head -c "$(($3 * 1024 * 1024))" /dev/urandom > "$1/$2"
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}

median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
