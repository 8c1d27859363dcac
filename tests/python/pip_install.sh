#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# `pip install .` from the source tree with no network (--no-index: nothing may be
# downloaded), in a venv that sees the system's NumPy; the module then imports there and
# makes a streak image.
#   pip_install.sh SOURCE BUILD
set -euo pipefail
source_dir=$1 build=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
/usr/bin/python3 -m venv --system-site-packages "$scratch/venv"
# A build folder of its own, kept beside the build's between runs; ccache when there is one.
export VELMORA_WHEEL_BUILD_DIR=$build/pip-wheel
if command -v ccache >/dev/null; then
  export CMAKE_ARGS="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
fi
"$scratch/venv/bin/pip" install --no-index --quiet "$source_dir"
"$build/velmora-clipgen" "$scratch/clip.avi" --codec mjpeg --size 32x24 --frames 12 >/dev/null
cd "$scratch"
"$scratch/venv/bin/python" - "$scratch/clip.avi" <<'PY'
import sys, velmora
assert velmora.__file__.startswith(sys.prefix), velmora.__file__
image = velmora.scan(sys.argv[1], slit="5:2").image
assert image.shape == (24, 24, 3), image.shape
print("velmora", velmora.__version__, "from", velmora.__file__)
PY
