#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the README's screenshots in a virtual X session: the pendulum sample clip, a
# horizontal band across the bottom of its swing, and a finished streak image in each
# program. The clip is the one `./dev.sh run` writes into samples/, so the path the window
# shows is one a user has too.
#   scripts/screenshots.sh BUILD_DIR [OUT_DIR, default docs/]
set -euo pipefail
: "${VELMORA_SHOTS_OUT:=$(mkdir -p "${2:-docs}" && cd "${2:-docs}" && pwd)}"
export VELMORA_SHOTS_OUT
repo=$(cd "$(dirname "$0")/.." && pwd)
source "$repo/scripts/lib/drive.sh"
source "$repo/scripts/lib/samples.sh"
x_session_begin velmora6 "Velmora " 455 "${1:-}"

write_samples "$clipgen" "$repo/samples" >/dev/null
clip=$repo/samples/pendulum-640x480.avi

# Keeps the PNG small: the window has few colours, so a palette loses nothing to the eye.
save_small() {
  shoot_window "$work/raw.png"
  "$convert_tool" "$work/raw.png" -colors 128 -define png:compression-level=9 "$1"
  echo "wrote $1 ($(stat -c %s "$1") bytes)"
}

# Starts the program on the pendulum, plays a second of it and pauses, chooses the
# horizontal cut and picks two rows on the row pick strip Picture5. Arguments, as client
# x y pairs: Command1 (play), Command2 (pause), Option2; then Picture5's x and the rows' y.
pendulum_paused_with_rows() {
  start_program
  open_clip "$clip"
  click "$1" "$2"
  sleep 1
  click "$3" "$4"
  click "$5" "$6"
  click "$7" "$8"
  click "$7" "$9"
}

# velmora6: rows 170 .. 174, one frame per strip, the run ends when the pane is full.
pendulum_paused_with_rows 584 312 520 312 212 392 372 210 214  # Picture5 at 360, 40
click 696 336  # CmdGosei
wait_until_coloured $((424 + 160)) $((40 + 239)) 120
sleep 0.5
save_small "$VELMORA_SHOTS_OUT/velmora6.png"
press_exit 690 416  # Cmd_End

# velmora3: rows 120 .. 124, one strip per press and one frame step between presses.
use_program velmora3 "Velmora by Oskedal" 357
pendulum_paused_with_rows 176 56 112 56 140 320 564 160 164  # Picture5 at 552, 40
strips=$(((240 + 3) / 4))
for _ in $(seq "$strips"); do
  quick_click 104 168  # CmdGosei
  quick_click 136 136  # Command3, one frame on
done
wait_until_coloured $((584 + 160)) $((40 + 239)) 30
sleep 0.5
save_small "$VELMORA_SHOTS_OUT/velmora3.png"
press_exit 104 248  # Cmd_End
