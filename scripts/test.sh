#!/usr/bin/env bash
# Installs what is missing, builds out of tree and runs every test.
#   SANITIZE=address  AddressSanitizer + UndefinedBehaviorSanitizer build (build-asan/)
#   SANITIZE=thread   ThreadSanitizer build (build-tsan/)
#   JOBS=N            parallel build and test jobs (default: all cores)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

case "${SANITIZE:-}" in
  "")      build_type=RelWithDebInfo; build_dir=build ;;
  address) build_type=ASan;           build_dir=build-asan ;;
  thread)  build_type=TSan;           build_dir=build-tsan ;;
  *) echo "test.sh: SANITIZE must be empty, 'address' or 'thread'" >&2; exit 2 ;;
esac
jobs="${JOBS:-$(nproc)}"

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" -DTOVI_WERROR=ON
cmake --build "$build_dir" -j "$jobs"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}"

cd "$build_dir"
# GUI tests need a display; xvfb-run gives every run its own.
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j "$jobs" --timeout 600
