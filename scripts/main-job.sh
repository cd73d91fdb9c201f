#!/usr/bin/env bash
# The main job: installs what is missing, builds, and works on the files given (or the
# built-in sample, generated on the spot when no file is given). With a display it opens
# the desktop program with the files listed and build-release/output/ as the output
# folder; without one (or with TOVI_HEADLESS=1) it converts them with the default output
# profile into build-release/output/ and describes each result.
set -euo pipefail
# Files named relative to the caller's folder stay found after the change of folder.
files=()
for f in "$@"; do files+=("$(realpath -m -- "$f")"); done
set -- "${files[@]}"
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOVI_BUILD_TESTS=ON -DTOVI_BUILD_BENCH=OFF >/dev/null
with_window=0
if [ "${TOVI_HEADLESS:-0}" != 1 ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  with_window=1
fi
targets=(tovi-convert tovi-fixtures)
[ "$with_window" = 1 ] && targets+=(tovi-converter)
cmake --build build-release -j "$(nproc)" --target "${targets[@]}"

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

if [ "$with_window" = 1 ]; then
  # The player embeds its picture by X11 window id, so a Wayland session runs the
  # program on XWayland.
  [ -n "${WAYLAND_DISPLAY:-}" ] && export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-xcb}"
  exec build-release/src/app/tovi-converter --out "$out_dir" "$@"
fi

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
