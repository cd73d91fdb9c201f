#!/usr/bin/env bash
# Installs what is missing, builds out of tree and runs every test.
#   (no options)      the plain build (build/) and its suite
#   --asan            then also the AddressSanitizer + UndefinedBehaviorSanitizer build
#                     (build-asan/) and the same suite; CI=true asks for it too, so CI
#                     (.ci/run) always runs both
#   SANITIZE=address  only the AddressSanitizer + UBSan build and suite (build-asan/)
#   SANITIZE=thread   only the ThreadSanitizer build and suite (build-tsan/)
#   JOBS=N            parallel build and test jobs (default: all cores)
# Every requested suite runs even when an earlier one failed; the status is non-zero
# when any of them failed.
set -euo pipefail
cd "$(dirname "$0")/.."

with_asan=0
for arg in "$@"; do
  case "$arg" in
    --asan) with_asan=1 ;;
    *) echo "usage: scripts/test.sh [--asan]" >&2; exit 2 ;;
  esac
done
[ "${CI:-}" = true ] && with_asan=1

bash scripts/setup.sh
jobs="${JOBS:-$(nproc)}"

# Sanitizer settings. Leaks and memory errors abort the test that caused them; the
# suppression files name only what belongs to system libraries (each entry says why).
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}"

# suite BUILD_TYPE BUILD_DIR: configures, builds and runs every test of one build.
suite() {
  local build_type="$1" build_dir="$2" start=$SECONDS status=0
  echo "== $build_type build in $build_dir/"
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" -DTOVI_WERROR=ON || return 1
  cmake --build "$build_dir" -j "$jobs" || return 1
  echo "== $build_type build took $((SECONDS - start)) s"
  # GUI tests need a display; xvfb-run gives every run its own.
  (cd "$build_dir" &&
    xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j "$jobs" --timeout 600) || status=1
  echo "== $build_type build and suite took $((SECONDS - start)) s"
  return "$status"
}

status=0
case "${SANITIZE:-}" in
  "")
    suite RelWithDebInfo build || status=1
    if [ "$with_asan" = 1 ]; then suite ASan build-asan || status=1; fi
    ;;
  address) suite ASan build-asan || status=1 ;;
  thread) suite TSan build-tsan || status=1 ;;
  *) echo "test.sh: SANITIZE must be empty, 'address' or 'thread'" >&2; exit 2 ;;
esac
exit "$status"
