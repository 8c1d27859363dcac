#!/usr/bin/env bash
# Sets up a Debian 12 machine for Velmora, builds the programs (velmora6, velmora3 and the
# command-line velmora-scan), and starts one of them, runs the tests or installs the programs.
#   ./dev.sh run [velmora6|velmora3]   install what is missing, build, write sample clips,
#                                      start one (velmora6) in the samples folder
#   ./dev.sh test                      install what is missing, build, run every test
#   ./dev.sh install                   install what is missing, build, put the three programs
#                                      into /usr/local/bin (PREFIX to choose another place)
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
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev libpng-dev
  libgtest-dev libbenchmark-dev
  xvfb xauth xdotool xclip x11-utils imagemagick xfce4-clipman dbus-daemon
  fonts-ipafont-gothic desktop-file-utils
  clang libclang-rt-14-dev
  ffmpeg
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

# One sample clip, unless it is there already; written aside and renamed, so a clip that
# was cut short by an interruption is never taken for a whole one.
sample() {
  local name=$1
  shift
  [ -f "$samples_dir/$name" ] && return 0
  "$build_dir/velmora-clipgen" "$samples_dir/$name.part" "$@"
  mv "$samples_dir/$name.part" "$samples_dir/$name"
  echo "== wrote samples/$name"
}

# Things that move through the frame, so the first streak image is worth looking at.
write_samples() {
  mkdir -p "$samples_dir"
  sample ball-320x240.avi --size 320x240 --codec mjpeg --frames 150 --fps 30 --pattern ball
  sample rotor-320x240.avi --size 320x240 --codec mpeg4 --frames 180 --fps 30 --gop 30 --pattern rotor
  sample pendulum-640x480.avi --size 640x480 --codec mjpeg --frames 240 --fps 30 --pattern pendulum
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
    write_samples
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
