# Shared by scripts/test, scripts/demo and .ci/run: the Debian packages the
# build needs, installed when missing, and the build itself.

WN_PACKAGES=(cmake ninja-build g++ pkg-config ccache libgtest-dev libgmock-dev libbenchmark-dev libsqlite3-dev sqlite3
             iproute2 jackd2 libjack-jackd2-dev python3 qt6-base-dev qt6-svg-dev libgl-dev xvfb xauth trayer xdotool
             fonts-dejavu-core fonts-liberation2)

wn_install_missing() {
  local missing=()
  for pkg in "${WN_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing missing packages: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
  fi
}

# Configures a build directory: wn_configure DIR [cmake options...]
wn_configure() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
}

# Builds in a configured directory with ninja's progress line, all targets or
# the ones named: wn_build_targets DIR [TARGET...]
wn_build_targets() {
  local dir=$1
  shift
  local targets=()
  for target in "$@"; do targets+=(--target "$target"); done
  NINJA_STATUS="${NINJA_STATUS:-[%f/%t %es] }" cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
}

# Configures and builds every target of one build directory:
# wn_build DIR [cmake options...]
wn_build() {
  local dir=$1
  wn_configure "$@"
  wn_build_targets "$dir"
}
