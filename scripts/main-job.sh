#!/usr/bin/env bash
# The main job: installs what is missing, builds, and converts the files given (or the
# built-in sample, generated on the spot when no file is given) with the default output
# profile into build-release/output/, then describes each result.
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
# The job keeps its settings next to its output unless the caller chose a folder, so a
# run never changes the user's own settings file.
export TOVI_CONFIG_DIR="${TOVI_CONFIG_DIR:-$PWD/build-release/config}"

"$tool" version
echo
status=0
# Every file with the default profile (the one the GUI starts with); outputs are named
# like the GUI names them and never replace an existing file.
listing="$(mktemp)"
trap 'rm -f "$listing"' EXIT
"$tool" convert "$@" --out "$out_dir" 2>&1 | tee "$listing" || status=1
while IFS= read -r line; do
  out="${line##* -> }"
  [ "$out" != "$line" ] && [ -f "$out" ] || continue
  echo
  echo "Output: $out"
  "$tool" info "$out"
done <"$listing"
exit "$status"
