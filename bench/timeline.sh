#!/usr/bin/env bash
# The Timeline pane's figures (bench/TimelineFigures.cpp): pane shown to activity strip drawn,
# slider stop to image shown, and the longest main-thread stall while the right arrow key is held
# for 5 seconds, on a day of 2,000 screen-sized frames inside a larger library built for the run
# in a temporary folder (removed afterwards).
#
#   bench/timeline.sh [BUILD_DIR]     default build-bench (Release)
#   VISTREL_BENCH_OTHER_FRAMES=N      frames on other days besides the 2,000 (default 98,000,
#                                     a 100,000-frame library; building it takes a few minutes)
#
# Run it on an otherwise quiet machine: the figures include waiting for the two cores.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
vistrel_install_packages

build=${1:-build-bench}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVISTREL_BUILD_BENCH=ON >/dev/null
fi
cmake --build "$build" -j"${VISTREL_JOBS:-2}" --target TimelineFigures

VISTREL_BENCH_OTHER_FRAMES=${VISTREL_BENCH_OTHER_FRAMES:-98000} QT_QPA_PLATFORM=offscreen \
  "$build/bench/TimelineFigures" 2> >(grep -v -e propagateSizeHints -e XDG_RUNTIME_DIR >&2)
