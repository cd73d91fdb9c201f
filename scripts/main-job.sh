#!/usr/bin/env bash
# The main job: installs what is missing, builds, and converts the files given (or the
# built-in sample, generated on the spot when no file is given) into MPEG-4 video with
# MP3 sound in an AVI file each, in build-release/output/, then describes each result.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOVI_BUILD_TESTS=ON -DTOVI_BUILD_BENCH=OFF >/dev/null
cmake --build build-release -j "$(nproc)" --target tovi-convert tovi-fixtures

tool=build-release/src/cli/tovi-convert
if [ "$#" -eq 0 ]; then
  sample_dir="$PWD/build-release/sample"
  build-release/tests/fixtures/tovi-fixtures "$sample_dir" >/dev/null
  set -- "$sample_dir/h264_aac.mp4"
fi
out_dir="$PWD/build-release/output"
mkdir -p "$out_dir"

"$tool" version
status=0
for f in "$@"; do
  base="$(basename "$f")"
  out="$out_dir/${base%.*}.avi"
  echo
  echo "Converting $f"
  if "$tool" run -i "$f" -vcodec mpeg4 -qscale 3 -acodec libmp3lame -ab 128k "$out"; then
    echo "Output: $out"
    echo
    "$tool" info "$out"
  else
    status=1
  fi
done
exit "$status"
