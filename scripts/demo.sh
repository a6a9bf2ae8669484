#!/usr/bin/env bash
# Sets up the machine, builds the player, makes the sample recordings if they
# are missing, starts the recorder with them on 127.0.0.1:3000, and opens the
# player on a sample file beside the remote window, ready to search the
# recorder at 127.0.0.1. The recorder stops when both windows have closed.
#
# With no display (DISPLAY unset) the windows run on a virtual X server for a
# few seconds and screenshots of them are saved under out/demo/.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
if [ "$(id -u)" -eq 0 ]; then bash scripts/setup.sh; else sudo bash scripts/setup.sh; fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

bin=$here/build/bin
samples=$here/out/samples
bash recorder/make-samples.sh "$samples"

# Snapshots, cuts and downloads ("C:\haha.bmp", "d:\test.mp4", ...) land here.
export PLAYERSDK_DRIVE_ROOT=$here/out/drives
mkdir -p "$PLAYERSDK_DRIVE_ROOT"

"$bin/varnel-recorder" --root "$samples" --listen 127.0.0.1 --port 3000 &
recorder=$!
trap 'kill $recorder 2>/dev/null; wait $recorder 2>/dev/null || true' EXIT

sample=$(find "$samples/ch1" -name '*.mp4' | sort | head -n 1)
echo "demo: recorder on 127.0.0.1:3000 serving $samples"
echo "demo: playing $sample"

run_windows() {
  "$bin/varnel" "$sample" &
  local player=$!
  "$bin/varnel-remote" --address 127.0.0.1 &
  local remote=$!
  wait $player || true
  wait $remote || true
}

if [ -n "${DISPLAY:-}" ]; then
  run_windows
else
  echo "demo: no display; running on a virtual X server and saving screenshots to out/demo/"
  mkdir -p out/demo
  xvfb-run -a -s "-screen 0 1600x1000x24" bash -c '
    "$0/varnel" "$1" & player=$!
    "$0/varnel-remote" --address 127.0.0.1 & remote=$!
    sleep 6
    import -window root "$2/demo.png"
    kill $player $remote 2>/dev/null
    wait 2>/dev/null || true
  ' "$bin" "$sample" "$here/out/demo"
  echo "demo: saved out/demo/demo.png"
fi
