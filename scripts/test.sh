#!/usr/bin/env bash
# Installs what is missing, builds out of tree and runs every test.
#   (no options)      the plain build (build/) and its suite
#   --asan            then also the AddressSanitizer + UndefinedBehaviorSanitizer build
#                     (build-asan/) and the same suite
#   --ci              everything CI runs (CI=true asks for it too, so .ci/run always does):
#                     the format check, the plain and the ASan+UBSan suites, the threaded
#                     suites under ThreadSanitizer (build-tsan/) and every fuzz target for
#                     FUZZ_SECONDS (default 60)
#   SANITIZE=address  only the AddressSanitizer + UBSan build and suite (build-asan/)
#   SANITIZE=thread   only the ThreadSanitizer build and the threaded suites (build-tsan/)
#   JOBS=N            parallel build and test jobs (default: all cores)
# Every requested suite runs even when an earlier one failed; the status is non-zero
# when any of them failed.
set -euo pipefail
cd "$(dirname "$0")/.."

with_asan=0 with_ci=0
for arg in "$@"; do
  case "$arg" in
    --asan) with_asan=1 ;;
    --ci) with_ci=1 ;;
    *) echo "usage: scripts/test.sh [--asan] [--ci]" >&2; exit 2 ;;
  esac
done
[ "${CI:-}" = true ] && with_ci=1
[ "$with_ci" = 1 ] && with_asan=1

bash scripts/setup.sh
jobs="${JOBS:-$(nproc)}"

# Sanitizer settings. Leaks and memory errors abort the test that caused them; the
# suppression files name only what belongs to system libraries (each entry says why).
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}"

# The suites whose code runs on more than one thread: the engine's run control (job
# thread, stop, pause), the converter component (worker threads), the player (play,
# audio and decode threads) and everything with windows (queued calls into the GUI
# thread). ThreadSanitizer runs these; the others are single-threaded.
threaded='^(engine_run_control_test|converter_converter_|player_|ui_|app_)'

# suite BUILD_TYPE BUILD_DIR [TEST_REGEX]: configures, builds and runs the tests of one
# build (all of them, or those matching TEST_REGEX, with only their programs built).
suite() {
  local build_type="$1" build_dir="$2" only="${3:-}" start=$SECONDS status=0
  echo "== $build_type build in $build_dir/"
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="$build_type" -DTOVI_WERROR=ON || return 1
  if [ -n "$only" ]; then
    local targets
    # shellcheck disable=SC2207
    targets=($(ninja -C "$build_dir" -t targets all | sed -n 's/^\([A-Za-z0-9_]*_test\): .*/\1/p' |
      grep -E "$only" | sort -u))
    cmake --build "$build_dir" -j "$jobs" --target tovi-fixtures "${targets[@]}" || return 1
  else
    cmake --build "$build_dir" -j "$jobs" || return 1
  fi
  echo "== $build_type build took $((SECONDS - start)) s"
  # GUI tests need a display; xvfb-run gives every run its own.
  (cd "$build_dir" &&
    xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j "$jobs" --timeout 600 \
      ${only:+-R "$only|^fixtures\.generate\$"}) || status=1
  echo "== $build_type build and suite took $((SECONDS - start)) s"
  return "$status"
}

# format_check: every C++ file of ours is laid out as .clang-format says.
format_check() {
  echo "== format check"
  git ls-files -z -- '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror || return 1
}

# fuzz: every fuzz target for FUZZ_SECONDS (scripts/fuzz.sh keeps a crash's input).
fuzz() {
  local start=$SECONDS status=0
  echo "== fuzz targets, ${FUZZ_SECONDS:-60} s each"
  JOBS="$jobs" bash scripts/fuzz.sh "${FUZZ_SECONDS:-60}" || status=1
  echo "== fuzz build and runs took $((SECONDS - start)) s"
  return "$status"
}

status=0
case "${SANITIZE:-}" in
  "")
    run_start=$SECONDS
    if [ "$with_ci" = 1 ]; then format_check || status=1; fi
    suite RelWithDebInfo build || status=1
    if [ "$with_asan" = 1 ]; then suite ASan build-asan || status=1; fi
    if [ "$with_ci" = 1 ]; then
      suite TSan build-tsan "$threaded" || status=1
      fuzz || status=1
      echo "== the whole run took $((SECONDS - run_start)) s"
    fi
    ;;
  address) suite ASan build-asan || status=1 ;;
  thread) suite TSan build-tsan "$threaded" || status=1 ;;
  *) echo "test.sh: SANITIZE must be empty, 'address' or 'thread'" >&2; exit 2 ;;
esac
exit "$status"
