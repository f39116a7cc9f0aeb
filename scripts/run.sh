#!/usr/bin/env bash
# Installs what is missing, builds Vistrel and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
vistrel_install_packages

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2

# Until the windows exist, the application runs headless: it captures with the saved settings
# and prints its status until Ctrl-C. Turn capture on with "captureEnabled": true in config.json.
exec build/Vistrel/vistrel --headless "$@"
