#!/bin/sh
# Runs a test on a private session bus with its own unlocked keyring, away from the user's.
set -eu
for program in dbus-run-session gnome-keyring-daemon; do
  if ! command -v "$program" >/dev/null; then
    echo "skipped, missing: $program is not installed"
    exit 77 # reported by CTest as skipped
  fi
done
home=$1; shift
rm -rf "$home" && mkdir -p "$home/data" "$home/run" && chmod 700 "$home/run"
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$home/run"
exec dbus-run-session -- sh -c 'printf test | gnome-keyring-daemon --unlock --components=secrets --daemonize >/dev/null && exec "$@"' sh "$@"
