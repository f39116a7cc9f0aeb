#!/usr/bin/env bash
# Builds the Debian package of Vistrel into build-package/:
#
#   scripts/package.sh                       the package as built from source
#   scripts/package.sh -DVISTREL_UPDATE_CHECK=OFF
#                                            further arguments go to CMake (a distribution's
#                                            build turns the update check off)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
vistrel_install_packages

cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DVISTREL_BUILD_BENCH=OFF "$@"
cmake --build build-package -j"${VISTREL_JOBS:-2}" --target vistrel vistrel-cli vistrel-cli-record \
  vistrel-man-pages
(cd build-package && cpack -G DEB)
ls -1 build-package/*.deb
