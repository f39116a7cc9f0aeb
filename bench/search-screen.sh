#!/usr/bin/env bash
# The Search screen and the frame sheet timed on a LibraryBench library (see
# bench/SearchScreenTimings.cpp for what each figure means): keystroke to painted, scrolling the
# 150-card grid, opening a frame, resident memory after 50 searches.
#
#   bench/search-screen.sh [BUILD_DIR]    default build-bench (Release)
#
# The library is LibraryBench's, VISTREL_BENCH_FRAMES frames (default 100,000; building it the
# first time takes about an hour, 20,000 about half an hour), kept in
# ${VISTREL_BENCH_CACHE:-~/.cache/vistrel-bench}. The screen runs on a copy of it whose settings
# keep every frame: its frames are dated in the past, and the application's automatic cleanup
# would otherwise delete them. Run it on an otherwise quiet machine.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
vistrel_install_packages

build=${1:-build-bench}
frames=${VISTREL_BENCH_FRAMES:-100000}
cache=${VISTREL_BENCH_CACHE:-$HOME/.cache/vistrel-bench}
name=$([ $((frames % 1000)) -eq 0 ] && echo "library-$((frames / 1000))k" || echo "library-$frames")

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVISTREL_BUILD_BENCH=ON >/dev/null
fi
cmake --build "$build" -j"${VISTREL_JOBS:-2}" --target LibraryBench SearchScreenTimings

# Builds the library when it is missing.
VISTREL_BENCH_FRAMES=$frames "$build/bench/LibraryBench" --benchmark_filter=BM_Size >/dev/null 2>&1

copy="$cache/search-screen-$name"
if [ ! -f "$copy/.complete" ]; then
  rm -rf "$copy"
  mkdir -p "$copy"
  cp -r "$cache/$name/library/." "$copy/"
  printf '{"retentionDays": 10000000, "capGB": 100000, "onboardingDone": true}\n' >"$copy/config.json"
  touch "$copy/.complete"
fi

# LibraryBench's fixed master key.
key=$(mktemp)
trap 'rm -f "$key"' EXIT
python3 -c 'import sys; sys.stdout.buffer.write(bytes((0x42 + 7 * i) & 0xFF for i in range(32)))' >"$key"
chmod 600 "$key"

"$build/bench/SearchScreenTimings" "$copy" "$key"
