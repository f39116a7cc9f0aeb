#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each for a while, starting from
# the seeds in fuzz/corpus/<Target>/. New inputs go to build-fuzz/corpus/<Target>/ and any crash
# to build-fuzz/artifacts/; the run stops at the first failing target.
#   VISTREL_FUZZ_SECONDS  seconds per target (default 20)
#   VISTREL_FUZZ_TARGETS  space-separated subset of targets (default all)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${VISTREL_FUZZ_SECONDS:-20}
jobs=${VISTREL_JOBS:-2}
all_targets=$(cd fuzz && ls ./*Fuzzer.cpp | sed 's|^\./||; s|\.cpp$||')
targets=${VISTREL_FUZZ_TARGETS:-$all_targets}

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVISTREL_FUZZ=ON >/dev/null
# shellcheck disable=SC2086
cmake --build build-fuzz -j"$jobs" --target $targets

mkdir -p build-fuzz/artifacts
summary=()
for target in $targets; do
  corpus=build-fuzz/corpus/$target
  mkdir -p "$corpus"
  dict=()
  case $target in
    SettingsFuzzer | MetaFuzzer | MoreAppsFeedFuzzer) dict=(-dict=fuzz/json.dict) ;;
  esac
  log=build-fuzz/$target.log
  echo "== $target: ${seconds}s"
  if ! ASAN_OPTIONS=detect_leaks=1 \
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "build-fuzz/fuzz/$target" "$corpus" "fuzz/corpus/$target" "${dict[@]}" \
    -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 -print_final_stats=1 \
    -artifact_prefix="build-fuzz/artifacts/$target-" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "$target FAILED; see $log and build-fuzz/artifacts/" >&2
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  summary+=("$target: ${runs:-?} executions in ${seconds}s, corpus $(ls "$corpus" | wc -l) inputs")
done
printf '%s\n' "${summary[@]}"
