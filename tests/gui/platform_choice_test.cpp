// SPDX-License-Identifier: GPL-3.0-or-later
// The platform a program asks Qt for, from the session's environment: XWayland in a
// Wayland session that has it, the user's choice always, and one line on what does not
// work where the program runs on Wayland itself.
#include <gtest/gtest.h>

#include <QByteArray>
#include <cstdio>
#include <optional>
#include <string>

#include "window/application.h"

namespace velmora_test {
namespace {

struct Session {
  const char* what;
  std::optional<QByteArray> qpa_platform, wayland_display, display;
  window::DesktopNeeds needs;
  // Afterwards: QT_QPA_PLATFORM (none: unset), and whether a line says what is lost.
  std::optional<QByteArray> platform;
  bool says = false;
};

const window::DesktopNeeds kVelmora6{.clipboard_for_others = true, .centres = true};
const window::DesktopNeeds kVelmora3{};

void set(const char* name, const std::optional<QByteArray>& value) {
  if (value) {
    qputenv(name, *value);
  } else {
    qunsetenv(name);
  }
}

std::optional<QByteArray> get(const char* name) {
  if (!qEnvironmentVariableIsSet(name)) return std::nullopt;
  return qgetenv(name);
}

TEST(PlatformChoice, FollowsTheSession) {
  const char* names[] = {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY"};
  std::optional<QByteArray> saved[3];
  for (int i = 0; i < 3; ++i) saved[i] = get(names[i]);

  const Session sessions[] = {
      {"Wayland with XWayland", {}, "wayland-0", ":0", kVelmora6, "xcb"},
      {"Wayland with XWayland, velmora3", {}, "wayland-0", ":0", kVelmora3, "xcb"},
      {"Wayland, the user's platform", "wayland", "wayland-0", ":0", kVelmora6, "wayland"},
      {"Wayland alone", {}, "wayland-0", {}, kVelmora6, {}, true},
      {"Wayland alone, clipboard only", {}, "wayland-0", {}, {.clipboard_for_others = true}, {},
       true},
      {"Wayland alone, centring only", {}, "wayland-0", {}, {.centres = true}, {}, true},
      {"Wayland alone, nothing lost", {}, "wayland-0", {}, kVelmora3, {}},
      {"Wayland alone, the user's platform", "offscreen", "wayland-0", {}, kVelmora6, "offscreen"},
      {"Wayland's variable empty", {}, "", ":0", kVelmora6, {}},
      {"X", {}, {}, ":0", kVelmora6, {}},
      {"no display", {}, {}, {}, kVelmora6, {}},
  };
  for (const Session& session : sessions) {
    set("QT_QPA_PLATFORM", session.qpa_platform);
    set("WAYLAND_DISPLAY", session.wayland_display);
    set("DISPLAY", session.display);
    std::FILE* said = std::tmpfile();
    ASSERT_NE(said, nullptr);
    window::choose_platform(QStringLiteral("velmora6"), session.needs, said);
    std::rewind(said);
    std::string line;
    for (int c; (c = std::fgetc(said)) != EOF;) line += char(c);
    std::fclose(said);

    // One line, the program's name first; it names what is lost, and only that.
    const auto mentions = [&](const char* word) { return line.find(word) != std::string::npos; };
    const bool said_right =
        !session.says ? line.empty()
                      : line.rfind("velmora6: ", 0) == 0 && mentions("Wayland") &&
                            line.find('\n') == line.size() - 1 &&
                            mentions("clipboard") == session.needs.clipboard_for_others &&
                            mentions("centred") == session.needs.centres;
    EXPECT_TRUE(get("QT_QPA_PLATFORM") == session.platform && said_right)
        << session.what << ": QT_QPA_PLATFORM "
        << get("QT_QPA_PLATFORM").value_or("(unset)").toStdString() << ", said: " << line;
  }
  for (int i = 0; i < 3; ++i) set(names[i], saved[i]);
}

}  // namespace
}  // namespace velmora_test
