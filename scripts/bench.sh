#!/usr/bin/env bash
# Builds the benchmark programs (bench/*Bench.cpp) in a Release tree and runs each of them.
#
#   scripts/bench.sh                 every benchmark program
#   scripts/bench.sh Imaging         only the programs whose name contains "Imaging"
#   scripts/bench.sh Recognition --benchmark_filter=ScreenLines --benchmark_repetitions=3
#                                    further arguments go to every program run
#   scripts/bench.sh Library         the 100,000-frame library benchmark
#
# LibraryBench runs only when named (or with VISTREL_BENCH_LIBRARY=1): its first run builds a
# 100,000-frame library through the real store, which takes about an hour on two shared cores
# and about 8 GB, kept in ${VISTREL_BENCH_CACHE:-$HOME/.cache/vistrel-bench} for later runs
# (an interrupted build resumes). VISTREL_BENCH_FRAMES=<n> tries it on a smaller library.
#
# The machine is usually shared: run benchmarks when it is otherwise quiet and repeat them.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
vistrel_install_packages

jobs=${VISTREL_JOBS:-2}
filter=${1:-}
if [ $# -gt 0 ]; then
  shift
fi

targets=()
for source in bench/*Bench.cpp; do
  name=$(basename "$source" .cpp)
  if [[ "$name" == LibraryBench && -z "$filter" && "${VISTREL_BENCH_LIBRARY:-0}" != 1 ]]; then
    echo "Skipping LibraryBench (run \"scripts/bench.sh Library\" or set VISTREL_BENCH_LIBRARY=1)." >&2
    continue
  fi
  if [[ -z "$filter" || "$name" == *"$filter"* ]]; then
    targets+=("$name")
  fi
done
if [ ${#targets[@]} -eq 0 ]; then
  echo "No benchmark program matches \"$filter\"." >&2
  exit 1
fi

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVISTREL_BUILD_BENCH=ON >/dev/null
cmake --build build-bench -j"$jobs" --target "${targets[@]}"

for name in "${targets[@]}"; do
  echo
  echo "== $name"
  "build-bench/bench/$name" --benchmark_counters_tabular=true "$@"
done
