# Installs the Debian packages Netquill needs to build, test and run; only what is missing.
NETQUILL_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-webengine-dev qtkeychain-qt6-dev libgl1-mesa-dev libgumbo-dev
  xvfb xauth fonts-dejavu-core
  nginx-light python3-aiosmtpd dbus-daemon gnome-keyring libsecret-1-0 ca-certificates
  clang libclang-rt-14-dev clang-format-14
  dpkg-dev file desktop-file-utils appstream lintian x11-utils
)

netquill_install_deps() {
  local missing=()
  for pkg in "${NETQUILL_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# netquill_build [target...]: everything, or only the named targets and what they need.
netquill_build() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="${NETQUILL_BUILD_TYPE:-RelWithDebInfo}" >/dev/null
  if [ $# -eq 0 ]; then
    cmake --build build
  else
    cmake --build build --target "$@"
  fi
}
