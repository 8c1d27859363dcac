#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up a Debian 12 machine for Velmora, builds the programs (velmora6, velmora3 and the
# command-line velmora-scan), and starts one of them, runs the tests, installs the programs
# or makes the Debian package.
#   ./dev.sh run [velmora6|velmora3]   install what is missing, build, write sample clips,
#                                      start one (velmora6) in the samples folder; needs
#                                      a display
#   ./dev.sh test                      install what is missing, build, run every test
#   ./dev.sh install                   install what is missing, build, put the three programs
#                                      into /usr/local/bin (PREFIX to choose another place)
#   ./dev.sh package                   install what is missing, build, write
#                                      velmora_<version>_amd64.deb into the build folder
# A second run skips what is done. Set BUILD_DIR or VELMORA_SANITIZE=ON to vary the build.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build_dir=${BUILD_DIR:-$here/build}
case $build_dir in /*) ;; *) build_dir=$PWD/$build_dir ;; esac
samples_dir=$here/samples
sanitize=${VELMORA_SANITIZE:-OFF}

packages=(
  cmake ninja-build g++ pkg-config git
  qt6-base-dev qt6-qpa-plugins qt6-translations-l10n libgl-dev
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev libavdevice-dev libpng-dev libtiff-dev zlib1g-dev libzip-dev
  libjpeg62-turbo-dev libisal-dev libwebp-dev
  libgtest-dev libbenchmark-dev
  xvfb xauth xdotool xclip x11-utils imagemagick xfce4-clipman dbus-daemon
  weston xwayland qt6-wayland
  fonts-ipafont-gothic desktop-file-utils
  clang libclang-rt-14-dev
  ffmpeg parallel libvips-tools chromium chromium-driver python3-websocket imagej
  libexif-dev libfreetype-dev libfontconfig-dev libexpat1-dev
  python3-dev pybind11-dev python3-numpy python3-pytest python3-venv python3-matplotlib
  dpkg-dev file lintian appstream man-db systemd
)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    [[ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" == *"ok installed"* ]] || missing+=("$p")
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

source "$here/scripts/lib/samples.sh"

# The windows need a display; say so before installing and building for nothing.
require_display() {
  [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ] && return 0
  echo "$program opens a window, but there is no display (DISPLAY and WAYLAND_DISPLAY are unset): run this in a desktop session, or as 'xvfb-run $0 $*'" >&2
  exit 1
}

case "${1:-}" in
  run)
    program=${2:-velmora6}
    case "$program" in
      velmora6|velmora3) ;;
      *) echo "usage: $0 run [velmora6|velmora3]" >&2; exit 2 ;;
    esac
    require_display "$@"
    install_missing
    build
    write_samples "$build_dir/velmora-clipgen" "$samples_dir"
    # The file dialog opens in the working folder: there are the samples.
    cd "$samples_dir"
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
    echo "== velmora6, velmora3 and velmora-scan are in $prefix/bin"
    ;;
  package)
    install_missing
    build
    (cd "$build_dir" && cpack)
    version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
    deb=$build_dir/package/velmora_${version}_$(dpkg --print-architecture).deb
    echo "== wrote $deb; install it with: sudo apt install $deb"
    ;;
  test)
    install_missing
    build
    cd "$build_dir"
    ctest --output-on-failure -j "$(nproc)"
    ;;
  *)
    echo "usage: $0 run [velmora6|velmora3] | test | install | package" >&2
    exit 2
    ;;
esac
