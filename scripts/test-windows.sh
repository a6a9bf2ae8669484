#!/usr/bin/env bash
# Cross-builds the Windows programs and runs the Windows test suites under
# Wine on a virtual X server: the 32-bit build as it ships (the maker's DLL
# is 32-bit; both calling conventions), then a 64-bit build under wine64 as
# a second, quick run. Where the kernel runs no 32-bit programs, 32-bit Wine
# runs under qemu-i386 (scripts/setup.sh puts it in /opt/varnel-qemu),
# registered for 32-bit x86 programs only while the suites run.
# Called by scripts/test.sh; bounded in time.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
qemu=/opt/varnel-qemu/qemu-i386
binfmt=/proc/sys/fs/binfmt_misc

configure_and_build() {  # folder toolchain
  cmake -S . -B "$1" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/$2" -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >/dev/null
  cmake --build "$1" -j "$(nproc)"
}

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo -n "$@"; fi; }

# The handler of this run, named by its process id; ones left by runs that
# were killed are removed first. Undone on exit, with the mount if it was ours.
entry=varnel-i386-$$
mounted_binfmt=
register_qemu() {
  [ -x "$qemu" ] || return 1
  if [ ! -e "$binfmt/register" ]; then
    as_root mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || return 1
    mounted_binfmt=1
  fi
  for stale in "$binfmt"/varnel-i386-*; do
    [ -e "$stale" ] || continue
    kill -0 "${stale##*-}" 2>/dev/null || as_root sh -c "echo -1 > '$stale'" || true
  done
  # The ELF header of a 32-bit x86 program; F: the kernel opens qemu now, so
  # the handler also works inside other mount namespaces.
  local magic='\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\xfc\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  as_root sh -c "echo ':$entry:M::$magic:$mask:$qemu:F' > '$binfmt/register'" 2>/dev/null || return 1
  trap unregister_qemu EXIT
}
unregister_qemu() {
  # Wine's own 32-bit processes first, while they can still be told to go.
  [ -z "${WINEPREFIX:-}" ] || timeout 60 wineserver -k 2>/dev/null || true
  [ ! -e "$binfmt/$entry" ] || as_root sh -c "echo -1 > '$binfmt/$entry'" || true
  [ -z "$mounted_binfmt" ] || as_root umount "$binfmt" || true
}

run_suites() {  # build folder, Wine loader
  local build=$1 loader=$2
  # Wine's ANSI code page follows the locale: GBK (936) under Chinese.
  export LC_ALL=zh_CN.UTF-8 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINELOADER=$loader
  export WINEPREFIX=$here/$build/wineprefix
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    rm -rf "$WINEPREFIX"
    timeout 600 xvfb-run -a "$loader" wineboot -i
    # The dialogs ask for 宋体; the AR PL Song face stands in.
    for face in 宋体 SimSun; do
      timeout 120 "$loader" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d 'AR PL UMing CN' /f >/dev/null
    done
    timeout 120 wineserver -w || true
  fi
  # Windows of their own, not handed to a window manager: with none on the
  # virtual X server, Wine waits two seconds for one at every window's end.
  if ! grep -q '"Managed"="N"' "$WINEPREFIX/user.reg"; then
    timeout 120 "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
    timeout 120 wineserver -w || true
  fi
  # Wine draws its frames' caption buttons with Marlett (fonts-wine).
  local fonts=$WINEPREFIX/drive_c/windows/Fonts
  [ -f "$fonts/marlett.ttf" ] || { mkdir -p "$fonts"; cp /usr/share/wine/fonts/marlett.ttf "$fonts/"; }
  local status=0
  timeout 1800 xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "$build" --output-on-failure -j 1 || status=$?
  timeout 60 wineserver -k 2>/dev/null || true
  return "$status"
}

# Both runs run; either one failing fails the whole.
failed=0

configure_and_build build-windows mingw-i686.cmake
if /usr/lib/wine/wine --version >/dev/null 2>&1 || register_qemu; then
  start=$SECONDS
  WINEARCH=win32 run_suites build-windows /usr/lib/wine/wine || failed=1
  echo "test-windows: the 32-bit suites took $((SECONDS - start)) s"
else
  echo "test-windows: no 32-bit programs run here and qemu-i386 cannot be registered: only the 64-bit build"
  echo "test-windows: runs under wine64, and the 32-bit call thunk as a Linux program under qemu-i386"
  bash "$here/scripts/test-thunk-i386.sh"
fi
configure_and_build build-windows64 mingw-x86_64.cmake
start=$SECONDS
run_suites build-windows64 /usr/lib/wine/wine64 || failed=1
echo "test-windows: the 64-bit suites took $((SECONDS - start)) s"
exit "$failed"
