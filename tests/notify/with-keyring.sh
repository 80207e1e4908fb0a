#!/bin/sh
# Runs a test on a private session bus with its own unlocked keyring, away from the user's.
set -eu
home=$1; shift
rm -rf "$home" && mkdir -p "$home/data" "$home/run" && chmod 700 "$home/run"
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$home/run"
exec dbus-run-session -- sh -c 'printf test | gnome-keyring-daemon --unlock --components=secrets --daemonize >/dev/null && exec "$@"' sh "$@"
