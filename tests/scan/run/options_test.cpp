// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-scan's command line: what each option reads, and a one-line reason for every
// way of getting it wrong.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <optional>
#include <regex>
#include <set>
#include <sstream>

#include "scan/options.h"

namespace {

using Action = scan::Parsed::Action;

scan::Parsed parse(std::vector<std::string> args) {
  args.insert(args.begin(), "velmora-scan");
  return scan::parse_options(args);
}

TEST(ScanOptions, DefaultsWithJustTheTwoFiles) {
  scan::Parsed p = parse({"in.mp4", "out.png"});
  ASSERT_EQ(p.action, Action::run) << p.error;
  EXPECT_EQ(p.request.input, "in.mp4");
  EXPECT_EQ(p.request.output, "out.png");
  EXPECT_EQ(p.request.cut, strips::Cut::vertical);
  EXPECT_FALSE(p.request.slit.given);
  EXPECT_EQ(p.request.slit.width, 1);
  EXPECT_EQ(p.request.every, 1);
  EXPECT_FALSE(p.request.from.given);
  EXPECT_FALSE(p.request.to.given);
  EXPECT_EQ(p.request.threads, 0);
  EXPECT_FALSE(p.request.force);
  EXPECT_FALSE(p.request.quiet);
  EXPECT_FALSE(p.request.no_rotate);
  EXPECT_FALSE(p.request.skip_existing);
  EXPECT_FALSE(p.request.ffmpeg_decoder);
  EXPECT_EQ(p.request.compress, scan::TiffCompression::deflate);
}

TEST(ScanOptions, ReadsEveryOptionInBothSpellingsAndAnyOrder) {
  scan::Parsed p = parse({"--cut=horizontal", "in.mkv", "--slit", "50%:20", "--every=3", "out.png",
                          "--from", "12.5s", "--to=400", "--threads", "2", "-fq", "--no-rotate",
                          "--decoder=ffmpeg"});
  ASSERT_EQ(p.action, Action::run) << p.error;
  const scan::Request& o = p.request;
  EXPECT_EQ(o.input, "in.mkv");
  EXPECT_EQ(o.output, "out.png");
  EXPECT_EQ(o.cut, strips::Cut::horizontal);
  EXPECT_TRUE(o.slit.percent);
  EXPECT_DOUBLE_EQ(o.slit.fraction, 0.5);
  EXPECT_EQ(o.slit.width, 20);
  EXPECT_EQ(o.every, 3);
  EXPECT_TRUE(o.ffmpeg_decoder);
  EXPECT_TRUE(o.from.seconds);
  EXPECT_DOUBLE_EQ(o.from.time, 12.5);
  EXPECT_FALSE(o.to.seconds);
  EXPECT_EQ(o.to.frame, 400);
  EXPECT_EQ(o.threads, 2);
  EXPECT_TRUE(o.force);
  EXPECT_TRUE(o.quiet);
  EXPECT_TRUE(o.no_rotate);

  struct Compression {
    const char* name;
    scan::TiffCompression compression;
  };
  for (const Compression c : {Compression{"deflate", scan::TiffCompression::deflate},
                              Compression{"zstd", scan::TiffCompression::zstd},
                              Compression{"lzw", scan::TiffCompression::lzw},
                              Compression{"none", scan::TiffCompression::none}}) {
    p = parse({"--skip-existing", "--compress", c.name, "in.mkv", "out.TIFF"});
    ASSERT_EQ(p.action, Action::run) << p.error;
    EXPECT_EQ(p.request.compress, c.compression) << c.name;
    EXPECT_TRUE(p.request.skip_existing);
  }

  p = parse({"--slit", "955:10", "a.avi", "b.png"});
  EXPECT_FALSE(p.request.slit.percent);
  EXPECT_EQ(p.request.slit.position, 955);
  EXPECT_EQ(p.request.slit.width, 10);
}

TEST(ScanOptions, StreamOptionsAreKeptAsGiven) {
  scan::Parsed p = parse({"--format", "v4l2", "--input-option", "framerate=30",
                          "--input-option", "video_size=1280x720", "--flush", "2.5s",
                          "/dev/video0", "out.png"});
  ASSERT_EQ(p.action, Action::run) << p.error;
  EXPECT_EQ(p.request.input_format, "v4l2");
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(p.request.input_options, (Pairs{{"framerate", "30"}, {"video_size", "1280x720"}}));
  EXPECT_TRUE(p.request.flush.seconds);
  EXPECT_DOUBLE_EQ(p.request.flush.time, 2.5);
  p = parse({"--flush", "100", "-", "out.tif"});
  EXPECT_FALSE(p.request.flush.seconds);
  EXPECT_EQ(p.request.flush.strips, 100);
}

// Several slits' images never share a name, whatever else OUTPUT holds beside %d.
TEST(ScanOptions, EachSlitsImageHasItsOwnName) {
  for (const std::string output : {"o%d.png", "o%d-%n.png", "o%n-%d.png"}) {
    const scan::Parsed parsed = parse({"--slit", "1", "--slit", "2", "--line", "1,2,3,4", "a", output});
    ASSERT_EQ(parsed.action, Action::run) << output;
    std::set<std::string> names;
    for (const scan::Request& each : scan::each_slit(parsed.request)) names.insert(each.output);
    EXPECT_EQ(names.size(), 3u) << output;
  }
}

TEST(ScanOptions, HelpAndVersionNeedNoFiles) {
  EXPECT_EQ(parse({"--help"}).action, Action::help);
  EXPECT_EQ(parse({"-h"}).action, Action::help);
  EXPECT_EQ(parse({"--version"}).action, Action::version);
  std::string help = scan::help_text(2);
  for (const char* option : {"--cut", "--slit", "--every", "--from", "--to", "--threads", "--force",
                             "--quiet", "--version", "variable-rate", "--no-rotate",
                             "--compress", "--skip-existing", "zstd: ", "--threads", "--line",
                             "--thickness", "--reduce", "--time-axis", "%d", "--decoder",
                             "--format", "--input-option", "--flush"})
    EXPECT_NE(help.find(option), std::string::npos) << option;
}

TEST(ScanOptions, EveryMistakeHasItsOwnLineNamingTheOption) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"--bogus", "a", "b.png"}, "--bogus: unknown option (see --help)"},
      {{"-x", "a", "b.png"}, "-x: unknown option (see --help)"},
      {{"a", "b.png", "--every"}, "--every: needs a value"},
      {{"--every", "0", "a", "b.png"}, "--every 0: must be 1 or more"},
      {{"--every", "-2", "a", "b.png"}, "--every -2: must be 1 or more"},
      {{"--every", "3x", "a", "b.png"}, "--every 3x: not a whole number"},
      {{"--slit", "100:0", "a", "b.png"}, "--slit 100:0: a slit of width 0 holds no pixel"},
      {{"--slit", "abc", "a", "b.png"},
       "--slit abc: the position is not a column or row number or a percentage"},
      {{"--slit", "5:x", "a", "b.png"}, "--slit 5:x: the width is not a whole number of pixels"},
      {{"--slit", "1e2%", "a", "b.png"},
       "--slit 1e2%: the position is not a percentage such as 50%"},
      {{"--from", "12,5s", "a", "b.png"},
       "--from 12,5s: not a frame number or a time such as 12.5s, 1.5m or 1h"},
      {{"--to", "-1", "a", "b.png"},
       "--to -1: not a frame number or a time such as 12.5s, 1.5m or 1h"},
      {{"--cut", "diagonal", "a", "b.png"}, "--cut diagonal: must be vertical or horizontal"},
      {{"--threads", "0", "a", "b.png"}, "--threads 0: must be 1 to 64"},
      {{"--compress", "jpeg", "a", "b.tif"},
       "--compress jpeg: must be deflate, zstd, lzw or none"},
      {{"--decoder", "libjpeg", "a", "b.png"}, "--decoder libjpeg: must be auto or ffmpeg"},
      {{"--slit", "1", "--slit", "2", "--timeline", "t.csv", "a", "b%d.png"},
       "--timeline t.csv: several slits need %d in its name too"},
      {{"--skip-existing", "-f", "a", "b.png"},
       "--force and --skip-existing: give one or the other"},
      {{"--flush", "0", "-", "b.png"},
       "--flush 0: not a number of strips (1 or more) or a time such as 30s"},
      {{"--flush", "2m", "-", "b.png"},
       "--flush 2m: not a number of strips (1 or more) or a time such as 30s"},
      {{"--input-option", "=30", "-", "b.png"}, "--input-option =30: not KEY=VALUE"},
      {{"--input-option", "framerate", "-", "b.png"}, "--input-option framerate: not KEY=VALUE"},
      {{"--nights", "a", "b.png"}, "--nights: needs --bin N, a whole number of bins"},
      {{"--nights", "--bin", "2m", "a", "b.png"},
       "--bin 2m: --nights takes a whole number of bins, 1 to 100000"},
      {{"--nights", "--bin", "9", "--watch", "a", "b.png"}, "--watch: not with --nights"},
      {{"--window", "18:00-06:00", "a", "b.png"}, "--window 18:00-06:00: only with --nights"},
      {{"--nights", "--bin", "9", "--window", "18-06", "a", "b.png"},
       "--window 18-06: not a span of the day such as 18:00-06:00"},
      {{"a"}, "expected INPUT and OUTPUT, got 1 file name (see --help)"},
      {{"a", "b.png", "c.png"}, "expected INPUT and OUTPUT, got 3 file names (see --help)"},
  };
  for (const Case& c : cases) {
    scan::Parsed p = parse(c.args);
    EXPECT_EQ(p.action, Action::usage_error) << c.message;
    EXPECT_EQ(p.error, c.message);
  }
}

std::string source_file(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(VELMORA_SOURCE_DIR "/" + path).rdbuf();
  return text.str();
}

// The long options (--word) a text names, the man page's \-\- read as --, less those of the
// programs shown beside velmora-scan: GNU parallel, sbatch and velmora-clipgen.
std::set<std::string> long_options_in(const std::string& document) {
  const std::string text = std::regex_replace(document, std::regex(R"(\\-)"), "-");
  const std::regex option("--[a-z]+(-[a-z]+)*");
  const std::sregex_token_iterator first(text.begin(), text.end(), option), end;
  std::set<std::string> named(first, end);
  for (const char* other : {"--joblog", "--resume-failed", "--sshlogin", "--workdir", "--array",
                            "--cpus-per-task", "--pattern"})
    named.erase(other);
  return named;
}

TEST(ScanOptions, ManPageReadmeAndHelpNameTheTableAndNothingElse) {
  std::set<std::string> table;
  for (std::string_view name : scan::option_names()) table.insert("--" + std::string(name));
  const std::string readme = source_file("README.md");
  const size_t section = readme.find("\n## velmora-scan\n");
  const std::pair<const char*, std::string> documents[] = {
      {"docs/man/velmora-scan.1.in", source_file("docs/man/velmora-scan.1.in")},
      {"README.md's velmora-scan", readme.substr(section, readme.find("\n## ", section + 1) - section)},
      {"--help", scan::help_text(2)}};
  for (const auto& [name, text] : documents) EXPECT_EQ(long_options_in(text), table) << name;
}

}  // namespace

namespace {

// A time of day for --since is its last moment at or before now; for --until the first
// after --since's, else the last at or before now, or with --watch the next after now.
TEST(ScanOptions, TimesOfDayResolveAroundNow) {
  const auto at = [](const std::string& iso) -> std::optional<int64_t> {
    if (iso.empty()) return std::nullopt;
    return scan::parse_iso_time("2026-12-" + iso)->civil_micros;
  };
  const std::vector<std::array<std::string, 5>> cases = {
      {"--since", "18:00", "", "07T18:00:00", ""},
      {"--until", "06:00", "", "", "07T06:00:00"},
      {"--until", "06:00:30", "--watch", "", "08T06:00:30"},
      {"--until", "06:00", "--since=18:00", "07T18:00:00", "08T06:00:00"}};
  for (const auto& [option, value, other, since, until] : cases) {
    std::vector<std::string> args = {option, value, "in", "out.png"};
    if (!other.empty()) args.insert(args.begin(), other);
    const scan::Parsed p = parse(args);
    EXPECT_EQ(scan::resolve_since(p.request, *at("08T03:00:00")), at(since)) << value << other;
    EXPECT_EQ(scan::resolve_until(p.request, *at("08T03:00:00")), at(until)) << value << other;
  }
}

}  // namespace
