#!/usr/bin/env bash
# Installs what is missing, builds Vistrel and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
vistrel_install_packages

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2

# The desktop application: a tray icon and the main window. A running Vistrel is shown instead of
# starting a second one. Without a display (or with --headless) it captures with the saved
# settings and prints its status until Ctrl-C.
exec build/Vistrel/vistrel "$@"
