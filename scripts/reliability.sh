#!/usr/bin/env bash
# The long reliability run: the crash-safety test with many kills (200 unless told otherwise),
# then the fault-injection and privacy-scan tests and 100 pairs of concurrent first runs
# (VISTREL_FIRST_RUN_PAIRS), in a RelWithDebInfo tree.
#
#   scripts/reliability.sh               200 kills
#   VISTREL_CRASH_KILLS=1000 scripts/reliability.sh
#   VISTREL_CRASH_SEED=1234 scripts/reliability.sh    repeat a run that failed
#
# The normal test run (scripts/test.sh) kills the writer 20 times.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
vistrel_install_packages

jobs=${VISTREL_JOBS:-2}
export VISTREL_CRASH_KILLS=${VISTREL_CRASH_KILLS:-200}

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs" --target CrashDriver CrashSafetyTests FrameLibraryFaultTests \
  PrivacyScanTests
build/tests/CrashSafetyTests
build/tests/FrameLibraryFaultTests
build/tests/PrivacyScanTests

# Concurrent first runs of the command line, many more pairs than the normal test run.
cmake --build build -j"$jobs" --target CliTests
VISTREL_FIRST_RUN_PAIRS=${VISTREL_FIRST_RUN_PAIRS:-100} build/tests/Vistrel/CliTests \
  --gtest_filter=CliTest.ConcurrentFirstRunsEndWithOneKeyThatOpensTheLibrary
