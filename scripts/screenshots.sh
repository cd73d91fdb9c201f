#!/usr/bin/env bash
# Pictures of the desktop program for the README: starts the real windows under Xvfb
# and writes docs/images/*.png (the list is printed at the end).
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j "${JOBS:-2}" --target tovi-screenshots tovi-fixtures
media="$build/media"
"$build/tests/fixtures/tovi-fixtures" "$media" >/dev/null
xvfb-run -a -s "-screen 0 1280x800x24" "$build/tests/app/tovi-screenshots" "$media" docs/images
echo "written:" docs/images/{main-window,settings,preferences,file-info,crop,trim,watermark,progress,preview}.png
