#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: a normal
# build (gcc, warnings on) and a sanitizer build (clang, ASan + UBSan, with
# short libFuzzer runs). Benchmarks run once with a tiny iteration count.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=${LANE_JOBS:-$(nproc)}
export CTEST_OUTPUT_ON_FAILURE=1

echo "== Normal build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build -j "$jobs" --timeout 300

echo "== Sanitizer build (AddressSanitizer, UndefinedBehaviorSanitizer)"
CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DLANE_SANITIZE=ON -DLANE_FUZZ=ON -DLANE_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
ctest --test-dir build-asan -j "$jobs" --timeout 300
