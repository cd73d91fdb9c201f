#!/usr/bin/env bash
# The main job: installs what is missing, builds, and converts the files given (or the
# built-in sample, generated on the spot when no file is given).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOVI_BUILD_TESTS=ON -DTOVI_BUILD_BENCH=OFF >/dev/null
cmake --build build-release -j "$(nproc)" --target tovi-convert tovi-fixtures

if [ "$#" -eq 0 ]; then
  sample_dir="$PWD/build-release/sample"
  build-release/tests/fixtures/tovi-fixtures "$sample_dir" >/dev/null
  set -- "$sample_dir"/*.*
fi

build-release/src/cli/tovi-convert version
for f in "$@"; do
  echo
  build-release/src/cli/tovi-convert info "$f" || true
done
