#!/usr/bin/env bash
# The one list of Debian 12 packages that building, running and testing Vistrel need.
# Sourced by run.sh and test.sh; installs only what is missing, running apt-get update once.
set -euo pipefail

VISTREL_PACKAGES=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libsqlite3-dev sqlite3 libssl-dev openssl libicu-dev nlohmann-json3-dev
  libturbojpeg0-dev libpng-dev libpixman-1-dev
  libtesseract-dev libleptonica-dev tesseract-ocr-eng
  libsecret-1-dev libglib2.0-dev
  libxcb1-dev libxcb-shm0-dev libxcb-randr0-dev libxcb-screensaver0-dev libxcb-dpms0-dev
  libxcb-keysyms1-dev libxcb-ewmh-dev libxcb-icccm4-dev libxcb-xtest0-dev x11proto-dev
  qt6-base-dev qt6-base-dev-tools
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth openbox xterm xdotool x11-utils dbus dbus-x11 gnome-keyring libsecret-tools
  fonts-dejavu-core fonts-liberation2 imagemagick desktop-file-utils appstream man-db dpkg-dev
  libqt6svg6 adwaita-icon-theme at-spi2-core python3-dbus python3-gi
)

# What bench/desktop-corpus.sh puts on its desktops besides: a browser, a GTK and a Qt editor.
VISTREL_CORPUS_PACKAGES=(chromium zenity mousepad featherpad)

# Installs the packages named (by default VISTREL_PACKAGES) that are missing.
vistrel_install_packages() {
  local missing=()
  local package
  if [ $# -eq 0 ]; then
    set -- "${VISTREL_PACKAGES[@]}"
  fi
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$package")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing missing packages: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
  fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
