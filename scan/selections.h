// SPDX-License-Identifier: GPL-3.0-or-later
// --roi's files read when a run starts (the command line itself touches no file): each
// selection becomes a line's points, a RoiSet.zip one line per selection, and a
// selection's width the --thickness where none was given.
#pragma once
#include <string>

#include "base/result.h"
#include "scan/options.h"

namespace scan {

// The options with every --roi's points in place and OUTPUT's numbering checked against
// the slits the sets make, or why a file cannot be taken.
[[nodiscard]] base::Result<Request, base::Error> with_selections(const Request& o);

// The options of one slit with its selection's width as --thickness, unless given.
Request with_selection_width(Request o);

}  // namespace scan
