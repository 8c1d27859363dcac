// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/mci.h"

#include <array>
#include <cstring>

#include "service/media_service.h"
#include "service/short_names.h"
#include "window/seams.h"

namespace media {
namespace {
constexpr int kBufferSize = 256;

CommandListener& listener() {
  static CommandListener current;
  return current;
}
}  // namespace

void set_command_listener(CommandListener next) { listener() = std::move(next); }

int32_t mci_command(const std::string& command, std::string& reply) {
  std::array<char, kBufferSize> buffer{};
  auto& service = service::media_service();
  const int32_t status = service.send_string(command.c_str(), buffer.data(), kBufferSize);
  if (status != 0) {
    window::beep();
    service.error_string(status, buffer.data(), kBufferSize);
  }
  const void* nul = std::memchr(buffer.data(), '\0', buffer.size());
  if (nul != nullptr) reply.assign(buffer.data(), static_cast<const char*>(nul) - buffer.data());
  if (const auto& hear = listener()) hear(command, status, reply);
  return status;
}

// Returned whole, however long: a length cap would turn a deep folder into "no such file".
std::string short_path(const std::string& path) { return service::short_name(path); }

std::string plain_decimal(int32_t value) { return std::to_string(value); }

std::string blank_led(int32_t value) {
  return value < 0 ? std::to_string(value) : " " + std::to_string(value);
}

}  // namespace media
