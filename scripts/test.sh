#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: a normal
# build (gcc, warnings on) and a sanitizer build (clang, ASan + UBSan, with
# short libFuzzer runs). Benchmarks run once with a tiny iteration count.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=${LANE_JOBS:-$(nproc)}
export CTEST_OUTPUT_ON_FAILURE=1

# Runs one build's tests. A failure ends with the failed checks themselves, so that
# they stay visible where only the end of a long log is shown.
run_tests() {
  local dir=$1
  if ctest --test-dir "$dir" -j "$jobs" --timeout 300; then
    return 0
  fi
  echo "== Failed checks in $dir"
  grep -a -A4 -E '^(FAIL!|XPASS|QFATAL)|ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:' \
    "$dir/Testing/Temporary/LastTest.log" | cut -c1-300 | head -n 60 || true
  return 1
}

echo "== Normal build"
# Every option named, so that a build folder configured otherwise before (the run script's,
# an earlier sanitizer try) still builds every test and benchmark.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DLANE_SANITIZE=OFF -DLANE_FUZZ=OFF -DLANE_BENCH=ON >/dev/null
cmake --build build -j "$jobs"
run_tests build

echo "== Sanitizer build (AddressSanitizer, UndefinedBehaviorSanitizer)"
CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DLANE_SANITIZE=ON -DLANE_FUZZ=ON -DLANE_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
run_tests build-asan
