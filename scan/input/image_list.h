// SPDX-License-Identifier: GPL-3.0-or-later
// An image sequence named on the command line: a folder, a glob pattern or a printf pattern,
// turned into its list of image files in the order they are scanned.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"

namespace scan {

enum class SequenceKind { none, folder, glob, printf };

// What INPUT names: a folder, a pattern velmora-scan expands itself, or neither (a clip,
// a pipe, a URL).
SequenceKind sequence_kind(const std::string& input);

// Names compared as people count: runs of digits by their value ("img2" before "img10"),
// everything else byte by byte.
bool natural_less(const std::string& a, const std::string& b);

// The extensions a folder's images may have (jpg, jpeg, png, tif, tiff, webp, bmp, any case).
bool image_extension(const std::string& name);

// The number `pattern` (a printf pattern's file name, one conversion such as %05d) names
// `name` with; none when no number gives that name.
std::optional<long long> pattern_number(const std::string& pattern, const std::string& name);

// The images of `input`, in scanning order; a message without the program's name when
// there are none or the folder cannot be read. A printf pattern gives every file of its
// folder that it names, in number order, numbers missing or not.
base::Result<std::vector<std::string>, base::Error> list_images(const std::string& input,
                                                                SequenceKind kind);

}  // namespace scan
