#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test, benchmark and
# take screenshots. Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  libsdl2-dev
  libcpp-httplib-dev nlohmann-json3-dev libssl-dev
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
  # the demo places its two windows side by side (scripts/demo.sh)
  xdotool
)

if [ "$(id -u)" -ne 0 ]; then
  echo "setup.sh: run as root (it installs Debian packages with apt-get)" >&2
  exit 1
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
echo "setup.sh: all packages present"
