#!/usr/bin/env bash
# Engine benchmarks of libPlayerSDK.so beside mpv (and ffplay where it can be
# measured), on clips made here. Not run by the tests.
#  - A/V offset: a clip with a white flash and a 1 kHz beep at every whole
#    second; sound through SDL's disk driver; beep heard minus flash presented,
#    at the start and after 20 random seeks. Pictures go to an in-process sink.
#    mpv and ffplay print their own A-V figure only (nothing outside them sees
#    when they present), so no figure of theirs is comparable: none is shown.
#  - Seeks: 1080p25, key frame every 10 s, as MP4 and as MPEG-TS; ten seeks
#    50 ms apart, time from the last one to the landing picture and how far
#    it is from the target; mpv over its IPC socket, from the
#    last seek command to its "playback-restart" event, in a window under Xvfb.
#    ffplay has no seek command but keys and the mouse: not measured.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=${BENCH_BUILD:-$here/build-bench}
media=${BENCH_MEDIA:-/tmp/engine-bench-media}
mkdir -p "$media"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNEL_SANITIZE=OFF \
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache >/dev/null
cmake --build "$build" -j2 --target engine_bench >/dev/null
bench=$build/bin/engine_bench

flash=$media/flash-beep.mp4
[ -s "$flash" ] || ffmpeg -nostdin -v error -y \
  -f lavfi -i "color=black:s=320x240:r=25:d=30,format=yuv420p,geq=lum='if(eq(mod(N\,25)\,0)\,235\,16)':cb=128:cr=128" \
  -f lavfi -i "aevalsrc='if(lt(mod(t\,1)\,0.05)\,0.5*sin(2*PI*1000*t)\,0)':s=48000:d=30" \
  -c:v libx264 -preset veryfast -g 50 -c:a aac -b:a 128k -ac 1 "$flash"
numbered=$media/numbered-1080p.mp4
[ -s "$numbered" ] || ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=s=1920x1080:r=25:d=30" \
  -f lavfi -i "color=black:s=64x48:r=25:d=30,format=yuv420p,geq=lum='if(lt(X,W/2),mod(N,32)*6+24,floor(N/32)*6+24)':cb=128:cr=128,scale=960:1080:flags=neighbor" \
  -filter_complex "[0][1]overlay=0:0,format=yuv420p" \
  -c:v libx264 -preset veryfast -crf 20 -g 250 -keyint_min 250 -sc_threshold 0 "$numbered"

echo "== A/V offset, 320x240 flash + 1 kHz beep every second, SDL disk sound driver"
SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$media/sound.raw "$bench" avsync "$flash" 2>/dev/null
echo "mpv, ffplay              not comparable (see the head of this script)"

numbered_ts=$media/numbered-1080p.ts
[ -s "$numbered_ts" ] || ffmpeg -nostdin -v error -y -i "$numbered" -c copy "$numbered_ts"

echo "== seeks, 1920x1080, key frame every 10 s, targets 9 s past a key frame (from a pause)"
for clip in "$numbered" "$numbered_ts"; do
  [ "$clip" = "$numbered_ts" ] && echo "-- the same clip in MPEG-TS (no index: key frames found by reading)"
  SDL_AUDIODRIVER=dummy "$bench" seeks "$clip"
  if command -v mpv >/dev/null && command -v xvfb-run >/dev/null; then
    xvfb-run -a -s "-screen 0 1280x1024x24" python3 "$here/bench/engine/mpv_seeks.py" "$clip"
  else
    echo "mpv                      not installed (apt-get install mpv xvfb)"
  fi
done
echo "ffplay                   no seek command to time (keys and mouse only)"
