#!/usr/bin/env bash
# A/V offset through a real sound server, the library beside ffplay in the same
# run: a private PulseAudio with a null sink is started here, every player's
# sound goes to it and av_offset_bench captures its monitor (see the head of
# AvOffsetBench.cpp). A 320x240 clip with a white flash and a 1 kHz beep at
# every whole second, with 48 kHz AAC sound (MP4), then with the 8 kHz sound
# of cameras: G.711 A-law and G.726 at 32 kbit/s (MOV), SECONDS (default 12) each.
#  - library: pictures dated when presented to its in-process sink.
#  - ffplay: pictures dated when its window on Xvfb turns white.
. "$(dirname "$0")/../support/setup.sh"
bench_need_display "$@"
media=$(bench_media /tmp/engine-bench-media)
seconds=${SECONDS_EACH:-12}
bench=$(bench_target av_offset_bench)

# A private sound server, gone when this script ends.
server=$(mktemp -d /tmp/av-server-XXXXXX)
export XDG_RUNTIME_DIR=$server PULSE_RUNTIME_PATH=$server/runtime HOME=$server
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes \
  --load="module-null-sink sink_name=bench rate=48000" \
  --load="module-native-protocol-unix auth-anonymous=1 socket=$server/native" >"$server/log" 2>&1 &
pulse=$!
trap 'kill $pulse 2>/dev/null; wait $pulse 2>/dev/null; rm -rf "$server"' EXIT
export PULSE_SERVER=unix:$server/native SDL_AUDIODRIVER=pulseaudio
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl set-default-sink bench
pactl set-default-source bench.monitor

flash="color=black:s=320x240:r=25:d=$((seconds + 2)),format=yuv420p,geq=lum='if(eq(mod(N\,25)\,0)\,235\,16)':cb=128:cr=128"
beep() { echo "aevalsrc='if(lt(mod(t\,1)\,0.05)\,0.5*sin(2*PI*1000*t)\,0)':s=$1:d=$((seconds + 2))"; }
clip48=$media/flash-beep-48k.mp4
clip8=$media/flash-beep-8k-alaw.mov
clip726=$media/flash-beep-8k-g726.mov
[ -s "$clip48" ] || ffmpeg -nostdin -v error -y -f lavfi -i "$flash" -f lavfi -i "$(beep 48000)" \
  -c:v libx264 -preset veryfast -g 50 -c:a aac -b:a 128k -ac 1 "$clip48"
[ -s "$clip8" ] || ffmpeg -nostdin -v error -y -f lavfi -i "$flash" -f lavfi -i "$(beep 8000)" \
  -c:v libx264 -preset veryfast -g 50 -c:a pcm_alaw -ac 1 "$clip8"
[ -s "$clip726" ] || ffmpeg -nostdin -v error -y -f lavfi -i "$flash" -f lavfi -i "$(beep 8000)" \
  -c:v libx264 -preset veryfast -g 50 -c:a g726 -b:a 32k -ac 1 "$clip726"

for clip in "$clip48" "$clip8" "$clip726"; do
  echo "== $(basename "$clip"): ${seconds} s through PulseAudio (null sink, monitor captured)"
  printf '  %-8s ' library
  "$bench" library "$clip" "$seconds" 2>/dev/null
  printf '  %-8s ' ffplay
  "$bench" screen 160 120 "$seconds" ffplay -hide_banner -loglevel quiet -noborder -left 0 -top 0 -x 320 -y 240 \
    -autoexit "$clip" 2>/dev/null
done
