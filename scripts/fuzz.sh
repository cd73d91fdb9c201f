#!/usr/bin/env bash
# Builds the fuzz targets (clang-14, libFuzzer with ASan+UBSan, in build-fuzz/), seeds
# their corpora from the fixture generator and runs every target for SECONDS (default
# 60), two at a time. A crash, leak, time-out or broken invariant keeps its input in
# fuzz/crashes/<target>/ and makes the script exit 1; the figures of each run (executions,
# coverage) are printed at the end and the full logs stay in build-fuzz/fuzz-logs/.
#   bash scripts/fuzz.sh [SECONDS]
# JOBS=N: build jobs (default 2). FUZZ_PARALLEL=N: targets run at once (default 2).
# FUZZ_TARGETS="fuzz_ini ...": only these targets.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
jobs=${JOBS:-2}
parallel=${FUZZ_PARALLEL:-2}
build=build-fuzz
targets=${FUZZ_TARGETS:-"fuzz_probe fuzz_engine_options fuzz_ini fuzz_ext_options fuzz_run_arguments"}

if ! command -v clang++-14 >/dev/null; then bash scripts/setup.sh; fi
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
if [ ! -f "$build/build.ninja" ]; then
  CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=ASan -DTOVI_FUZZ=ON \
    -DTOVI_BUILD_TESTS=OFF -DTOVI_BUILD_BENCH=OFF -DTOVI_BUILD_GUI=OFF "${launcher[@]}"
fi
# shellcheck disable=SC2086
ninja -C "$build" -j"$jobs" tovi-fixtures $targets

bash fuzz/make_seeds.sh "$build/fuzz/fixtures/tovi-fixtures" "$build/fuzz-seeds"
mkdir -p "$build/fuzz-logs"
# The libraries' own leaks at exit are not ours (the same list the test suite uses).
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run_one() {
  local target=$1
  local corpus=$build/fuzz-corpus/$target crashes=fuzz/crashes/$target
  mkdir -p "$corpus" "$crashes"
  local status=0
  "$build/fuzz/$target" "$corpus" "$build/fuzz-seeds/$target" -max_total_time="$seconds" -timeout=30 \
    -rss_limit_mb=2560 -max_len=65536 -print_final_stats=1 -close_fd_mask=1 \
    -artifact_prefix="$crashes/" >"$build/fuzz-logs/$target.log" 2>&1 || status=$?
  echo "$status" >"$build/fuzz-logs/$target.status"
}

running=0
for target in $targets; do
  run_one "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$parallel" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait || true

failed=0
printf '%-22s %12s %8s %8s  %s\n' target executions cov ft result
for target in $targets; do
  log=$build/fuzz-logs/$target.log
  status=$(cat "$build/fuzz-logs/$target.status" 2>/dev/null || echo 1)
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || true)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || true)
  result=ok
  if [ "$status" != 0 ]; then
    result="FAILED (exit $status; reproducer in fuzz/crashes/$target/, log $log)"
    failed=1
  fi
  printf '%-22s %12s %8s %8s  %s\n' "$target" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$result"
done
exit "$failed"
