#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Both window programs in a Wayland session with XWayland: weston, nested in a virtual X
# screen, with its XWayland. Left to choose their platform, they run through XWayland:
# velmora6 centres its window, another program pastes a run's snapshot, and 「1画面前に戻る」
# brings it back; velmora3 runs there too.
#   wayland_session.sh BUILD_DIR
set -euo pipefail
x_screen=1600x1024x24
source "$(dirname "$0")/lib/session.sh"
x_session_begin velmora6 "Velmora " 455 "$@"
for tool in weston Xwayland; do
  command -v "$tool" >/dev/null || fail "no $tool (apt packages weston, xwayland)"
done
# Where Qt's Wayland platform is installed, Qt itself would pick it in this session.
ls /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1 ||
  fail "no Qt Wayland platform (apt package qt6-wayland)"

write_test_clip "$work/clip.avi"

# weston draws its output in a window of the virtual screen, and starts XWayland when its
# display is first used.
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
weston --backend=x11-backend.so --xwayland --socket=velmora-$$ --idle-time=0 \
  --width=1600 --height=1000 >"$work/weston.log" 2>&1 &
weston_pid=$!
trap 'x_session_cleanup; kill "$weston_pid" 2>/dev/null || true' EXIT
xwayland=
for _ in $(seq 100); do
  xwayland=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$work/weston.log")
  [ -n "$xwayland" ] && break
  kill -0 "$weston_pid" 2>/dev/null || fail "weston ended: $(cat "$work/weston.log")"
  sleep 0.1
done
[ -n "$xwayland" ] || fail "weston started no XWayland"
export WAYLAND_DISPLAY=velmora-$$ DISPLAY=$xwayland XDG_SESSION_TYPE=wayland
unset QT_QPA_PLATFORM
program_platform=""  # the program's own choice

echo "== velmora6"
start_program  # only an X client's window is found here
# Centred: its frame at (1600 - 799) / 2, (1000 - 499) / 2; the window inside the frame
# stands off that by weston's decorations.
left=$(geometry 'Absolute upper-left X')
top=$(geometry 'Absolute upper-left Y')
[ $(( left - 401 )) -ge 0 ] && [ $(( left - 401 )) -le 10 ] &&
  [ $(( top - 250 )) -ge 0 ] && [ $(( top - 250 )) -le 50 ] ||
  fail "the window stands at $left,$top, not in the middle of the screen"

composite_pixel() { client_pixel $(( 424 + $1 )) $(( 40 + $2 )); }
open_clip "$work/clip.avi"
click 584 312  # Command1, play
sleep 0.5
click 520 312  # Command2, pause
click 140 290  # the band: columns 100 .. 180
click 220 290
click 696 336  # CmdGosei: four strips
for _ in $(seq 40); do
  sleep 0.5
  shot
  [ "$(composite_pixel 319 50)" != "255,255,255" ] && break
done
sleep 0.5
shot
strip1=$(composite_pixel 85 50)
[ "$strip1" != "255,255,255" ] && [ "$(composite_pixel 319 50)" != "255,255,255" ] ||
  fail "no composite after the run"

# The snapshot, the composite before its last strip, pasted by another X program. (weston
# hands what X programs copy to Wayland ones as text only, so wl-paste cannot take the
# picture here; it is offered, which is as far as this session can show.)
grep -qx 'image/png' <<<"$(xclip -selection clipboard -t TARGETS -o)" || fail "no picture offered"
timeout 10 xclip -selection clipboard -t image/png -o >"$work/pasted.png" ||
  fail "xclip got no snapshot"
size=$("$convert_tool" "$work/pasted.png" -format '%wx%h' info:)
[ "$size" = "320x240" ] || fail "the pasted picture is $size"
[ "$(pixel_of "$work/pasted.png" 85 50)" = "$strip1" ] || fail "the pasted picture lacks strip 1"
[ "$(pixel_of "$work/pasted.png" 300 50)" = "255,255,255" ] ||
  fail "the pasted picture holds the last strip"

click 720 16  # Cmd_back, 「1画面前に戻る」
shot
[ "$(composite_pixel 300 50)" = "255,255,255" ] || fail "the step back left the last strip"
[ "$(composite_pixel 85 50)" = "$strip1" ] || fail "the step back lost strip 1"
menu_key x
expect_program_end "the menu's exit"
[ -s "$work/out.txt" ] && fail "velmora6 said: $(cat "$work/out.txt")"

echo "== velmora3"
x_session_program velmora3 "Velmora by Oskedal" 357
start_program
menu_key x
expect_program_end "the menu's exit"
echo "PASS"
