#!/usr/bin/env bash
# Installs what is missing, builds everything into build/ and runs every test through CTest; then
# fuzzes the reader for a minute per target (build-fuzz/, clang) and runs every test again built
# with AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/). Any failure, finding or
# sanitizer report fails the run. The sanitizer suite runs last, so the run still ends with a
# CTest summary.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)
# A checkout that is not beside the shared folder names the archive corpus in LUMEN_CORPUS_DIR.
corpus=()
if [ -n "${LUMEN_CORPUS_DIR:-}" ]; then corpus=(-DLUMEN_CORPUS_DIR="$LUMEN_CORPUS_DIR"); fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${corpus[@]}"
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMEN_SANITIZE=ON \
  -DLUMEN_BUILD_BENCH=OFF "${corpus[@]}"
cmake --build build-asan -j"$jobs"

fuzz_status=0
bash scripts/fuzz.sh "${LUMEN_FUZZ_SECONDS:-60}" || fuzz_status=$?

# Every report stops the test that caused it; leaks are reported at each test process's exit, and
# the programs the tests start (the updater, the sample companion) inherit the same settings.
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=0:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$(pwd)/scripts/lsan-suppressions.txt:print_suppressions=0"
cd build-asan
ctest --output-on-failure -j"$jobs"
if ((fuzz_status != 0)); then
  echo "fuzzing found a fault (see above)" >&2
  exit "$fuzz_status"
fi
