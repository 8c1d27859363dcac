# SPDX-License-Identifier: GPL-3.0-or-later
# The sample clips `./dev.sh run` puts into samples/ and the README's screenshots open:
# things that move through the frame, so the first streak image is worth looking at.
# The sourcing script calls write_samples CLIPGEN FOLDER.

# One sample clip, unless it is there already; written aside and renamed, so a clip that
# was cut short by an interruption is never taken for a whole one.
sample() {
  local clipgen=$1 folder=$2 name=$3
  shift 3
  [ -f "$folder/$name" ] && return 0
  "$clipgen" "$folder/$name.part" "$@"
  mv "$folder/$name.part" "$folder/$name"
  echo "== wrote samples/$name"
}

write_samples() {
  mkdir -p "$2"
  sample "$1" "$2" ball-320x240.avi --size 320x240 --codec mjpeg --frames 150 --fps 30 --pattern ball
  sample "$1" "$2" rotor-320x240.avi --size 320x240 --codec mpeg4 --frames 180 --fps 30 --gop 30 --pattern rotor
  sample "$1" "$2" pendulum-640x480.avi --size 640x480 --codec mjpeg --frames 240 --fps 30 --pattern pendulum
}
