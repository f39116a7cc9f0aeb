#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test; then builds everything again
# with AddressSanitizer and UndefinedBehaviorSanitizer and runs every test there too; then
# fuzzes every parser of outside input briefly and runs the concurrency test under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
vistrel_install_packages

jobs=${VISTREL_JOBS:-2}

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVISTREL_SANITIZE=address,undefined
cmake --build build-asan -j"$jobs"
# The suppressions name only leaks inside system libraries.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  LSAN_OPTIONS=suppressions="$PWD/tests/support/lsan.supp" \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"


# A short run of every fuzz target (clang, into build-fuzz/); VISTREL_FUZZ_SECONDS runs them longer.
VISTREL_FUZZ_SECONDS=${VISTREL_FUZZ_SECONDS:-15} scripts/fuzz.sh

# The concurrency test, and the other tests that use threads, under ThreadSanitizer; any reported
# race fails them.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVISTREL_CORE_ONLY=ON \
  -DVISTREL_SANITIZE=thread -DVISTREL_BUILD_BENCH=OFF
tsan_tests=(ConcurrencyTests RecorderTests FrameLibraryOpenTests FrameLibraryQueryTests TextRecognizerTests
  PrivacyScanTests)
cmake --build build-tsan -j"$jobs" --target "${tsan_tests[@]}"
# Without address randomisation where allowed: GCC 12's ThreadSanitizer cannot map its shadow
# memory on kernels that randomise with more bits.
norandom=()
if setarch "$(uname -m)" -R true 2>/dev/null; then
  norandom=(setarch "$(uname -m)" -R)
fi
for test in "${tsan_tests[@]}"; do
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 "${norandom[@]}" "build-tsan/tests/$test"
done
