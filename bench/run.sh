#!/usr/bin/env bash
# Builds Netquill and the benchmark programs, runs every benchmark and writes the figures into
# bench/README.md (between the "figures" markers). Takes about three minutes after the build.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
netquill_install_deps test
# What only the benchmarks need.
bench_missing=()
for pkg in hyperfine swaks curl nginx-light python3-aiosmtpd xvfb xauth; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || bench_missing+=("$pkg")
done
if [ ${#bench_missing[@]} -gt 0 ]; then
  sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${bench_missing[@]}"
fi
NETQUILL_BUILD_TYPE="${NETQUILL_BUILD_TYPE:-RelWithDebInfo}" netquill_build \
  netquill netquill-monitor bench_bareqt bench_barecore bench_startup bench_lookup bench_refresh bench_smtp bench_mail bench_browser bench_channels
# The system interpreter: it is the one python3-aiosmtpd is installed for.
exec /usr/bin/python3 bench/bench.py build/bin "$@"
