#!/usr/bin/env bash
# Cross-builds the Windows programs and runs the Windows test suites under
# Wine on a virtual X server. The programs are 32-bit, as the maker's DLL is;
# where the kernel runs no 32-bit programs, the same suites run as a 64-bit
# build under wine64 (the stdcall/cdecl checks need the 32-bit build).
# Called by scripts/test.sh; bounded in time.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)

configure_and_build() {  # folder toolchain
  cmake -S . -B "$1" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/$2" -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >/dev/null
  cmake --build "$1" -j "$(nproc)"
}

configure_and_build build-windows mingw-i686.cmake
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  build=build-windows
  loader=/usr/lib/wine/wine
else
  echo "test-windows: this kernel runs no 32-bit programs; running the 64-bit build under wine64"
  echo "test-windows: and the 32-bit call thunk as a Linux program under qemu-i386"
  bash "$here/scripts/test-thunk-i386.sh"
  configure_and_build build-windows64 mingw-x86_64.cmake
  build=build-windows64
  loader=/usr/lib/wine/wine64
fi

# Wine's ANSI code page follows the locale: GBK (936) under Chinese.
export LC_ALL=zh_CN.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINELOADER=$loader
export WINEPREFIX=$here/$build/wineprefix
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  rm -rf "$WINEPREFIX"
  timeout 300 xvfb-run -a "$loader" wineboot -i
  # The dialogs ask for 宋体; the AR PL Song face stands in.
  for face in 宋体 SimSun; do
    timeout 60 "$loader" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d 'AR PL UMing CN' /f >/dev/null
  done
  timeout 60 wineserver -w || true
fi
# Windows of their own, not handed to a window manager: with none on the
# virtual X server, Wine waits two seconds for one at every window's end.
if ! grep -q '"Managed"="N"' "$WINEPREFIX/user.reg"; then
  timeout 60 "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
  timeout 60 wineserver -w || true
fi
# Wine draws its frames' caption buttons with Marlett (fonts-wine).
fonts=$WINEPREFIX/drive_c/windows/Fonts
[ -f "$fonts/marlett.ttf" ] || { mkdir -p "$fonts"; cp /usr/share/wine/fonts/marlett.ttf "$fonts/"; }
timeout 1200 xvfb-run -a -s "-screen 0 1280x1024x24" \
  ctest --test-dir "$build" --output-on-failure -j 1
