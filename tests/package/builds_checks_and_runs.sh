#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the Debian package of the build in $1 and checks it as a user's machine would meet
# it: its fields and Depends, every file a program needs, lintian, and then every program
# run from a scratch root the package is unpacked into. The programs are the ones the build
# lists in programs.txt (executables with a manual page), so a program added later is
# checked without a change here.
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
fail() { echo "FAIL: $*" >&2; status=1; }
# Whether $1 is one of the other arguments. (A pipe into grep -q would do, but under
# pipefail the writer that grep stops reading may die of SIGPIPE and fail the test.)
listed() {
  local want=$1 item
  shift
  for item in "$@"; do [ "$item" = "$want" ] && return 0; done
  return 1
}

version=$(sed -n 's/^#define VELMORA_VERSION "\(.*\)"$/\1/p' "$build/generated/velmora/version.h")
arch=$(dpkg --print-architecture)
mapfile -t programs < <(awk '{print $1}' "$build/programs.txt")
mapfile -t windows < <(awk '$2 == "window" {print $1}' "$build/programs.txt")
[ -n "$version" ] && [ ${#programs[@]} -gt 0 ] || { echo "FAIL: no version or no programs in $build" >&2; exit 1; }
echo "version $version; programs: ${programs[*]}"

# ---- the package, written aside so that ./dev.sh package in this build is not disturbed
if ! cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log" >&2
  echo "FAIL: cpack" >&2
  exit 1
fi
deb=$scratch/out/velmora_${version}_${arch}.deb
[ -f "$deb" ] || { ls "$scratch/out" >&2; echo "FAIL: no $(basename "$deb")" >&2; exit 1; }

# ---- fields ------------------------------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = velmora ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)'"
for name in Maintainer Section Priority Description Installed-Size; do
  [ -n "$(field "$name")" ] || fail "no $name field"
done
depends=$(field Depends)
echo "Depends: $depends"
# The package names alone, one a line: versions and alternatives dropped.
depends_names=$(sed 's/([^)]*)//g; s/|/,/g' <<<"$depends" | tr ',' '\n' | tr -d ' ')
grep -q -- '-dev$' <<<"$depends_names" && fail "Depends names a development package"

# ---- files -------------------------------------------------------------------------------
dpkg-deb -c "$deb" >"$scratch/contents"
awk '$2 != "root/root" {print "FAIL: not owned by root: " $NF; bad = 1} END {exit bad}' \
  "$scratch/contents" || status=1
# Outside /usr only the nightly run's settings, a conffile.
awk '$NF !~ /^\.\/usr\// && $NF != "./" && $NF !~ /^\.\/etc\/(default\/(velmora-scan)?)?$/ {
  print "FAIL: outside /usr: " $NF; bad = 1} END {exit bad}' "$scratch/contents" || status=1
[ "$(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles)" = /etc/default/velmora-scan ] ||
  fail "/etc/default/velmora-scan is not the package's one conffile"
for unit in velmora-scan-nightly.service velmora-scan-nightly.timer; do
  grep -q "\./usr/lib/systemd/system/$unit\$" "$scratch/contents" || fail "no $unit"
done
root=$scratch/root
dpkg-deb -x "$deb" "$root"
usr=$root/usr

doc=$usr/share/doc/velmora
read -r format_line <"$doc/copyright"
[ "$format_line" = 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ] ||
  fail "the copyright file is not in the machine-readable format"
[ "$(zcat "$doc/changelog.gz" | awk 'NR == 1 {print $1, $2}')" = "velmora ($version)" ] ||
  fail "the changelog does not begin with this version"

for size in 16 32 48 64 128 256; do
  [ -f "$usr/share/icons/hicolor/${size}x${size}/apps/velmora.png" ] || fail "no ${size}x${size} icon"
done

metainfo=$(ls "$usr"/share/metainfo/*.metainfo.xml)
appstreamcli validate --no-net "$metainfo" >"$scratch/appstream.log" 2>&1 ||
  { cat "$scratch/appstream.log" >&2; fail "appstreamcli validate refuses $metainfo"; }
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metainfo has no release $version"

for program in "${programs[@]}"; do
  [ -x "$usr/bin/$program" ] || fail "no usr/bin/$program"
  grep -q "<binary>$program</binary>" "$metainfo" || fail "the metainfo does not provide $program"
  page=$usr/share/man/man1/$program.1.gz
  if [ ! -f "$page" ]; then
    fail "no manual page for $program"
    continue
  fi
  gzip -t "$page" || fail "$page is not gzip"
  grep -q "^\.TH .*\"velmora $version\"" <<<"$(zcat "$page")" ||
    fail "$program(1) does not name version $version"
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$program(1): $warnings"
done
for installed in "$usr"/bin/*; do
  name=$(basename "$installed")
  listed "$name" "${programs[@]}" || fail "usr/bin/$name is not a program with a manual page"
done
for program in "${windows[@]}"; do
  entry=$usr/share/applications/$program.desktop
  if [ ! -f "$entry" ]; then
    fail "no desktop entry for $program"
    continue
  fi
  desktop-file-validate "$entry" | grep -v ': hint: ' | grep . && fail "$entry is not valid"
  grep -q "<launchable type=\"desktop-id\">$program.desktop</launchable>" "$metainfo" ||
    fail "the metainfo does not launch $program"
done

# The package that holds a library file, under /lib or /usr/lib alike (merged /usr).
owner_of() {
  local path=$1
  dpkg -S "$path" 2>/dev/null || dpkg -S "${path#/usr}" 2>/dev/null || dpkg -S "/usr$path" 2>/dev/null
}

# Depends must cover every library the programs link against.
for program in "${programs[@]}"; do
  loaded=$(ldd "$usr/bin/$program")
  for soname in $(objdump -p "$usr/bin/$program" | awk '$1 == "NEEDED" {print $2}'); do
    path=$(awk -v lib="$soname" '$1 == lib && $2 == "=>" {print $3}' <<<"$loaded")
    owner=$(owner_of "$path" | awk -F: 'NR == 1 {print $1}') || true
    [ -n "$owner" ] || { fail "$program needs $soname ($path), which no installed package holds"; continue; }
    grep -qxF "$owner" <<<"$depends_names" || fail "$program needs $soname of $owner, not in Depends"
  done
done
# ... and every library a program opens when it needs it.
while read -r program soname; do
  # awk reads to the end: stopping at the first match would kill ldconfig with SIGPIPE.
  path=$(ldconfig -p | awk -v lib="$soname" '$1 == lib && path == "" {path = $NF} END {print path}')
  owner=$(owner_of "$path" | awk -F: 'NR == 1 {print $1}') || true
  [ -n "$owner" ] || { fail "$program opens $soname ($path), which no installed package holds"; continue; }
  grep -qxF "$owner" <<<"$depends_names" || fail "$program opens $soname of $owner, not in Depends"
done <"$build/opened_libraries.txt"

# ---- lintian -----------------------------------------------------------------------------
echo "== lintian"
lintian --fail-on error --display-info "$deb" || fail "lintian reports errors"

# ---- running from the scratch root -------------------------------------------------------
for program in "${programs[@]}"; do
  if listed "$program" "${windows[@]}"; then
    echo "== $program: starts and quits under Xvfb"
    # A display number of its own: other builds on the machine start X servers at :99 too.
    xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1024x768x24" \
      bash "$here/window_quits.sh" "$usr/bin/$program" ||
      fail "$program did not start and quit"
  else
    echo "== $program --version"
    out=$("$usr/bin/$program" --version 2>&1) || fail "$program --version failed"
    grep -qF "$version" <<<"$out" || fail "$program --version says '$out', not $version"
  fi
done

# velmora-scan: a small streak image, a column per frame of a 12-frame 32x24 clip.
if [ -x "$usr/bin/velmora-scan" ]; then
  echo "== velmora-scan: a small scan"
  "$build/velmora-clipgen" "$scratch/clip.avi" --codec rgb --size 32x24 --frames 12 >/dev/null
  "$usr/bin/velmora-scan" -q "$scratch/clip.avi" "$scratch/streak.png" || fail "the scan failed"
  # Width, height, bit depth and colour type from the PNG header.
  read -r w h depth colour < <(od -An -tu1 -j16 -N10 "$scratch/streak.png" |
    awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8, $9, $10}')
  [ "$w $h $depth $colour" = "12 24 8 2" ] ||
    fail "streak.png is ${w}x${h}, depth $depth, colour type $colour; expected 12x24 8-bit RGB"
  "$usr/bin/velmora-scan" -q "$scratch/clip.avi" "$scratch/streak.png" 2>/dev/null &&
    fail "an existing image was overwritten without -f"
  status_of() { "$@" >/dev/null 2>&1 && echo 0 || echo $?; }
  [ "$(status_of "$usr/bin/velmora-scan" --no-such-option)" = 2 ] || fail "wrong usage does not exit with 2"
  [ "$(status_of "$usr/bin/velmora-scan" "$scratch/none.avi" "$scratch/x.png")" = 1 ] ||
    fail "a missing clip does not exit with 1"
  # That --help and the manual page name the same options is test_scan's to check.
fi

# The Python module: in the system's dist-packages, with python3 and python3-numpy in Depends;
# imported from the unpacked tree, it makes the same small image.
module_dir=$usr/lib/python3/dist-packages
if [ -d "$module_dir/velmora" ]; then
  echo "== python3: import velmora"
  for needed in python3 python3-numpy; do
    grep -qxF "$needed" <<<"$depends_names" || fail "the module needs $needed, not in Depends"
  done
  PYTHONPATH=$module_dir /usr/bin/python3 -c "
import sys, velmora
assert velmora.__file__.startswith('$module_dir'), velmora.__file__
assert velmora.__version__ == '$version', velmora.__version__
assert velmora.scan(sys.argv[1]).image.shape == (24, 12, 3)" "$scratch/clip.avi" ||
    fail "the module does not import or scan from the package"
elif [ -d "$build/python/velmora" ]; then
  fail "no Python module in usr/lib/python3/dist-packages"
fi

[ "$status" -eq 0 ] && echo "the package $(basename "$deb") is whole and runs"
exit "$status"
