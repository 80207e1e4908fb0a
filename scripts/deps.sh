# Installs the Debian packages Netquill needs to build and run, and with "test" also what its tests
# need; only what is missing.
NETQUILL_PACKAGES=(
  cmake ninja-build g++ pkg-config ccache
  qt6-base-dev qt6-webengine-dev qtkeychain-qt6-dev libgl1-mesa-dev libgumbo-dev
  xvfb xauth fonts-dejavu-core libsecret-1-0 ca-certificates
  dpkg-dev file
)
# The tests' real peers (some of them services of their own, such as nginx and node_exporter, which a
# machine that only runs Netquill has no use for), the fuzzing compiler and the package checks. The
# packages themselves build with the first list (dpkg-dev and file for their library dependencies).
NETQUILL_TEST_PACKAGES=(
  nginx-light dnsmasq-base iproute2 python3-aiosmtpd prometheus-node-exporter dbus-daemon gnome-keyring
  clang libclang-rt-14-dev clang-format-14
  desktop-file-utils appstream lintian x11-utils systemd apprise dunst
)

netquill_install_deps() {
  local missing=() wanted=("${NETQUILL_PACKAGES[@]}")
  [ "${1:-}" = test ] && wanted+=("${NETQUILL_TEST_PACKAGES[@]}")
  for pkg in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# netquill_configure <build dir> <source dir> [cmake option...]: configures a Ninja build folder, with
# ccache when it is installed. A folder left by another checkout or generator, or one that no longer
# configures, is removed and made again from scratch.
netquill_configure() {
  local dir=$1 source=$2; shift 2
  local cache="$dir/CMakeCache.txt"
  if [ -f "$cache" ] && ! { grep -qxF "CMAKE_HOME_DIRECTORY:INTERNAL=$(realpath "$source")" "$cache" &&
                            grep -qxF "CMAKE_GENERATOR:INTERNAL=Ninja" "$cache"; }; then
    echo "$dir was made for another source folder or generator: building it again from scratch."
    rm -rf "$dir"
  fi
  local launcher=()
  if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    # Objects are shared between build folders and checkouts by paths relative to the project.
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}" CCACHE_NOHASHDIR=1
  else
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=)
  fi
  local args=(-S "$source" -B "$dir" -G Ninja "${launcher[@]}" "$@")
  if ! cmake "${args[@]}" >/dev/null; then
    [ -d "$dir" ] || return 1
    echo "$dir does not configure: building it again from scratch."
    rm -rf "$dir"
    cmake "${args[@]}" >/dev/null
  fi
}

# netquill_build [target...]: everything, or only the named targets and what they need, in build/.
netquill_build() {
  netquill_configure build . -DCMAKE_BUILD_TYPE="${NETQUILL_BUILD_TYPE:-RelWithDebInfo}"
  if [ $# -eq 0 ]; then
    cmake --build build
  else
    cmake --build build --target "$@"
  fi
}
