// SPDX-License-Identifier: GPL-3.0-or-later
// The pieces of the time axis on their own: clocks read from EXIF, file names and mtimes,
// ISO times, the timeline's text, --bin intervals, tick steps and the band they are drawn in.
#include <gtest/gtest.h>
#include <libexif/exif-data.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "scan/time/picture_clock.h"
#include "scan/time/tick_band.h"
#include "scan/time/time_axis.h"
#include "scan/time/timeline.h"
#include "tests/scan/run/scan_support.h"
#include "tests/support/scratch.h"

// AddressSanitizer reserves more address space than any limit on it would let through.
#if defined(__SANITIZE_ADDRESS__)
#define VELMORA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELMORA_ASAN 1
#endif
#endif
#ifndef VELMORA_ASAN
#define VELMORA_ASAN 0
#endif

namespace {

using scan::WallTime;

std::string iso(const std::optional<WallTime>& time) { return time ? scan::iso_time(*time) : ""; }

TEST(TimeAxis, IsoTimesReadAndWrittenBack) {
  const struct {
    const char* in;
    const char* out;  // empty: refused
  } cases[] = {
      {"2026-12-07T22:15:00.000000Z", "2026-12-07T22:15:00Z"},
      {"2026-12-07 22:15:00.25+01:00", "2026-12-07T22:15:00.250000+01:00"},
      {"2024-02-29T23:59:59-0530", "2024-02-29T23:59:59-05:30"},
      {"1969-12-31T23:59:59.5", "1969-12-31T23:59:59.500000"},
      {"2026-13-07T22:15:00Z", ""},
      {"2026-12-07T22:15", ""},
      {"2026-12-07T22:15:00+1", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(iso(scan::parse_iso_time(c.in)), c.out) << c.in;
  // A clip's clock runs on from its start across midnight and the year's end.
  EXPECT_EQ(iso(scan::parse_iso_time("2026-12-31T23:59:59Z")->plus(1.5)),
            "2027-01-01T00:00:00.500000Z");
}

TEST(TimeAxis, DatesAndTimesInFileNames) {
  const struct {
    const char* name;
    const char* time;  // empty: none found
  } cases[] = {
      {"night/20261207_221500.jpg", "2026-12-07T22:15:00"},
      {"IMG_20261207_221500123.jpg", "2026-12-07T22:15:00.123000"},
      {"cam-2026-12-07T22-15-00.png", "2026-12-07T22:15:00"},
      {"2026-12-07 22.15.00.jpg", "2026-12-07T22:15:00"},
      {"allsky_2026-12-07_22:15:30.tif", "2026-12-07T22:15:30"},
      {"20261207221500.jpg", "2026-12-07T22:15:00"},
      {"2026-12-07.jpg", ""},          // a date alone
      {"frame_00012345.png", ""},      // a counter
      {"20261207_251500.jpg", ""},     // no such hour
      {"120261207_221500.jpg", ""},    // digits run on before the year
      {"2026-12-07_22-15.00.jpg", ""},  // the time's separators differ
      {"20261207_221500/0001.jpg", ""},  // the folder does not count
  };
  for (const auto& c : cases) EXPECT_EQ(iso(scan::name_clock(c.name)), c.time) << c.name;
}

// A JPEG (made by FFmpeg) with an APP1 segment of EXIF put in after its start marker.
std::string jpeg_with_exif(const std::string& path,
                           const std::vector<std::pair<ExifTag, std::string>>& fields,
                           const std::string& colour = "blue") {
  const std::string plain = path + ".plain.jpg";
  const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i color=c=" + colour +
                              ":s=16x16 -frames:v 1 '" + plain + "'";
  EXPECT_EQ(std::system(command.c_str()), 0);
  std::ifstream in(plain, std::ios::binary);
  const std::string jpeg{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  ExifData* data = exif_data_new();
  exif_data_set_byte_order(data, EXIF_BYTE_ORDER_INTEL);
  for (const auto& [tag, text] : fields) {
    ExifEntry* entry = exif_entry_new();
    entry->tag = tag;
    exif_content_add_entry(data->ifd[EXIF_IFD_EXIF], entry);
    entry->format = EXIF_FORMAT_ASCII;
    entry->components = entry->size = static_cast<unsigned>(text.size() + 1);
    entry->data = static_cast<unsigned char*>(std::calloc(1, entry->size));  // libexif frees it
    std::memcpy(entry->data, text.c_str(), text.size());
    exif_entry_unref(entry);
  }
  unsigned char* bytes = nullptr;
  unsigned int size = 0;
  exif_data_save_data(data, &bytes, &size);
  exif_data_unref(data);
  const std::string app1 = std::string("\xFF\xE1", 2) + char((size + 2) >> 8) +
                           char((size + 2) & 0xff) +
                           std::string(reinterpret_cast<const char*>(bytes), size);
  std::free(bytes);
  std::ofstream(path, std::ios::binary) << jpeg.substr(0, 2) + app1 + jpeg.substr(2);
  return path;
}

TEST(TimeAxis, ClocksOfPictures) {
  setenv("TZ", "UTC", 1);
  tzset();
  const std::string folder = velmora_test::fresh_folder("picture-clocks");
  const std::string full = jpeg_with_exif(
      folder + "/20250101_000000.jpg", {{EXIF_TAG_DATE_TIME_ORIGINAL, "2026:12:07 22:15:00"},
                                        {EXIF_TAG_SUB_SEC_TIME_ORIGINAL, "25"},
                                        {EXIF_TAG_OFFSET_TIME_ORIGINAL, "+09:00"}});
  const std::string bare = jpeg_with_exif(folder + "/bare.jpg",
                                          {{EXIF_TAG_DATE_TIME_ORIGINAL, "2026:12:07 22:16:00"}});
  // A camera without a clock set writes blanks: no time, so the name or mtime is used.
  const std::string blank = jpeg_with_exif(folder + "/cam_20261207_221700.jpg",
                                           {{EXIF_TAG_DATE_TIME_ORIGINAL, "    :  :     :  :  "}});
  std::tm tm{};
  tm.tm_year = 2026 - 1900, tm.tm_mon = 11, tm.tm_mday = 7, tm.tm_hour = 22, tm.tm_min = 18;
  const timespec times[2] = {{timegm(&tm), 0}, {timegm(&tm), 500'000'000}};
  for (const std::string& path : {full, bare, blank})
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  using scan::ClockSource;
  const struct {
    std::string path;
    ClockSource source;
    const char* time;
  } cases[] = {
      {full, ClockSource::automatic, "2026-12-07T22:15:00.250000+09:00"},
      {full, ClockSource::name, "2025-01-01T00:00:00"},
      {full, ClockSource::mtime, "2026-12-07T22:18:00.500000Z"},
      {full, ClockSource::none, ""},
      {bare, ClockSource::automatic, "2026-12-07T22:16:00"},
      {bare, ClockSource::name, ""},
      {blank, ClockSource::exif, ""},
      {blank, ClockSource::automatic, "2026-12-07T22:17:00"},
      {folder + "/missing.jpg", ClockSource::automatic, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(iso(scan::picture_clock(c.path, c.source)), c.time)
        << c.path << " " << static_cast<int>(c.source);
}

std::vector<std::vector<std::string>> csv_fields(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields(1);
    for (char c : line) {
      if (c == ',')
        fields.emplace_back();
      else
        fields.back().push_back(c);
    }
    rows.push_back(fields);
  }
  return rows;
}

// Four images taken 0, 1, 2.5 and 8 s after 22:15:00, their times told by EXIF, their names
// or their mtimes: intervals of 2.5 s hold images 0 (and 1, passed by), 2, nothing, 3.
TEST(TimeAxis, SequenceTimesComeFromEachImagesClock) {
  setenv("TZ", "UTC", 1);
  tzset();
  const double after[] = {0, 1, 2.5, 8};
  const char* colours[] = {"red", "green", "blue", "white"};
  const struct {
    const char* clock;
    const char* zone;
  } cases[] = {{"exif", "+01:00"}, {"name", ""}, {"mtime", "Z"}};
  for (const auto& c : cases) {
    const std::string folder = velmora_test::fresh_folder(std::string("sequence-") + c.clock);
    std::vector<std::string> times;
    for (int i = 0; i < 4; ++i) {
      char stamp[64];
      std::snprintf(stamp, sizeof stamp, "2026-12-07T22:15:%02d", int(after[i]));
      if (after[i] != int(after[i]))
        std::snprintf(stamp + 19, sizeof stamp - 19, ".%06d", int(after[i] * 1e6) % 1000000);
      times.push_back(std::string(stamp) + c.zone);
      // Only the names of the "name" case say a time; the others count.
      char name[64];
      if (std::string(c.clock) == "name")
        std::snprintf(name, sizeof name, "/IMG_20261207_2215%02d%03d.jpg", int(after[i]),
                      int(after[i] * 1000) % 1000);
      else
        std::snprintf(name, sizeof name, "/img%d.jpg", i);
      const std::string path = folder + name;
      std::snprintf(stamp, sizeof stamp, "2026:12:07 22:15:%02d", int(after[i]));
      jpeg_with_exif(path, {{EXIF_TAG_DATE_TIME_ORIGINAL, stamp},
                            {EXIF_TAG_SUB_SEC_TIME_ORIGINAL, std::to_string(int(after[i] * 10) % 10)},
                            {EXIF_TAG_OFFSET_TIME_ORIGINAL, "+01:00"}},
                     colours[i]);
      std::tm tm{};
      tm.tm_year = 2026 - 1900, tm.tm_mon = 11, tm.tm_mday = 7, tm.tm_hour = 22, tm.tm_min = 15;
      const timespec at{timegm(&tm) + int(after[i]), long(after[i] * 1e9) % 1'000'000'000};
      const timespec both[2] = {at, at};
      ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), both, 0), 0);
      std::filesystem::remove(path + ".plain.jpg");
    }
    const std::string out = velmora_test::fresh_folder(std::string("sequence-out-") + c.clock);
    const velmora_test::Ran ran = velmora_test::run_scan(
        {"--clock", c.clock, "--bin", "2.5s", "--timeline", out + "/t.csv", folder, out + "/o.png"});
    ASSERT_EQ(ran.status, 0) << ran.err;
    const auto rows = csv_fields(out + "/t.csv");
    ASSERT_EQ(rows.size(), 5u) << c.clock;
    const int frames[] = {0, 2, -1, 3};
    for (int k = 0; k < 4; ++k) {
      const std::string seconds = k == 2 ? "5.000000" : std::to_string(after[frames[k]]);
      EXPECT_EQ(rows[k + 1][2], frames[k] < 0 ? "" : std::to_string(frames[k])) << c.clock << k;
      EXPECT_EQ(rows[k + 1][3], seconds) << c.clock << k;
      // A gap's clock is its interval's start, 5 s after the first image.
      EXPECT_EQ(rows[k + 1][4],
                frames[k] < 0 ? std::string("2026-12-07T22:15:05") + c.zone : times[frames[k]])
          << c.clock << k;
      EXPECT_EQ(rows[k + 1][5].empty(), frames[k] < 0) << c.clock << k;
    }
    // The strips are the pictures of those images, as a scan of every image has them.
    ASSERT_EQ(velmora_test::run_scan({folder, out + "/all.png"}).status, 0);
    const velmora_test::Png all = velmora_test::read_png(out + "/all.png");
    const velmora_test::Png bins = velmora_test::read_png(out + "/o.png");
    ASSERT_EQ(bins.width, 4) << c.clock;
    for (int k = 0; k < 4; ++k)
      for (int ch = 0; ch < 3; ++ch)
        EXPECT_EQ(bins.sample(k, 8, ch), frames[k] < 0 ? 0 : all.sample(frames[k], 8, ch))
            << c.clock << " strip " << k;
  }
}

void set_mtime(const std::string& path, time_t seconds) {
  const timespec both[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), both, 0), 0) << path;
}

// 2026-12-07 22:00 UTC, the start of the nights below.
time_t night() {
  std::tm tm{};
  tm.tm_year = 2026 - 1900, tm.tm_mon = 11, tm.tm_mday = 7, tm.tm_hour = 22;
  return timegm(&tm);
}

// A run has one clock. Six images a minute apart by EXIF, the third without EXIF but with a
// name an hour off; two images whose mtimes run against their names; images without EXIF.
TEST(TimeAxis, ARunHasOneClockAndImagesWithoutItHaveNoTime) {
  setenv("TZ", "UTC", 1);
  tzset();
  const std::string exif = velmora_test::fresh_folder("one-clock"),
                    backwards = velmora_test::fresh_folder("one-clock-backwards"),
                    bare = velmora_test::fresh_folder("one-clock-bare");
  const char* colours[] = {"red", "green", "blue", "white", "yellow", "cyan"};
  for (int i = 0; i < 6; ++i) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "2026:12:07 22:%02d:00", i);
    const std::string path = exif + (i == 2 ? "/img2_20261207_210000.jpg" : "/img" + std::to_string(i) + ".jpg");
    jpeg_with_exif(path, i == 2 ? std::vector<std::pair<ExifTag, std::string>>{}
                                : std::vector<std::pair<ExifTag, std::string>>{{EXIF_TAG_DATE_TIME_ORIGINAL, stamp}},
                   colours[i]);
    std::filesystem::rename(path + ".plain.jpg", bare + "/" + std::to_string(i) + ".jpg");
  }
  std::filesystem::copy(bare + "/0.jpg", backwards + "/a.jpg");
  std::filesystem::copy(bare + "/1.jpg", backwards + "/b.jpg");
  set_mtime(backwards + "/a.jpg", night() + 10);
  set_mtime(backwards + "/b.jpg", night());
  const struct {
    std::string folder;
    std::vector<std::string> args;
    int status;
    std::vector<std::string> seconds;  // of each strip
    std::string err;                   // in the messages
  } cases[] = {
      {exif, {}, 0, {"0.000000", "60.000000", "", "180.000000", "240.000000", "300.000000"},
       "img2_20261207_210000.jpg; they are laid in order without a time"},
      {exif, {"--clock", "exif", "--bin", "60s"}, 0,
       {"0.000000", "60.000000", "120.000000", "180.000000", "240.000000", "300.000000"},
       "left out of --bin's intervals"},
      {exif, {"--from", "1m", "--to", "4m"}, 0, {"60.000000", "", "180.000000"}, ""},
      {exif, {"--from", "5.5m"}, 2, {}, "--from 5.5m: past the end"},
      {bare, {"--clock", "exif"}, 2, {}, "no image has an EXIF date"},
      {backwards, {"--clock", "mtime", "--bin", "1s"}, 2, {},
       "b.jpg (2026-12-07T22:00:00Z) is earlier than a.jpg (2026-12-07T22:00:10Z)"},
  };
  for (const auto& c : cases) {
    const std::string out = velmora_test::fresh_folder("one-clock-out");
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--timeline", out + "/t.csv", c.folder, out + "/o.png"});
    const velmora_test::Ran ran = velmora_test::run_scan(args);
    SCOPED_TRACE(ran.err);
    EXPECT_EQ(ran.status, c.status);
    EXPECT_NE(ran.err.find(c.err), std::string::npos);
    std::vector<std::string> seconds;
    for (const auto& row : csv_fields(out + "/t.csv"))
      if (row[0] != "strip") seconds.push_back(row[3]);
    EXPECT_EQ(seconds, c.seconds);
    if (c.status != 0) {
      EXPECT_EQ(velmora_test::names_in(out), std::vector<std::string>{});
    }
  }
}

// --bin over six years of mtimes at a second each: refused from the count of intervals,
// before anything is allocated for them.
TEST(TimeAxis, TooManyBinsAreRefusedBeforeTheyAreMade) {
  const std::string folder = velmora_test::fresh_folder("six-years");
  const std::string command = "ffmpeg -nostdin -v error -y -f lavfi -i color=s=8x480 -frames:v 2 '" +
                              folder + "/%d.png'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  set_mtime(folder + "/1.png", night() - 6 * 365 * 86400);
  set_mtime(folder + "/2.png", night());
  const std::string out = velmora_test::fresh_folder("six-years-out");
  int err_fd = -1;
  const auto started = std::chrono::steady_clock::now();
  const int pid = velmora_test::start_scan(
      {"--clock", "mtime", "--bin", "1s", "--timeline", out + "/t.json", folder, out + "/o.png"},
      err_fd, [] {
#if !VELMORA_ASAN
        // Records for every strip would want tens of GB: fail at once instead of swapping.
        const rlimit limit{std::uint64_t{4} << 30, std::uint64_t{4} << 30};
        setrlimit(RLIMIT_AS, &limit);
#endif
      });
  const velmora_test::Ran ran = velmora_test::finish_scan(pid, err_fd);
  EXPECT_EQ(ran.status, 1) << ran.err;
  EXPECT_NE(ran.err.find("of memory at hand"), std::string::npos) << ran.err;
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_EQ(velmora_test::names_in(out), std::vector<std::string>{});
}

TEST(TimeAxis, TimelineTextHasOneRecordPerStrip) {
  std::vector<scan::StripRecord> records(4);
  records[0] = {0, 0, 0, 0, scan::parse_iso_time("2026-12-07T22:15:00+01:00"), "a,\"b\".jpg",
                scan::StripNote::none};
  records[1] = {1, 2, 4, 1.0 / 3, std::nullopt, "", scan::StripNote::repeat};
  records[2] = {2, 4, -1, 60, std::nullopt, "", scan::StripNote::gap};
  records[3] = {3, 6, 7, std::nullopt, std::nullopt, "x.jpg", scan::StripNote::no_clock};
  EXPECT_EQ(scan::timeline_csv(records),
            "strip,position,frame,seconds,clock,file,note\n"
            "0,0,0,0.000000,2026-12-07T22:15:00+01:00,\"a,\"\"b\"\".jpg\",\n"
            "1,2,4,0.333333,,,repeat\n"
            "2,4,,60.000000,,,gap\n"
            "3,6,7,,,x.jpg,no-clock\n");
  const std::string json = scan::timeline_json({"in\"put", 6, 48, "vertical", 32, 2}, records);
  for (const char* part :
       {"{\"input\":\"in\\\"put\",\"image\":{\"width\":6,\"height\":48},\"slit\":{",
        "{\"strip\":0,\"position\":0,\"frame\":0,\"seconds\":0.000000,"
        "\"clock\":\"2026-12-07T22:15:00+01:00\",\"file\":\"a,\\\"b\\\".jpg\",\"note\":\"\"}",
        "\"frame\":null,\"seconds\":60.000000,\"clock\":\"\",\"file\":\"\",\"note\":\"gap\"}",
        "\"frame\":7,\"seconds\":null,\"clock\":\"\",\"file\":\"x.jpg\",\"note\":\"no-clock\"}\n]}"})
    EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
  // The band of --ticks lies beyond the streak part the image's size gives.
  EXPECT_NE(scan::timeline_json({"in", 6, 48, "horizontal", 3, 1, "", 70}, {})
                .find("\"image\":{\"width\":6,\"height\":48},\"slit\":{\"cut\":\"horizontal\","
                      "\"position\":3,\"width\":1},\"ticks\":{\"band\":70,\"side\":\"right\"}"),
            std::string::npos);
}

TEST(TimeAxis, BinsTakeTheFirstFrameOfEachInterval) {
  const struct {
    std::vector<double> times;
    double bin;
    std::vector<int64_t> frames;
  } cases[] = {
      {{0, 0.5, 1.2, 3.5, 3.6}, 1, {0, 2, -1, 3}},
      {{10, 10.1, 10.2, 10.3}, 0.1, {0, 1, 2, 3}},  // times a hair off the interval's edge
      {{5, 4, 7.5}, 1, {1, 0, -1, 2}},              // earlier than the first frame: bins start there
      {{0, NAN, 2.5}, 1, {0, -1, 2}},               // a picture without a time: in none
      {{7}, 60, {0}},
  };
  for (const auto& c : cases) {
    auto frames = scan::bin_frames(c.times, c.bin, 100);
    ASSERT_TRUE(frames) << frames.error().message;
    EXPECT_EQ(*frames, c.frames) << c.times.size() << " " << c.bin;
  }
  EXPECT_FALSE(scan::bin_frames({0, 3600}, 0.001, 100));
  for (const char* bad : {"0s", "-1s", "s", "1e3s", "1.2.3s", "5d"})
    EXPECT_FALSE(scan::parse_duration(bad)) << bad;
  EXPECT_EQ(scan::parse_duration("0.5s"), 0.5);
  EXPECT_EQ(scan::parse_duration("2m"), 120);
  // --from and --to: a unit always (a plain number is a frame), 0 allowed.
  const std::pair<const char*, std::optional<double>> points[] = {
      {"1.5m", 90}, {"0s", 0}, {"2h", 7200}, {"12.5s", 12.5}, {"12", std::nullopt}, {"m", std::nullopt}};
  for (const auto& [text, seconds] : points) EXPECT_EQ(scan::parse_time_point(text), seconds) << text;
}

TEST(TimeAxis, TickStepsAndLabels) {
  const struct {
    double seconds;  // spanned by 1000 strips of one pixel
    double spacing;
    double step;
  } steps[] = {{10, 50, 1}, {100, 50, 10}, {3600, 60, 600}, {3600, 400, 3600},
               {86400 * 10, 50, 43200}};
  // Labels c.spacing wide may touch; the first, held inside the image at its start, reaches
  // half a label further than its tick's place (the densest days collide at any step).
  for (const auto& c : steps) {
    scan::TickAxis axis;
    for (int k = 0; k < 1000; ++k) axis.values.push_back(c.seconds * k / 999);
    const auto extent = [&](const std::string&) { return c.spacing; };
    EXPECT_EQ(scan::tick_step(axis, extent, 0), c.step) << c.seconds;
  }
  // 30 s in 300 strips two pixels wide from 22:14:55: ticks every 10 s, 200 pixels apart.
  scan::TickAxis axis{{}, 2, true};
  for (int k = 0; k < 300; ++k) axis.values.push_back(80095 + k * 0.1);
  std::vector<std::pair<double, std::string>> got;
  for (const scan::Tick& t : scan::make_ticks(axis, [](const std::string&) { return 150.0; }, 0))
    got.emplace_back(t.position, t.label);
  const std::vector<std::pair<double, std::string>> want = {
      {100, "22:15:00"}, {300, "22:15:10"}, {500, "22:15:20"}};
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_NEAR(got[i].first, want[i].first, 1e-6);
    EXPECT_EQ(got[i].second, want[i].second);
  }
  EXPECT_EQ(scan::tick_label(90, 30, false), "1:30");
  EXPECT_EQ(scan::tick_label(3723, 60, false), "1:02:03");
  EXPECT_EQ(scan::tick_label(80100 + 86400, 900, true), "22:15");
}

// Marks in white, at either depth, centred on their tick however wide (a band along 864
// pixels has marks several pixels wide), and a label below them.
TEST(TimeAxis, BandMarksTicksInWhiteAtEitherDepth) {
  for (const int64_t along : {100, 24 * 36})
    for (int pixel_bytes : {3, 6}) {
      SCOPED_TRACE(testing::Message() << along << " " << pixel_bytes);
      const scan::BandLayout layout = scan::band_layout(true, along);
      const int64_t width = 200;
      std::vector<uint8_t> pixels(width * layout.thickness * pixel_bytes, 0x55);
      const strips::BytePlane band{pixels.data(), width * pixel_bytes, layout.thickness,
                                   width * pixel_bytes};
      auto font = scan::TickFont::open(layout.font_pixels);
      ASSERT_TRUE(font) << font.error().message;
      scan::draw_tick_band(band, pixel_bytes, layout, *font, {{100, "22:15"}});
      auto at = [&](int64_t x, int64_t y) { return pixels[(y * width + x) * pixel_bytes]; };
      EXPECT_EQ(pixels[100 * pixel_bytes + pixel_bytes - 1], 255) << "low byte";
      EXPECT_EQ(at(10, 0), 0) << "cleared";
      std::vector<int64_t> marked;
      for (int64_t x = 0; x < width; ++x)
        if (at(x, 0) == 255) marked.push_back(x);
      ASSERT_FALSE(marked.empty());
      EXPECT_EQ(marked.front() + marked.back(), 200) << "centred";
      EXPECT_EQ(marked.back() - marked.front() + 1, int64_t(marked.size())) << "one mark";
      int64_t text = 0;  // the label's pixels, below the tick
      for (int64_t y = layout.font_pixels / 2 + 3; y < layout.thickness; ++y)
        for (int64_t x = 0; x < width; ++x) text += at(x, y) > 128;
      EXPECT_GT(text, 20);
    }
}

// The rule of --ticks over spans of seconds to days, images long and short, bands below and
// beside: the smallest step with a tick whose labels (in the face drawn) do not collide.
TEST(TimeAxis, TicksAreTheSmallestStepWhoseLabelsFit) {
  const double steps[] = {1,   2,   5,    10,   15,   30,    60,    120,  300,
                          600, 900, 1800, 3600, 7200, 10800, 21600, 43200};
  const struct {
    double start, span;  // seconds; a wall clock from 22:00 when start > 0
    int strips;
    int64_t across;
    bool below;
  } cases[] = {
      {79200, 118 * 60, 60, 48, true},   // 60 images two minutes apart
      {79200, 105 * 60, 105, 480, true},  // a night binned by the minute
      {0, 4, 100, 48, true},              // a four-second clip
      {0, 4, 100, 48, false},
      {0, 86400, 2000, 1080, true},
      {79200, 10 * 86400, 500, 480, true},
      {0, 600, 1000, 24 * 48, false},     // labels 48 pixels high beside the image
      {79200, 30, 3000, 2000, true},
  };
  for (const auto& c : cases) {
    scan::TickAxis axis{{}, 1, c.start > 0};
    for (int k = 0; k < c.strips; ++k) axis.values.push_back(c.start + c.span * k / (c.strips - 1));
    const scan::BandLayout layout = scan::band_layout(c.below, c.across);
    auto font = scan::TickFont::open(layout.font_pixels);
    ASSERT_TRUE(font) << font.error().message;
    const auto extent = [&](const std::string& label) { return font->extent(label, c.below); };
    const std::vector<scan::Tick> ticks = scan::make_ticks(axis, extent, layout.label_gap);
    const double step = scan::tick_step(axis, extent, layout.label_gap);
    const double length = c.strips;
    EXPECT_FALSE(scan::labels_collide(ticks, extent, layout.label_gap, length)) << c.span;
    EXPECT_FALSE(ticks.empty()) << c.span << " " << c.strips;
    for (double smaller : steps) {
      if (smaller >= step) break;
      if (c.span / smaller > length) continue;  // more labels than pixels
      const std::vector<scan::Tick> denser = scan::ticks_at(axis, smaller);
      EXPECT_TRUE(denser.empty() || scan::labels_collide(denser, extent, layout.label_gap, length))
          << c.span << " " << c.strips << ": " << smaller << " fits too";
    }
  }
}

TEST(TimeAxis, JsonNamesAreValidUtf8) {
  const struct {
    std::string name, json;
  } cases[] = {
      {"nuit-\xc3\xa9t\xc3\xa9.jpg", "nuit-\xc3\xa9t\xc3\xa9.jpg"},  // UTF-8 as it is
      {"\xff\xfe.jpg", "\\udcff\\udcfe.jpg"},                     // Latin-1 bytes
      {"\xc0\xaf", "\\udcc0\\udcaf"},                             // an overlong slash
      {"\xed\xa0\x80", "\\udced\\udca0\\udc80"},                   // a surrogate
      {"\xe2\x82", "\\udce2\\udc82"},                             // cut short
      {"\xf0\x9f\x8c\x99\"", "\xf0\x9f\x8c\x99\\\""},
  };
  for (const auto& c : cases) {
    const std::string json = scan::timeline_json({c.name, 1, 1, "vertical", 0, 1}, {});
    EXPECT_EQ(json.substr(0, json.find(",\"image\"")), "{\"input\":\"" + c.json + "\"") << c.name;
  }
}

}  // namespace
