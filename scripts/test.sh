#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test; then builds the core
# again with AddressSanitizer and UndefinedBehaviorSanitizer and runs its tests there too.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
vistrel_install_packages

jobs=${VISTREL_JOBS:-2}

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVISTREL_CORE_ONLY=ON \
  -DVISTREL_SANITIZE=address,undefined
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"
