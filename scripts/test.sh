#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: a normal
# build (gcc, warnings on) and a sanitizer build (clang, ASan + UBSan, with
# short libFuzzer runs). Benchmarks run once with a tiny iteration count.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=${LANE_JOBS:-$(nproc)}
export CTEST_OUTPUT_ON_FAILURE=1

# Every file and folder under $1 with its type, mode, owner, size, time and content.
snapshot() {
  (cd "$1" && find . -printf '%y %m %U %s %T@ %p\n' | sort && find . -type f -exec sha256sum {} + | sort)
}

# Runs one build's tests. A failure ends with the failed checks themselves, so that
# they stay visible where only the end of a long log is shown. The tests keep to
# folders of their own: they run in a home of their own holding a back-office API key,
# which must be left as it was, with nothing added (caches included); nor do they touch
# the event log beside the build's application, which the lane run from this folder keeps.
run_tests() {
  local dir=$1 home before events tests=0 wrote=0
  home=$(mktemp -d)
  mkdir -p "$home/.config/zent"
  printf '[General]\napiKey=planted\n' > "$home/.config/zent/kstv-card-bo.conf"
  before=$(snapshot "$home")
  events=$(stat -c '%s %Y' "$dir/events.ini" 2>/dev/null || echo none)
  env -u XDG_CONFIG_HOME -u XDG_CACHE_HOME HOME="$home" ctest --test-dir "$dir" -j "$jobs" --timeout 300 || tests=1
  if [ "$(snapshot "$home")" != "$before" ]; then
    echo "== FAILED: the tests of $dir wrote into the home they ran in ($home, kept):"
    diff <(printf '%s\n' "$before") <(snapshot "$home") || true
    wrote=1
  else
    rm -rf "$home"
  fi
  if [ "$(stat -c '%s %Y' "$dir/events.ini" 2>/dev/null || echo none)" != "$events" ]; then
    echo "== FAILED: the tests of $dir wrote the event log beside its application ($dir/events.ini)"
    wrote=1
  fi
  if [ "$tests" -ne 0 ]; then
    echo "== Failed checks in $dir"
    grep -a -A4 -E '^(FAIL!|XPASS|QFATAL)|ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:' \
      "$dir/Testing/Temporary/LastTest.log" | cut -c1-300 | head -n 60 || true
  fi
  [ "$tests" -eq 0 ] && [ "$wrote" -eq 0 ]
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
