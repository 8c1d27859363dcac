# SPDX-License-Identifier: GPL-3.0-or-later
# Writes OUT, a C++ source whose scan::openseadragon_script() returns the bytes of IN, so
# that velmora-scan carries the viewer page's script wherever it is run from.
#   cmake -DIN=openseadragon.min.js -DOUT=openseadragon_script.cpp -P embed_script.cmake
file(READ "${IN}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR bytes "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," array "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" array "${array}")
file(WRITE "${OUT}.tmp" "// Generated from ${IN} by scan/embed_script.cmake.\n"
  "#include <string_view>\nnamespace scan {\nnamespace {\n"
  "const unsigned char script[${bytes}] = {\n${array}};\n}  // namespace\n"
  "std::string_view openseadragon_script() {\n  return {reinterpret_cast<const char*>(script), sizeof script};\n}\n"
  "}  // namespace scan\n")
file(RENAME "${OUT}.tmp" "${OUT}")
