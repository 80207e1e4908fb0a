#!/bin/sh
# Runs a test on a private session bus whose notification service is dunst, on a private X display.
set -eu
for program in dbus-run-session dbus-send dunst xvfb-run; do
  if ! command -v "$program" >/dev/null; then
    echo "skipped, missing: $program is not installed"
    exit 77 # reported by CTest as skipped
  fi
done
export NETQUILL_TEST_NOTIFICATIONS=1
exec xvfb-run -a -s "-screen 0 640x480x24" dbus-run-session -- sh -c '
  dunst >/dev/null 2>&1 &
  dunst=$!
  tries=0
  until dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
      string:org.freedesktop.Notifications 2>/dev/null | grep -q true; do
    tries=$((tries + 1))
    if [ $tries -gt 100 ]; then echo "dunst did not take the notification service"; exit 1; fi
    sleep 0.1
  done
  status=0
  "$@" || status=$?
  kill $dunst 2>/dev/null || true
  exit $status' sh "$@"
