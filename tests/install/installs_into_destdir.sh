#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build in $1 into a fresh DESTDIR and checks what a desktop needs: the
# programs, a valid desktop entry for each, the icon at every size.
set -euo pipefail
build=$1
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
DESTDIR=$dest cmake --install "$build" --prefix /usr/local >/dev/null
root=$dest/usr/local
status=0
fail() { echo "FAIL: $*" >&2; status=1; }

programs=0
for prog in velmora6 velmora3; do
  if [ -x "$build/$prog" ]; then
    programs=$((programs + 1))
    [ -x "$root/bin/$prog" ] || fail "$prog is not installed"
    entry=$root/share/applications/$prog.desktop
    if [ -f "$entry" ]; then
      desktop-file-validate "$entry" | grep -v ': hint: ' | grep . && fail "$entry is not valid"
      grep -qx "Exec=$prog" "$entry" || fail "$entry does not start $prog"
      grep -q '^Name\[ja\]=' "$entry" || fail "$entry has no Japanese name"
    else
      fail "no desktop entry for $prog"
    fi
  elif [ -e "$root/bin/$prog" ]; then
    fail "$prog installed but never built"
  fi
done
[ "$programs" -gt 0 ] || fail "no program was built"
# The command-line program has no desktop entry.
if [ -x "$build/velmora-scan" ]; then
  [ -x "$root/bin/velmora-scan" ] || fail "velmora-scan is not installed"
fi

for size in 16 32 48 64 128 256; do
  icon=$root/share/icons/hicolor/${size}x${size}/apps/velmora.png
  if [ ! -f "$icon" ]; then
    fail "no ${size}x${size} icon"
    continue
  fi
  # Width and height from the PNG header (big-endian at bytes 16 and 20).
  read -r w h < <(od -An -tu1 -j16 -N8 "$icon" |
    awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
  [ "$w" = "$size" ] && [ "$h" = "$size" ] || fail "$icon is ${w}x${h}"
done

[ "$status" -eq 0 ] && echo "installed and checked under $root"
exit "$status"
