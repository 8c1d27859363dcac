#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Measures velmora6 as a person uses it, in a virtual X session:
#  - the time from the press of 切り取り画像の作成 to a full composite, for a few bands and
#    frames-per-strip counts, next to what the 300 ms pacing predicts;
#  - the resident memory (from /proc) while a 1280x720 clip is open, played and stepped.
#   scripts/measure.sh BUILD_DIR
set -euo pipefail
source "$(dirname "$0")/lib/drive.sh"
x_session_begin velmora6 "Velmora " 455 "${1:-}"

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# A pixel of velmora6's composite pane (at 424, 40 of the client area).
composite_pixel() { client_pixel $((424 + $1)) $((40 + $2)); }

# Sets the frames per strip in Text1 (at 720, 296, 33 x 18).
set_frames_per_strip() {
  xdotool windowfocus --sync "$window_id" 2>/dev/null || xdotool windowfocus "$window_id"
  xdotool mousemove --window "$window_id" 736 $((305 + menu_height)) click 1
  sleep 0.3
  # Keys sent without a pause between them get lost on a busy machine.
  xdotool key --delay 100 End BackSpace BackSpace BackSpace BackSpace
  xdotool type --delay 100 "$1"
  sleep 0.3
}

# One run: band of source columns FIRST .. LAST, N frames per strip. The composite is full
# once its last column is drawn; the press-to-full time lies between the last screenshot
# still white there and the first one that is not.
time_one_run() {
  local first=$1 last=$2 frames=$3
  # A fresh window each run: once the file dialog has been up, the text box no longer
  # takes keys typed into the virtual session.
  start_program
  set_frames_per_strip "$frames"
  open_clip "$work/clip.avi"
  click 584 312  # Command1, play: the build and clear buttons come on with it
  sleep 0.5
  click 520 312  # Command2, pause
  click $((40 + first)) 290  # Picture4, the column pick strip at 40, 280
  click $((40 + last)) 290
  local width=$((last - first))
  local strips=$(((320 + width - 1) / width))
  local paced=$(((strips - 1) * frames))
  local before after pressed
  pressed=$(now_ms)
  xdotool mousemove --window "$window_id" 696 $((336 + menu_height)) click 1  # CmdGosei
  before=$pressed
  while :; do
    local polled
    polled=$(now_ms)
    shot
    if [ "$(composite_pixel 319 50)" != "255,255,255" ]; then
      after=$polled
      break
    fi
    before=$polled
    [ $((polled - pressed)) -lt $((paced * 300 + 30000)) ] || fail "no full composite"
  done
  press_exit 690 416
  printf '| %d .. %d (%d columns) | %d | %d | %d | %.1f .. %.1f s | %.2f .. %.2f s |\n' \
    "$first" "$last" "$width" "$frames" "$strips" "$paced" \
    "$(echo "($paced - 1) * 0.3" | bc -l)" "$(echo "$paced * 0.3" | bc -l)" \
    "$(echo "($before - $pressed) / 1000" | bc -l)" "$(echo "($after - $pressed) / 1000" | bc -l)"
}

# Resident set now and at its peak, in MB, from /proc.
rss_line() {
  local rss hwm
  rss=$(awk '/^VmRSS/ {print $2}' "/proc/$program_pid/status")
  hwm=$(awk '/^VmHWM/ {print $2}' "/proc/$program_pid/status")
  printf '| %s | %.1f MB | %.1f MB |\n' "$1" "$(echo "$rss / 1024" | bc -l)" \
    "$(echo "$hwm / 1024" | bc -l)"
}

echo "## press to full composite (320x240 RGB test clip)"
write_test_clip "$work/clip.avi" 200
echo "| band | N | strips | paced steps | 300 ms pacing predicts | measured (last white .. first full screenshot) |"
echo "|---|---|---|---|---|---|"
time_one_run 100 180 1
time_one_run 100 140 1
time_one_run 100 140 3
time_one_run 100 120 2

echo
echo "## resident memory with a 1280x720 MPEG-4 clip"
"$clipgen" "$work/big.avi" --codec mpeg4 --size 1280x720 --frames 300 --gop 250 --bframes 2 \
  --pattern pendulum >/dev/null
start_program
echo "| moment | resident | peak so far |"
echo "|---|---|---|"
rss_line "started, no clip"
open_clip "$work/big.avi"
rss_line "1280x720 clip open"
click 584 312  # Command1, play
sleep 3
click 520 312  # Command2, pause
rss_line "played 3 s, paused"
for _ in $(seq 30); do quick_click 552 384 0.1; done  # Command3, a frame on
rss_line "30 steps forward"
for _ in $(seq 30); do quick_click 488 384 0.1; done  # Command4, a frame back
rss_line "30 steps back"
click 520 312
click 40 290  # a band of columns 0 .. 80, then a composite from the big clip
click 120 290
click 696 336
sleep 2
rss_line "composite built"
press_exit 690 416
