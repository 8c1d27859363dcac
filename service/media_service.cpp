// SPDX-License-Identifier: GPL-3.0-or-later
#include "service/media_service.h"

#include <map>
#include <mutex>
#include <new>
#include <string>
#include <type_traits>

#include "service/clip.h"
#include "service/command_parser.h"
#include "service/media_errors.h"
#include "service/playback.h"
#include "service/short_names.h"

namespace service {

struct MediaService::State {
  std::mutex lock;  // guards everything below, and every Clip, against the playback threads
  std::map<int32_t, VideoWindow*> windows;
  std::map<int32_t, DrawingSurface*> surfaces;
  std::map<std::string, std::unique_ptr<Session>> sessions;

  // Sets or, with null, removes the entry for `handle`.
  template <class Entry>
  void enter(std::map<int32_t, Entry*>& entries, int32_t handle,
             std::type_identity_t<Entry>* entry) {
    std::lock_guard guard(lock);
    if (entry == nullptr)
      entries.erase(handle);
    else
      entries[handle] = entry;
  }

  VideoWindow* window(int32_t handle) const {
    auto it = windows.find(handle);
    return it == windows.end() ? nullptr : it->second;
  }

  MediaStatus open(const Command& cmd);
  MediaStatus close(const Command& cmd);
  MediaStatus run(const Command& cmd, std::string& reply);
  MediaStatus run_on(Session& session, const Command& cmd, std::string& reply,
                     const Session::Held& held);
};

namespace {

// A short name back to a clip; no lock held, since probing a file may take a while.
Clip::Opened open_clip(const std::string& short_name) {
  Clip::Opened failed;
  const std::optional<std::string> path = long_name(short_name);
  if (short_name.empty() || !path) {
    failed.status = MediaStatus::no_such_file;
    return failed;
  }
  Clip::Opened opened = Clip::open(*path);
  if (opened.clip && opened.clip->length() < 1) opened.clip.reset();
  if (!opened.clip && opened.status == MediaStatus::ok) opened.status = MediaStatus::not_playable;
  return opened;
}

}  // namespace

MediaStatus MediaService::State::open(const Command& cmd) {
  {
    std::lock_guard guard(lock);
    if (sessions.count(cmd.alias)) return MediaStatus::alias_in_use;
    if (cmd.parent && !window(*cmd.parent)) return MediaStatus::no_such_window;
  }
  Clip::Opened opened = open_clip(cmd.file_name);  // outlives the lock when refused below
  if (!opened.clip) return opened.status;
  std::lock_guard guard(lock);
  // Another thread may have taken the alias while the file was being opened.
  if (sessions.count(cmd.alias)) return MediaStatus::alias_in_use;
  // A session that never played has no thread: dropping it here, should the map throw,
  // needs no lock.
  auto session = std::make_unique<Session>(std::move(opened.clip), cmd.parent, lock,
                                           [this](int32_t h) { return window(h); });
  sessions.emplace(cmd.alias, std::move(session));
  return MediaStatus::ok;
}

MediaStatus MediaService::State::close(const Command& cmd) {
  std::unique_ptr<Session> closing;
  {
    Session::Held held(lock);
    auto it = sessions.find(cmd.alias);
    if (it == sessions.end()) return MediaStatus::no_clip_under_alias;
    closing = std::move(it->second);
    sessions.erase(it);
    closing->close(held);
  }
  closing.reset();  // joins the playback thread, which needs the lock to finish
  return MediaStatus::ok;
}

MediaStatus MediaService::State::run(const Command& cmd, std::string& reply) {
  if (cmd.verb == Verb::open) return open(cmd);
  if (cmd.verb == Verb::close) return close(cmd);
  Session::Held held(lock);
  auto it = sessions.find(cmd.alias);
  if (it == sessions.end()) return MediaStatus::no_clip_under_alias;
  return run_on(*it->second, cmd, reply, held);
}

MediaStatus MediaService::State::run_on(Session& session, const Command& cmd, std::string& reply,
                                        const Session::Held& held) {
  switch (cmd.verb) {
    case Verb::put:
      return session.set_destination(cmd.destination, held);
    case Verb::status:
      reply = std::to_string(cmd.item == StatusItem::length ? session.length(held)
                                                            : session.position(held));
      return MediaStatus::ok;
    case Verb::play:
      return session.play(held);
    case Verb::pause:
    case Verb::stop:
      session.halt(held);
      return MediaStatus::ok;
    case Verb::update: {
      auto it = surfaces.find(cmd.surface);
      if (it == surfaces.end()) return MediaStatus::no_such_surface;
      return session.update(*it->second, held);
    }
    case Verb::step:
      return session.step(cmd.reverse, held);
    case Verb::seek:
      return session.seek(cmd.frame, held);
    case Verb::open:
    case Verb::close:
      break;
  }
  return MediaStatus::unknown_command;
}

MediaService::MediaService() : state_(std::make_unique<State>()) {}

MediaService::~MediaService() {
  std::map<std::string, std::unique_ptr<Session>> sessions;
  {
    Session::Held held(state_->lock);
    sessions.swap(state_->sessions);
    for (auto& [alias, session] : sessions) session->abandon(held);
  }
  sessions.clear();  // joins every playback thread
}

int32_t MediaService::send_string(const char* command, char* reply, int size) {
  copy_to_buffer("", reply, size);
  if (command == nullptr) return static_cast<int32_t>(MediaStatus::unknown_command);
  MediaStatus status;
  std::string text;
  try {
    const Parsed parsed = parse_command(command);
    status = parsed.status == MediaStatus::ok ? state_->run(parsed.command, text) : parsed.status;
  } catch (const std::bad_alloc&) {
    // FFmpeg reports in return codes, which the clip turns into statuses; memory is the
    // one thing that throws. Anything else is a fault in this code and must not pass for
    // a damaged clip.
    status = MediaStatus::out_of_memory;
  }
  if (status == MediaStatus::ok) copy_to_buffer(text, reply, size);
  return static_cast<int32_t>(status);
}

bool MediaService::error_string(int32_t code, char* buffer, int size) {
  const std::string_view text = describe(code);
  copy_to_buffer(text, buffer, size);
  return !text.empty();
}

void MediaService::register_window(int32_t handle, VideoWindow* window) {
  state_->enter(state_->windows, handle, window);
}

void MediaService::unregister_window(int32_t handle) {
  state_->enter(state_->windows, handle, nullptr);
}

void MediaService::register_surface(int32_t handle, DrawingSurface* surface) {
  state_->enter(state_->surfaces, handle, surface);
}

void MediaService::unregister_surface(int32_t handle) {
  state_->enter(state_->surfaces, handle, nullptr);
}

MediaService& media_service() {
  // Destroyed at exit like any static: its destructor stops and joins the playback threads.
  static MediaService service;
  return service;
}

}  // namespace service
