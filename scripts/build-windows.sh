#!/usr/bin/env bash
# Cross-builds the 32-bit Windows programs (static runtime: they need no DLL
# but the recorder maker's PlayerSDK.dll) into out/windows/.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >/dev/null
cmake --build build-windows -j "$(nproc)" --target varnel varnel-remote
mkdir -p out/windows
cp build-windows/bin/varnel.exe build-windows/bin/varnel-remote.exe out/windows/
i686-w64-mingw32-strip out/windows/varnel.exe out/windows/varnel-remote.exe
cat > out/windows/README.txt <<'TEXT'
Put the recorder maker's PlayerSDK.dll in this folder, beside varnel.exe and varnel-remote.exe.
TEXT
echo "build-windows: out/windows/ holds varnel.exe, varnel-remote.exe and README.txt"
