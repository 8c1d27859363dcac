// SPDX-License-Identifier: GPL-3.0-or-later
// The one channel to the media service, and the number forms appended to commands. Every
// command names the clip by the alias avfile, which the open command gives it.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace media {

// Sends one command string (mci: media control). On failure: one beep, and `reply`
// receives the service's description instead of the reply. Returns the command's own
// status.
int32_t mci_command(const std::string& command, std::string& reply);

// Hears every command after it ran, with its status and the reply the caller got; tests
// record the conversation with it. An empty function stops listening.
using CommandListener =
    std::function<void(const std::string& command, int32_t status, const std::string& reply)>;
void set_command_listener(CommandListener listener);

// A blank-free form of `path` that the service opens as the same file; empty when the
// file does not exist.
std::string short_path(const std::string& path);

// Handles: the digits, a minus sign in front when negative.
std::string plain_decimal(int32_t value);
// Sizes and frame numbers, blank-led: a blank before a value that is not negative, where
// a minus sign would stand.
std::string blank_led(int32_t value);

}  // namespace media
