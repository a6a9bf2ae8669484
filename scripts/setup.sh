#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test, benchmark and
# take screenshots. Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  # sound at other speeds keeps its pitch (atempo)
  libavfilter-dev
  libsdl2-dev
  # the windows put pictures into their X windows through shared memory
  libxcb1-dev libxcb-shm0-dev
  libcpp-httplib-dev nlohmann-json3-dev libssl-dev
  # ONVIF: SOAP messages are read with pugixml
  libpugixml-dev
  # the ONVIF replay peer the tests start (shared/peers/onvif-replay-server.py)
  python3-gi python3-gst-1.0 gir1.2-gst-rtsp-server-1.0 gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  libgtest-dev libgmock-dev
  fonts-arphic-uming
  xvfb xauth x11-utils imagemagick
  ffmpeg curl
  fonts-dejavu-core
  # benchmarks: nginx serves the reference downloads
  nginx
  # benchmarks: playback compared with mpv (bench/playback/run.sh)
  mpv
  # benchmarks: the playback benchmark watches and drives windows on the X server
  libx11-dev libxtst-dev
  # benchmarks: the A/V offset through a real sound server (bench/engine/av_server.sh)
  pulseaudio pulseaudio-utils
  # the demo places its two windows side by side (scripts/demo.sh)
  xdotool
  # the recorder's ONVIF tests read it with third-party peers: GStreamer's
  # rtspsrc in its ONVIF mode (from Python) and the npm package onvif
  gstreamer1.0-plugins-good gstreamer1.0-plugins-bad python3-gi python3-gst-1.0 nodejs
  # the Windows build: 32-bit mingw-w64 (posix threads), GoogleTest's sources, Wine
  g++-mingw-w64-i686-posix googletest
)
# Wine runs the Windows test suites; wine32 needs the i386 architecture. Where
# the kernel runs no 32-bit programs, wine64 runs a 64-bit build of the suites.
# fonts-wine: Wine's own faces (Marlett draws the frames' caption buttons).
# qemu-user-static, g++-multilib: the 32-bit call thunk, checked under an
# emulator where the kernel runs no 32-bit programs.
windows_packages=(wine wine32:i386 wine64 g++-mingw-w64-x86-64-posix fonts-wine qemu-user-static g++-multilib)

# Where the kernel runs no 32-bit programs, 32-bit Wine runs under QEMU 10's
# qemu-i386 (bookworm's 7.2 cannot start it). Only that one binary is taken
# out of bookworm-backports' qemu-user package, with apt's state kept in a
# folder of its own, so that nothing else on the machine changes.
qemu_version='1:10.0.2+ds-2+deb13u1~bpo12+1'
qemu_dir=/opt/varnel-qemu
install_qemu_i386() {
  [ -x "$qemu_dir/qemu-i386" ] && "$qemu_dir/qemu-i386" --version | grep -q 'version 10\.' && return 0
  local work
  work=$(mktemp -d)
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/preferences.d"
  echo "deb http://deb.debian.org/debian bookworm-backports main" >"$work/sources.list"
  local apt_own=(-o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
    -o Dir::Etc::Preferences=/dev/null -o Dir::Etc::PreferencesParts="$work/preferences.d"
    -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache" -o APT::Architectures::=amd64
    -o APT::Sandbox::User=root)
  apt-get "${apt_own[@]}" update -qq
  # The pinned build, or whatever 10.x backports has once it is replaced.
  (cd "$work" && { apt-get "${apt_own[@]}" download -qq "qemu-user=$qemu_version" 2>/dev/null ||
    apt-get "${apt_own[@]}" download -qq qemu-user/bookworm-backports; })
  mkdir -p "$work/tree" "$qemu_dir"
  dpkg-deb --fsys-tarfile "$work"/qemu-user_*.deb | tar -x -C "$work/tree" ./usr/bin/qemu-i386
  install -m 755 "$work/tree/usr/bin/qemu-i386" "$qemu_dir/qemu-i386"
  rm -rf "$work"
}

# npm comes with some builds of nodejs; Debian's own is a package of its own.
command -v npm >/dev/null || packages+=(npm)

if [ "$(id -u)" -ne 0 ]; then
  echo "setup.sh: run as root (it installs Debian packages with apt-get)" >&2
  exit 1
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  apt_update_needed=1
fi
packages+=("${windows_packages[@]}")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] || [ -n "${apt_update_needed:-}" ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get -o DPkg::Lock::Timeout=900 update -qq
  [ ${#missing[@]} -eq 0 ] || apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing[@]}"
fi
# The Windows suites run under a Chinese locale, so that Wine's ANSI code
# page is GBK (936) as on the recorder's home systems.
if ! locale -a 2>/dev/null | grep -qx 'zh_CN.utf8'; then
  localedef -i zh_CN -f UTF-8 zh_CN.UTF-8
fi
install_qemu_i386
# The npm client the recorder's ONVIF tests drive, as its lock file pins it.
onvif_client="$(cd "$(dirname "$0")/.." && pwd)/tests/recorder/onvif-client"
if [ ! -d "$onvif_client/node_modules/onvif" ]; then
  npm ci --prefix "$onvif_client" --no-audit --no-fund --loglevel=error
fi
echo "setup.sh: all packages present"
