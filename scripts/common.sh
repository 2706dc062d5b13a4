# Shared by scripts/run and scripts/test: the Debian packages the project needs, and the build.
# shellcheck shell=bash

KAV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
KAV_BUILD="$KAV_ROOT/build"
KAV_PACKAGES=(cmake make g++ pkg-config libgtest-dev libcli11-dev libpng-dev libgif-dev zlib1g-dev
  libimagequant-dev libbenchmark-dev
  nlohmann-json3-dev
  qt6-base-dev)

kav_install_packages() {
  local missing=() package
  for package in "${KAV_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Some packages are missing. Install them with:" >&2
    echo "  sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing ${missing[*]}" >&2
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
}

kav_build() {
  cmake -S "$KAV_ROOT" -B "$KAV_BUILD" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  cmake --build "$KAV_BUILD" -j "$(nproc)"
}
