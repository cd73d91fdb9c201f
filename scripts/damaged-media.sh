#!/usr/bin/env bash
# Runs every damaged-media case (each source clip times each damage, through the probe,
# a conversion and the player) in a process of its own and counts, per path, how each
# ended: crashes and hangs are told apart from failed checks.
#   scripts/damaged-media.sh [BUILD_DIR]     default build/ (build-asan/ for ASan)
# The build must have the test binary and the generated media (ctest -R fixtures once).
# Exit status 0 only when every case passed.
set -uo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
binary="$build/tests/damaged/damaged_media_test"
[ -x "$binary" ] || { echo "no $binary: build the damaged_media_test target first" >&2; exit 2; }
export TOVI_FIXTURE_DIR="${TOVI_FIXTURE_DIR:-$PWD/$build/media}"
[ -f "$TOVI_FIXTURE_DIR/h264_aac.mp4" ] || "$build/tests/fixtures/tovi-fixtures" "$TOVI_FIXTURE_DIR" >/dev/null
export TOVI_DAMAGED_FULL=1
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}"
log_dir="$build/damaged-media-logs"
rm -rf "$log_dir" && mkdir -p "$log_dir"

declare -A tried passed failed crashed hung outcomes
suite=""
while IFS= read -r line; do
  case "$line" in
    [A-Za-z]*.) suite="${line%% *}"; continue ;;
    "  "*) ;;
    *) continue ;;
  esac
  test="${line#  }"
  test="${test%% *}"
  name="$suite$test"
  case "$test" in
    Probe*) path=probe ;;
    Conversion*) path=conversion ;;
    Player*) path=player ;;
    *) path=other ;;
  esac
  log="$log_dir/${name//\//_}.log"
  # The test's own watchdog (60 s) aborts a hang with a message; the outer limit only
  # catches a hang of the watchdog itself.
  timeout -s KILL 180 "$binary" --gtest_filter="$name" >"$log" 2>&1
  status=$?
  tried[$path]=$((${tried[$path]:-0} + 1))
  if grep -q "^watchdog:" "$log" || [ $status -eq 137 ]; then
    hung[$path]=$((${hung[$path]:-0} + 1)); echo "HANG   $name"
  elif [ $status -gt 128 ] || grep -q "ERROR: AddressSanitizer\|runtime error:" "$log"; then
    crashed[$path]=$((${crashed[$path]:-0} + 1)); echo "CRASH  $name (status $status)"
  elif [ $status -ne 0 ]; then
    failed[$path]=$((${failed[$path]:-0} + 1)); echo "FAIL   $name"
  else
    passed[$path]=$((${passed[$path]:-0} + 1))
  fi
  how=$(sed -n 's/^\[outcome\] [a-z]* //p' "$log" | head -1)
  [ -n "$how" ] && outcomes[$path.$how]=$((${outcomes[$path.$how]:-0} + 1))
done < <("$binary" --gtest_list_tests)

status=0
printf '%-11s %6s %6s %6s %6s %6s   %s\n' path tried passed failed crash hang "how they ended"
for path in probe conversion player other; do
  [ -n "${tried[$path]:-}" ] || continue
  how=""
  for key in "${!outcomes[@]}"; do
    [ "${key%%.*}" = "$path" ] && how+="${key#*.} ${outcomes[$key]}  "
  done
  printf '%-11s %6d %6d %6d %6d %6d   %s\n' "$path" "${tried[$path]}" "${passed[$path]:-0}" \
    "${failed[$path]:-0}" "${crashed[$path]:-0}" "${hung[$path]:-0}" "$how"
  [ $((${failed[$path]:-0} + ${crashed[$path]:-0} + ${hung[$path]:-0})) -eq 0 ] || status=1
done
echo "logs: $log_dir/"
exit $status
