// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-scan's command line: GNU-style options and two operands, INPUT and OUTPUT, read
// into a request.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "scan/request.h"

namespace scan {

struct Parsed {
  enum class Action { run, help, version, usage_error } action = Action::run;
  Request request;
  std::string error;  // one line, without the program's name, for usage_error
};

// Reads argv; nothing is checked against the clip or the file system here.
Parsed parse_options(const std::vector<std::string>& args);

// The long names of the options (without "--"), in --help's order.
std::vector<std::string_view> option_names();

// The text of --help.
std::string help_text(int default_threads);

}  // namespace scan
