#!/usr/bin/env bash
# Sets up a Debian 12 machine for Velmora, builds both programs, and starts one of them,
# runs the tests or installs the programs.
#   ./dev.sh run [velmora6|velmora3]   install what is missing, build, start one (velmora6)
#   ./dev.sh test                      install what is missing, build, run every test
#   ./dev.sh install                   install what is missing, build, put both programs
#                                      into /usr/local/bin (PREFIX to choose another place)
# A second run skips what is done. Set BUILD_DIR or VELMORA_SANITIZE=ON to vary the build.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build_dir=${BUILD_DIR:-$here/build}
sanitize=${VELMORA_SANITIZE:-OFF}

packages=(
  cmake ninja-build g++ pkg-config git
  qt6-base-dev qt6-qpa-plugins libgl-dev
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev
  libgtest-dev libbenchmark-dev
  xvfb xauth xdotool xclip x11-utils imagemagick
  fonts-ipafont-gothic
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing: ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

build() {
  echo "== building in $build_dir"
  cmake -S "$here" -B "$build_dir" -G Ninja -DVELMORA_SANITIZE="$sanitize" >/dev/null
  cmake --build "$build_dir" -j "$(nproc)"
}

case "${1:-}" in
  run)
    program=${2:-velmora6}
    case "$program" in
      velmora6|velmora3) ;;
      *) echo "usage: $0 run [velmora6|velmora3]" >&2; exit 2 ;;
    esac
    install_missing
    build
    exec "$build_dir/$program"
    ;;
  install)
    install_missing
    build
    prefix=${PREFIX:-/usr/local}
    if [ -w "$prefix" ] || { [ ! -e "$prefix" ] && mkdir -p "$prefix" 2>/dev/null; }; then
      cmake --install "$build_dir" --prefix "$prefix"
    else
      as_root cmake --install "$build_dir" --prefix "$prefix"
    fi
    echo "== velmora6 and velmora3 are in $prefix/bin"
    ;;
  test)
    install_missing
    build
    cd "$build_dir"
    ctest --output-on-failure -j "$(nproc)"
    ;;
  *)
    echo "usage: $0 run [velmora6|velmora3] | test | install" >&2
    exit 2
    ;;
esac
