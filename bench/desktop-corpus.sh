#!/usr/bin/env bash
# How many of the words visible on a real X11 desktop the capture reads: xterm in several fonts,
# sizes and colour schemes, headed Chromium with generated pages, GTK (zenity, mousepad) and Qt
# (featherpad) editors, in single, side-by-side and overlapping windows on 1600x1000 and
# 1920x1080 Xvfb screens under openbox, each captured with `vistrel-cli capture` into a temporary
# history and scored against the words on screen (see bench/desktop_corpus.py). Prints the
# recall per scene and per class: first rows under a title bar, screen size, window layout,
# terminal scheme, application, long hexadecimal strings, sidebar list items.
#
#   bench/desktop-corpus.sh               every scene (about three minutes)
#   bench/desktop-corpus.sh --quick       a few scenes (about a minute)
#   bench/desktop-corpus.sh --only 1080   the scenes whose name contains "1080"
#   bench/desktop-corpus.sh --json        the figures as JSON
#   bench/desktop-corpus.sh --keep DIR    each capture's stored image and its missed words in DIR
#
# Builds vistrel-cli in VISTREL_BENCH_BUILD (default build-bench, Release) and measures whatever
# that build reads. Run it on an otherwise quiet machine: the capture times include waiting.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
vistrel_install_packages
vistrel_install_packages "${VISTREL_CORPUS_PACKAGES[@]}"

build=${VISTREL_BENCH_BUILD:-build-bench}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVISTREL_BUILD_BENCH=ON >/dev/null
fi
cmake --build "$build" -j"${VISTREL_JOBS:-2}" --target vistrel-cli vistrel-cli-record

exec python3 bench/desktop_corpus.py --cli "$build/Vistrel/vistrel-cli" "$@"
