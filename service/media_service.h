// SPDX-License-Identifier: GPL-3.0-or-later
// The media-control service: takes command strings, decodes clips with FFmpeg,
// shows video in numbered windows and paints frames into numbered surfaces.
#pragma once
#include <cstdint>
#include <memory>

#include "service/surfaces.h"

namespace service {

class MediaService {
 public:
  MediaService();
  ~MediaService();
  MediaService(const MediaService&) = delete;
  MediaService& operator=(const MediaService&) = delete;

  // Carries out one command. Returns 0 or a status code (MediaStatus); the reply,
  // or the empty text, is written NUL-ended into `reply` of `size` bytes.
  int32_t send_string(const char* command, char* reply, int size);

  // Writes the description of `code` NUL-ended into `buffer`; false for an unknown code.
  bool error_string(int32_t code, char* buffer, int size);

  // Windows and surfaces are known by plain numbers chosen by their owners (negative ones
  // too). Registering a number again replaces the earlier entry. The owner must unregister
  // before it goes away; the service never touches an unregistered one again.
  void register_window(int32_t handle, VideoWindow* window);
  void unregister_window(int32_t handle);
  void register_surface(int32_t handle, DrawingSurface* surface);
  void unregister_surface(int32_t handle);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The one service of this process, as the programs use it.
MediaService& media_service();

}  // namespace service
