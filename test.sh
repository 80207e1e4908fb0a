#!/usr/bin/env bash
# Installs what is missing, builds from scratch and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/deps.sh
netquill_install_deps
rm -rf build
netquill_build
cd build
ctest --output-on-failure --timeout 600
