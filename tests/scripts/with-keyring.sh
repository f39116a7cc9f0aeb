#!/usr/bin/env bash
# Runs a command against a real, throw-away GNOME Keyring inside a private session bus.
# HOME and the XDG folders point into a scratch folder, so the user's own keyring, settings and
# key file are never seen or touched; no display is passed on, so nothing can prompt.
set -euo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 command [argument...]" >&2
  exit 2
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/vistrel-keyring.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

export HOME="$scratch/home"
export XDG_CONFIG_HOME="$HOME/.config"
export XDG_DATA_HOME="$HOME/.local/share"
export XDG_CACHE_HOME="$HOME/.cache"
export XDG_RUNTIME_DIR="$scratch/runtime"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$scratch" "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS GNOME_KEYRING_CONTROL SSH_AUTH_SOCK

password=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')

# Inside the private bus: unlock (and so create) the login keyring, which becomes the default
# collection, then run the command. The bus and the keyring daemon end with the command.
dbus-run-session -- bash -c '
  set -euo pipefail
  printf "%s" "$1" | gnome-keyring-daemon --unlock --components=secrets >/dev/null
  shift
  "$@"
' with-keyring "$password" "$@"
