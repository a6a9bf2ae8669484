#!/usr/bin/env bash
# Sets up the machine, builds the programs, makes the sample recordings if
# they are missing, starts the recorder with them on 127.0.0.1:3000, and opens
# the player on a sample file with the remote window beside it. The remote
# window searches the recorder at 127.0.0.1 at once and plays the first
# recording found as a stream. The recorder stops when both windows have
# closed.
#
# With no display (DISPLAY unset) the windows run on a virtual X server for a
# few seconds and a screenshot of both is saved as out/demo/demo.png.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
if [ "$(id -u)" -eq 0 ]; then bash scripts/setup.sh; else sudo bash scripts/setup.sh; fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target varnel varnel-remote varnel-recorder PlayerSDK

export bin=$here/build/bin
samples=$here/out/samples
bash recorder/make-samples.sh "$samples"

# Snapshots, cuts and downloads ("C:\haha.bmp", "d:\test.mp4", ...) land here.
export PLAYERSDK_DRIVE_ROOT=$here/out/drives
mkdir -p "$PLAYERSDK_DRIVE_ROOT"

"$bin/varnel-recorder" --root "$samples" --listen 127.0.0.1 --port 3000 &
recorder=$!
trap 'kill $recorder 2>/dev/null; wait $recorder 2>/dev/null || true' EXIT

export sample
sample=$(find "$samples/ch2" -name '*.mp4' | sort | head -n 1)
echo "demo: recorder on 127.0.0.1:3000 serving $samples"
echo "demo: playing $sample; the remote window streams the first recording of channel 1"

# Puts the main window at the top left and the remote window to its right;
# prints the width and height the two cover, "WxH".
place_windows() {
  local main remote main_w main_h remote_w remote_h
  main=$(timeout 30 xdotool search --sync --onlyvisible --name '^播放器测试$' | head -n 1)
  remote=$(timeout 30 xdotool search --sync --onlyvisible --name '^远程回放$' | head -n 1)
  [ -n "$main" ] && [ -n "$remote" ] || return 1
  read -r main_w main_h < <(xdotool getwindowgeometry --shell "$main" | awk -F= '/^WIDTH/ {w=$2} /^HEIGHT/ {h=$2} END {print w, h}')
  read -r remote_w remote_h < <(xdotool getwindowgeometry --shell "$remote" | awk -F= '/^WIDTH/ {w=$2} /^HEIGHT/ {h=$2} END {print w, h}')
  xdotool windowmove "$main" 0 0 windowmove "$remote" "$((main_w + 4))" 0
  echo "$((main_w + 4 + remote_w))x$(( main_h > remote_h ? main_h : remote_h ))"
}

# Runs both windows; with a file name as argument, saves a screenshot of them
# once the file and the stream have played a few seconds, then closes them.
run_windows() {
  local shot=${1:-} size
  "$bin/varnel" "$sample" &
  local player=$!
  "$bin/varnel-remote" --address 127.0.0.1 --search-and-play &
  local remote=$!
  size=$(place_windows) || size=""
  if [ -n "$shot" ]; then
    sleep 8  # the search, the stream's buffering, then a few seconds of both playing
    if [ -n "$size" ]; then import -window root -crop "$size+0+0" +repage "$shot"
    else import -window root "$shot"; fi
    kill $player $remote 2>/dev/null || true
  fi
  wait $player || true
  wait $remote || true
}

if [ -n "${DISPLAY:-}" ]; then
  run_windows
else
  echo "demo: no display; running on a virtual X server and saving a screenshot to out/demo/"
  mkdir -p out/demo
  # xvfb-run is a plain shell script: the functions go along as text.
  xvfb-run -a -s "-screen 0 1800x900x24" \
    bash -c "$(declare -f place_windows run_windows)"'; run_windows "$1"' _ "$here/out/demo/demo.png"
  echo "demo: saved out/demo/demo.png"
fi
