// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/command_parser.h"

#include <limits>

namespace service {
namespace {

// Larger pictures would cost gigabytes in the frames kept for stepping back.
constexpr int64_t kMaxSide = 8192;
constexpr int64_t kMaxOffset = 32768;
constexpr int64_t kMinInt32 = std::numeric_limits<int32_t>::min();
constexpr int64_t kMaxInt32 = std::numeric_limits<int32_t>::max();

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_word(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

std::string lowered(std::string_view word) {
  std::string out(word);
  for (char& c : out) c = lower(c);
  return out;
}

// Reads the words of one command from left to right; the first failure sticks.
class Reader {
 public:
  explicit Reader(std::vector<std::string_view> words) : words_(std::move(words)) {}

  MediaStatus status() const { return status_; }
  bool at_end() const { return next_ >= words_.size(); }
  bool next_is(std::string_view keyword) const {
    return !at_end() && same_word(words_[next_], keyword);
  }

  std::string_view word() {
    if (status_ != MediaStatus::ok) return {};
    if (at_end()) {
      fail(MediaStatus::missing_word);
      return {};
    }
    return words_[next_++];
  }

  void keyword(std::string_view expected) {
    if (status_ != MediaStatus::ok) return;
    if (at_end()) return fail(MediaStatus::missing_word);
    if (!same_word(words_[next_++], expected)) fail(MediaStatus::unknown_keyword);
  }

  // Takes `keyword` when it comes next; true when it did.
  bool optional_keyword(std::string_view keyword) {
    if (status_ != MediaStatus::ok || !next_is(keyword)) return false;
    ++next_;
    return true;
  }

  int64_t number(int64_t min, int64_t max) {
    if (status_ != MediaStatus::ok) return 0;
    if (at_end()) {
      fail(MediaStatus::missing_number);
      return 0;
    }
    int64_t value = 0;
    fail(parse_number(words_[next_++], min, max, value));
    return value;
  }

  // Nothing may follow the last word a command takes.
  void end() {
    if (status_ == MediaStatus::ok && !at_end()) fail(MediaStatus::unknown_keyword);
  }

  void fail(MediaStatus status) {
    if (status_ == MediaStatus::ok) status_ = status;
  }

 private:
  std::vector<std::string_view> words_;
  std::size_t next_ = 0;
  MediaStatus status_ = MediaStatus::ok;
};

// "alias A", "style child" and "parent H", in any order, each at most once.
void read_open_options(Reader& in, Command& cmd) {
  bool have_alias = false, child = false;
  while (in.status() == MediaStatus::ok && !in.at_end()) {
    const std::string_view key = in.word();
    if (same_word(key, "alias") && !have_alias) {
      cmd.alias = lowered(in.word());
      have_alias = true;
    } else if (same_word(key, "style") && !child) {
      in.keyword("child");
      child = true;
    } else if (same_word(key, "parent") && !cmd.parent) {
      cmd.parent = static_cast<int32_t>(in.number(kMinInt32, kMaxInt32));
    } else {
      in.fail(MediaStatus::unknown_keyword);
    }
  }
  if (!have_alias || child != cmd.parent.has_value()) in.fail(MediaStatus::missing_word);
}

void read_open(Reader& in, Command& cmd) {
  // An empty short name leaves "open  alias ...": the options come straight after the verb.
  if (in.next_is("alias")) {
    Reader probe = in;
    read_open_options(probe, cmd);
    if (probe.status() == MediaStatus::ok) return in.fail(MediaStatus::no_such_file);
    cmd = Command{};
    cmd.verb = Verb::open;
  }
  cmd.file_name = std::string(in.word());
  read_open_options(in, cmd);
}

void read_put(Reader& in, Command& cmd) {
  in.keyword("destination");
  if (!in.optional_keyword("at")) return;
  Rect r;
  r.x = static_cast<int>(in.number(-kMaxOffset, kMaxOffset));
  r.y = static_cast<int>(in.number(-kMaxOffset, kMaxOffset));
  r.width = static_cast<int>(in.number(1, kMaxSide));
  r.height = static_cast<int>(in.number(1, kMaxSide));
  cmd.destination = r;
}

void read_status(Reader& in, Command& cmd) {
  const std::string_view item = in.word();
  if (in.status() != MediaStatus::ok) return;
  if (same_word(item, "length"))
    cmd.item = StatusItem::length;
  else if (same_word(item, "position"))
    cmd.item = StatusItem::position;
  else
    in.fail(MediaStatus::unknown_keyword);
}

struct VerbName {
  std::string_view name;
  Verb verb;
};
constexpr VerbName kVerbs[] = {
    {"open", Verb::open}, {"close", Verb::close}, {"put", Verb::put},   {"status", Verb::status},
    {"play", Verb::play}, {"pause", Verb::pause}, {"stop", Verb::stop}, {"update", Verb::update},
    {"step", Verb::step}, {"seek", Verb::seek},
};

std::optional<Verb> find_verb(std::string_view word) {
  for (const auto& v : kVerbs)
    if (same_word(word, v.name)) return v.verb;
  return std::nullopt;
}

void read_arguments(Reader& in, Command& cmd) {
  switch (cmd.verb) {
    case Verb::open:
      return read_open(in, cmd);
    case Verb::close:
    case Verb::pause:
    case Verb::stop:
      return;
    case Verb::put:
      return read_put(in, cmd);
    case Verb::status:
      return read_status(in, cmd);
    case Verb::play:
      in.optional_keyword("window");
      return;
    case Verb::update:
      in.keyword("hdc");
      cmd.surface = static_cast<int32_t>(in.number(kMinInt32, kMaxInt32));
      return;
    case Verb::step:
      cmd.reverse = in.optional_keyword("reverse");
      return;
    case Verb::seek:
      in.keyword("to");
      cmd.frame = in.number(kMinInt32, kMaxInt32);
      return;
  }
}

}  // namespace

std::vector<std::string_view> split_words(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && is_blank(text[i])) ++i;
    const std::size_t start = i;
    while (i < text.size() && !is_blank(text[i])) ++i;
    if (i > start) words.push_back(text.substr(start, i - start));
  }
  return words;
}

MediaStatus parse_number(std::string_view word, int64_t min, int64_t max, int64_t& value) {
  const bool negative = !word.empty() && word[0] == '-';
  const std::string_view digits = negative ? word.substr(1) : word;
  if (digits.empty()) return MediaStatus::malformed_number;
  for (char c : digits)
    if (c < '0' || c > '9') return MediaStatus::malformed_number;
  // Past 18 digits the value is beyond any range asked for, and beyond int64 soon after.
  const std::size_t first = digits.find_first_not_of('0');
  if (first == std::string_view::npos) {
    if (negative) return MediaStatus::malformed_number;  // "-0" is no form anyone sends
    value = 0;
  } else {
    if (digits.size() - first > 18) return MediaStatus::number_out_of_range;
    int64_t v = 0;
    for (char c : digits.substr(first)) v = v * 10 + (c - '0');
    value = negative ? -v : v;
  }
  return value < min || value > max ? MediaStatus::number_out_of_range : MediaStatus::ok;
}

Parsed parse_command(std::string_view text) {
  Parsed out;
  Reader in(split_words(text));
  const std::optional<Verb> verb = in.at_end() ? std::nullopt : find_verb(in.word());
  if (!verb) {
    out.status = MediaStatus::unknown_command;
    return out;
  }
  out.command.verb = *verb;
  if (*verb != Verb::open) out.command.alias = lowered(in.word());
  read_arguments(in, out.command);
  in.end();
  out.status = in.status();
  return out;
}

}  // namespace service
