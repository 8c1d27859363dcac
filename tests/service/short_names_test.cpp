// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/short_names.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "service/media_errors.h"

namespace {

namespace fs = std::filesystem;

class ShortNames : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("velmora_names_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string touch(const std::string& name) {
    const auto path = (dir_ / name).string();
    std::ofstream(path) << "x";
    return path;
  }
  fs::path dir_;
};

bool has_white_space(const std::string& s) {
  for (unsigned char c : s)
    if (c <= 0x20 || c == 0x7F) return true;
  // U+3000 and U+00A0 in UTF-8
  return s.find("\xE3\x80\x80") != std::string::npos || s.find("\xC2\xA0") != std::string::npos;
}

TEST_F(ShortNames, HardNamesRoundTripWithoutWhiteSpace) {
  for (const std::string name :
       {"plain.avi", "with blank.avi", "tab\there.avi", "new\nline.avi", "百%25 本当.avi",
        "全角\xE3\x80\x80空白.avi", "nbsp\xC2\xA0.avi", "a%b%%.avi", "\x7F" "del.avi"}) {
    const auto path = touch(name);
    const auto short_form = service::short_name(path);
    ASSERT_FALSE(short_form.empty()) << name;
    EXPECT_FALSE(has_white_space(short_form)) << short_form;
    EXPECT_EQ(service::long_name(short_form), path) << name;
  }
}

TEST_F(ShortNames, JapaneseNamesStayReadableAndShort) {
  const auto path = touch("ビデオ.avi");
  EXPECT_EQ(service::short_name(path), path);
}

TEST_F(ShortNames, MissingFilesGiveTheEmptyText) {
  EXPECT_EQ(service::short_name((dir_ / "missing.avi").string()), "");
  EXPECT_EQ(service::short_name(""), "");
}

TEST(LongNames, MalformedEscapesAreRefused) {
  EXPECT_FALSE(service::long_name("/tmp/a%2").has_value());
  EXPECT_FALSE(service::long_name("/tmp/a%").has_value());
  EXPECT_FALSE(service::long_name("/tmp/a%zz").has_value());
  EXPECT_FALSE(service::long_name("/tmp/a%00b").has_value());
  EXPECT_EQ(service::long_name("/tmp/a%20b"), "/tmp/a b");
}

TEST(Descriptions, CopyNeverCutsACharacterInHalf) {
  const std::string text = "あいう";  // three bytes each
  char buffer[8];
  service::copy_to_buffer(text, buffer, 8);  // room for 7 bytes: two whole characters
  EXPECT_STREQ(buffer, "あい");
  service::copy_to_buffer(text, buffer, 3);
  EXPECT_STREQ(buffer, "");
  service::copy_to_buffer("ok", buffer, 8);
  EXPECT_STREQ(buffer, "ok");
}

}  // namespace
