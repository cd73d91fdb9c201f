#!/usr/bin/env bash
# The standard job side by side with HandBrake: 10 s of 1080p30 H.264 + AAC to 1280x720
# H.264 (libx264, preset medium, 2000 kbit/s) + AAC 128 kbit/s in MP4, through
# `tovi-convert run` with its default threading and through HandBrakeCLI with the same
# encoder settings. Each runs RUNS times (default 3), alternating; the script prints both
# medians of wall time and peak memory (/usr/bin/time -v) and the ratios, and checks both
# outputs with our own probe (size, codec, pixel format, audio codec). Last it prints
# the memory floor of these settings: libx264 alone (bench/encoder_floor.cpp) at the
# job's size, preset and rate, against HandBrake's peak.
#
# usage: bench/vs-handbrake.sh [BUILD_DIR]   (default: build)
# Needs HandBrakeCLI (scripts/setup.sh --bench installs it); without it the script says
# so and exits 0.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-"$here/../build"}
runs=${RUNS:-3}
convert="$build/src/cli/tovi-convert"
source_tool="$build/bench/bench-source"
floor_tool="$build/bench/encoder-floor"

if ! command -v HandBrakeCLI >/dev/null 2>&1; then
  echo "vs-handbrake: HandBrakeCLI is not installed (scripts/setup.sh --bench); skipped"
  exit 0
fi
for tool in "$convert" "$source_tool" "$floor_tool" /usr/bin/time; do
  [ -x "$tool" ] || { echo "vs-handbrake: $tool is missing (build tovi-convert, bench-source and encoder-floor)" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/vs-handbrake.XXXXXX")
trap 'rm -rf "$work"' EXIT
src="$work/standard-1080p30.mp4"
"$source_tool" "$src"

# Runs one command under /usr/bin/time -v; prints "SECONDS KIB".
measure() {
  local log="$work/time.log"
  /usr/bin/time -v -o "$log" "$@" >"$work/out.log" 2>&1 || {
    echo "vs-handbrake: failed: $*" >&2
    tail -5 "$work/out.log" >&2
    exit 1
  }
  awk -F': ' '
    /Elapsed \(wall clock\) time/ {
      n = split($2, p, ":"); s = 0
      for (i = 1; i <= n; i++) s = s * 60 + p[i]
      wall = s
    }
    /Maximum resident set size/ { rss = $2 }
    END { printf "%.2f %d\n", wall, rss }' "$log"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

tovi_out="$work/tovi.mp4"
hb_out="$work/handbrake.mp4"
: >"$work/tovi.txt"
: >"$work/hb.txt"
echo "load before: $(uptime)"
for ((i = 1; i <= runs; i++)); do
  measure "$convert" run -i "$src" -s 1280x720 -vcodec libx264 -vpre medium -b 2000k \
    -acodec aac -ab 128k "$tovi_out" >>"$work/tovi.txt"
  measure HandBrakeCLI -i "$src" -o "$hb_out" -f av_mp4 -e x264 --encoder-preset medium -b 2000 \
    -w 1280 -l 720 --crop 0:0:0:0 -E av_aac -B 128 >>"$work/hb.txt"
  echo "run $i: tovi $(tail -1 "$work/tovi.txt")  handbrake $(tail -1 "$work/hb.txt")  (s KiB)"
done
echo "load after: $(uptime)"

# Both outputs: 1280x720 H.264 in 4:2:0 8-bit, AAC audio.
check() {
  local name=$1 file=$2 info
  info=$("$convert" info "$file")
  for want in 'h264' '1280x720' 'yuv420p' 'aac'; do
    if ! grep -q -- "$want" <<<"$info"; then
      echo "vs-handbrake: $name output lacks $want:" >&2
      echo "$info" >&2
      exit 1
    fi
  done
  echo "$name output: h264 1280x720 yuv420p, aac"
}
check tovi "$tovi_out"
check handbrake "$hb_out"

tovi_time=$(awk '{ print $1 }' "$work/tovi.txt" | median)
hb_time=$(awk '{ print $1 }' "$work/hb.txt" | median)
tovi_rss=$(awk '{ print $2 }' "$work/tovi.txt" | median)
hb_rss=$(awk '{ print $2 }' "$work/hb.txt" | median)
echo "median wall time: tovi ${tovi_time} s, HandBrake ${hb_time} s, ratio $(awk -v a="$tovi_time" -v b="$hb_time" 'BEGIN { printf "%.2f", a / b }') (goal <= 0.80)"
echo "median peak RSS:  tovi ${tovi_rss} KiB, HandBrake ${hb_rss} KiB, ratio $(awk -v a="$tovi_rss" -v b="$hb_rss" 'BEGIN { printf "%.2f", a / b }') (goal <= 0.35)"
floor_rss=$("$floor_tool")
echo "memory floor:     libx264 alone at these settings ${floor_rss} KiB, $(awk -v a="$floor_rss" -v b="$hb_rss" 'BEGIN { printf "%.2f", a / b }') of HandBrake's peak"
