#!/usr/bin/env bash
# Installs what is missing, builds and starts Netquill.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
netquill_install_deps
netquill_build netquill
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: starting Netquill on a virtual X display (Xvfb)."
  exec xvfb-run -a -s "-screen 0 1280x800x24" build/bin/netquill
fi
exec build/bin/netquill
