// SPDX-License-Identifier: GPL-3.0-or-later
#include "service_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <thread>

namespace velmora_test {

std::string rgb_clip() {
  const clipwriter::ClipSpec spec{
      .width = 320, .height = 240, .frames = 30, .fps_num = 15, .codec = clipwriter::Codec::rgb};
  return cached_clip(spec);
}

std::string small_clip() {
  const clipwriter::ClipSpec spec{
      .width = 32, .height = 24, .frames = 12, .fps_num = 200, .codec = clipwriter::Codec::rgb};
  return cached_clip(spec);
}

Reply send(service::MediaService& service, const std::string& command) {
  std::array<char, 256> buffer{};
  buffer.fill('\x7f');  // anything the service leaves unwritten shows up as garbage
  const int32_t status = service.send_string(command.c_str(), buffer.data(), 256);
  const auto end = std::find(buffer.begin(), buffer.end(), '\0');
  EXPECT_NE(end, buffer.end()) << "reply not NUL-ended for: " << command;
  return {status, std::string(buffer.begin(), end)};
}

std::string open_command(const std::string& path, const std::string& alias,
                         const std::string& parent) {
  std::string cmd = "open " + service::short_name(path) + " alias " + alias;
  if (!parent.empty()) cmd += " style child parent " + parent;
  return cmd;
}

void RecordingWindow::show(std::shared_ptr<const service::VideoPicture> picture) {
  if (gone) ++calls_after_gone;
  std::lock_guard guard(mutex_);
  if (picture)
    shown_.push_back(std::move(picture));
  else
    ++hides_;
}

int RecordingWindow::pictures() const {
  std::lock_guard guard(mutex_);
  return static_cast<int>(shown_.size());
}

int RecordingWindow::hides() const {
  std::lock_guard guard(mutex_);
  return hides_;
}

std::shared_ptr<const service::VideoPicture> RecordingWindow::last() const {
  std::lock_guard guard(mutex_);
  return shown_.empty() ? nullptr : shown_.back();
}

bool wait_for(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

int64_t position(service::MediaService& service, const std::string& alias) {
  const Reply r = send(service, "status " + alias + " position");
  EXPECT_EQ(r.status, 0) << r.text;
  return r.status == 0 ? std::stoll(r.text) : -1;
}

}  // namespace velmora_test
