#!/usr/bin/env bash
# Installs what is missing, builds Vistrel and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
vistrel_install_packages

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2

if [ -x build/Vistrel/vistrel ]; then
  exec build/Vistrel/vistrel "$@"
fi
exec build/Vistrel/vistrel-cli --help
