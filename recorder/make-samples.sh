#!/usr/bin/env bash
# Makes a recorder folder of sample recordings:
#   make-samples.sh OUTDIR [YYYYMMDD]
# Four channels, each with twelve MPEG-4 segments (H.264 + AAC, 320x180,
# 10 to 20 s, moov first) spread over the day, every two hours, with the
# channel and a running clock drawn in, and six JPEG pictures; about 12 MB.
#
# The recordings are dated YYYYMMDD, today by default, so that a search of
# today's range finds them. Only names and folders carry the date: the media
# show the time of day only and are encoded bit-exactly, so the same command
# gives the same bytes on any day. A folder made earlier for another date is
# re-dated by renaming, without encoding again.
#
# Layout: OUTDIR/ch<C>/<YYYYMMDD>/ch<C>_<YYYYMMDD>_<HHMMSS>_<HHMMSS>.<mp4|jpg>
set -euo pipefail

version="varnel-samples 1"
font=/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 OUTDIR [YYYYMMDD]" >&2
  exit 2
fi
out=$1
day=${2:-$(date +%Y%m%d)}
if ! [[ $day =~ ^[0-9]{8}$ ]] || ! date -d "$day" >/dev/null 2>&1; then
  echo "$0: '$day' is not a date YYYYMMDD" >&2
  exit 2
fi
[ -f "$font" ] || { echo "$0: font $font missing (fonts-dejavu-core)" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "$0: ffmpeg missing" >&2; exit 1; }

stamp="$out/.samples"
if [ -f "$stamp" ]; then
  read -r made_version_a made_version_b made_day < "$stamp" || true
  if [ "$made_version_a $made_version_b" = "$version" ]; then
    if [ "$made_day" = "$day" ]; then
      echo "$0: $out already holds the samples of $day"
      exit 0
    fi
    # Re-date: move each channel's day folder and rename its files.
    for chdir in "$out"/ch[1-4]; do
      [ -d "$chdir/$made_day" ] || continue
      mv "$chdir/$made_day" "$chdir/$day"
      for f in "$chdir/$day"/*_"$made_day"_*; do
        [ -e "$f" ] || continue
        base=$(basename "$f")
        mv "$f" "$chdir/$day/${base/_${made_day}_/_${day}_}"
      done
    done
    echo "$version $day" > "$stamp"
    echo "$0: samples in $out re-dated from $made_day to $day"
    exit 0
  fi
fi
if [ -e "$out" ] && [ -n "$(ls -A "$out" 2>/dev/null)" ]; then
  echo "$0: $out exists and does not hold samples; give an empty or new folder" >&2
  exit 1
fi

# Built aside, then moved into place: an interrupted run leaves no half folder.
mkdir -p "$(dirname "${out%/}")"
work=$(mktemp -d "${out%/}.making.XXXXXX")
trap 'rm -rf "$work"' EXIT

hms() { printf '%02d%02d%02d' $(($1 / 3600)) $(($1 / 60 % 60)) $(($1 % 60)); }

# One line per recording: kind channel start-second-of-day duration.
jobs_file="$work/jobs"
for ch in 1 2 3 4; do
  for slot in $(seq 0 11); do
    start=$((slot * 7200 + 600 + ch * 437 + slot * 97))
    duration=$((10 + (ch + slot) % 3 * 5))
    echo "mp4 $ch $start $duration" >> "$jobs_file"
  done
  for shot in 0 1 2 3 4 5; do
    echo "jpg $ch $((shot * 14400 + 1800 + ch * 61)) 0" >> "$jobs_file"
  done
done

make_one() {
  local kind=$1 ch=$2 start=$3 duration=$4
  local end=$((start + duration))
  local dir="$work/ch$ch/$day"
  local name="ch${ch}_${day}_$(hms "$start")_$(hms "$end").$kind"
  mkdir -p "$dir"
  local clock="%{pts\\:gmtime\\:$start\\:%H\\\\\\:%M\\\\\\:%S}"
  local picture="testsrc2=size=320x180:rate=15,hue=h=$((ch * 90)),drawtext=fontfile=$font:fontsize=18:fontcolor=white:box=1:boxcolor=black@0.6:x=8:y=8:text='CH$ch $clock'"
  local exact=(-fflags +bitexact -flags:v +bitexact -map_metadata -1 -threads 1)
  if [ "$kind" = mp4 ]; then
    ffmpeg -nostdin -hide_banner -loglevel error -y \
      -f lavfi -i "$picture" -f lavfi -i "sine=frequency=$((330 + ch * 110)):sample_rate=16000" \
      -t "$duration" -map 0:v -map 1:a \
      -c:v libx264 -preset veryfast -crf 32 -g 30 -pix_fmt yuv420p \
      -c:a aac -b:a 32k -ac 1 -flags:a +bitexact "${exact[@]}" \
      -movflags +faststart "$dir/$name"
  else
    ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "$picture" \
      -frames:v 1 -q:v 4 "${exact[@]}" "$dir/$name"
  fi
}
export -f make_one hms
export work day font

xargs -P 2 -L 1 bash -c 'make_one "$@"' _ < "$jobs_file"
rm "$jobs_file"
echo "$version $day" > "$work/.samples"

mkdir -p "$(dirname "$out")"
[ -d "$out" ] && rmdir "$out"
mv "$work" "$out"
trap - EXIT
echo "$0: $(find "$out" -type f -name 'ch*' | wc -l) recordings of $day in $out ($(du -sh "$out" | cut -f1))"
