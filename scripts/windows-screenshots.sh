#!/usr/bin/env bash
# Screenshots of both Windows programs under Wine on a virtual X server, with
# the fake PlayerSDK.dll beside them, saved beside the Linux ones in out/demo/.
# Run scripts/test-windows.sh first (it builds the programs and the prefix).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
if /usr/lib/wine/wine --version >/dev/null 2>&1; then build=build-windows; loader=/usr/lib/wine/wine
else build=build-windows64; loader=/usr/lib/wine/wine64; fi
export LC_ALL=zh_CN.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINELOADER=$loader
export WINEPREFIX=$here/$build/wineprefix
stage=$here/$build/screenshots
mkdir -p "$stage" out/demo
cp "$build/bin/varnel.exe" "$build/bin/varnel-remote.exe" "$build/bin/cdecl/PlayerSDK.dll" "$stage/"
shoot() {  # png program args...
  local png=$1; shift
  timeout 120 xvfb-run -a -s "-screen 0 1280x800x24" bash -c '
    png=$1; loader=$2; shift 2
    "$loader" "$@" & program=$!
    sleep 8
    import -window root "$png"
    kill $program 2>/dev/null; wineserver -k 2>/dev/null; wait 2>/dev/null || true
  ' _ "$png" "$loader" "$@"
}
shoot "$here/out/demo/windows-main.png" "$stage/varnel.exe"
shoot "$here/out/demo/windows-remote.png" "$stage/varnel-remote.exe" --address 127.0.0.1
echo "windows-screenshots: saved out/demo/windows-main.png and out/demo/windows-remote.png"
