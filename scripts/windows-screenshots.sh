#!/usr/bin/env bash
# Screenshots of both Windows programs under Wine on a virtual X server, with
# the demo PlayerSDK.dll beside them (it draws a test picture and reports a
# few recordings), saved beside the Linux ones in docs/. Wine's own desktop
# window stands in for a window manager, so the frames are Wine's.
# Run scripts/test-windows.sh first (it builds the programs and the prefix).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
if /usr/lib/wine/wine --version >/dev/null 2>&1; then build=build-windows; loader=/usr/lib/wine/wine
else build=build-windows64; loader=/usr/lib/wine/wine64; fi
export LC_ALL=zh_CN.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINELOADER=$loader
export WINEPREFIX=$here/$build/wineprefix
cmake --build "$build" --target varnel varnel-remote fake_sdk_demo >/dev/null
stage=$here/$build/screenshots
mkdir -p "$stage" docs
cp "$build/bin/varnel.exe" "$build/bin/varnel-remote.exe" "$build/bin/demo/PlayerSDK.dll" "$stage/"

# shoot PNG TITLE SCENE PROGRAM ARGS...: runs the program on Wine's desktop,
# plays the scene (a function of the window's X id) and saves the window.
shoot() {
  local png=$1 title=$2 scene=$3; shift 3
  timeout 120 xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
    set -e
    png=$1 title=$2 scene=$3 loader=$4; shift 4
    "$loader" explorer /desktop=varnel,1100x760 "$@" &
    window=$(timeout 60 xdotool search --sync --name "^$title\$" | head -1)
    sleep 3  # the first paint
    eval "$scene"
    import -window "$window" "$png"
    wineserver -k || true
  ' _ "$png" "$title" "$scene" "$loader" "$@"
}

# The command-line file opens and plays; the picture runs a few seconds.
shoot docs/windows-main.png 播放器测试 'sleep 4' "$stage/varnel.exe" 'C:\media\ch1_0800.mp4'
# "查找", then a double-click on the second row streams it. The points are
# the controls' centres at the dialog font's base units under this prefix.
shoot docs/windows-remote.png 远程回放 '
  xdotool mousemove --window "$window" 339 549 click 1; sleep 2
  xdotool mousemove --window "$window" 80 180 click --repeat 2 --delay 80 1; sleep 5' \
  "$stage/varnel-remote.exe" --address 127.0.0.1
echo "windows-screenshots: saved docs/windows-main.png and docs/windows-remote.png"
