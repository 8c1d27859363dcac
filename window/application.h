// SPDX-License-Identifier: GPL-3.0-or-later
// The program's life around its window: what it asks of Qt before the window is built, and
// how it ends.
#pragma once
#include <QLocale>
#include <QString>
#include <cstdio>
#include <memory>

class QApplication;
class QTranslator;

namespace window {

// What a program does that plain Wayland does not allow a window.
struct DesktopNeeds {
  bool clipboard_for_others = false;  // other programs paste its snapshot from the clipboard
  bool centres = false;               // it places its window in the middle of the screen
};

// Picks Qt's platform before the application object is made. In a Wayland session with
// XWayland (WAYLAND_DISPLAY and DISPLAY set) the program runs through XWayland, where its
// clipboard reaches other programs and it can place its window, unless the user chose a
// platform (QT_QPA_PLATFORM). Without XWayland it runs on Wayland itself and, where it
// needs what Wayland does not allow, says in one line on `diagnostics` what does not work.
void choose_platform(const QString& program, DesktopNeeds needs, std::FILE* diagnostics);

// The application object of a program, set up so that Qt's own dialogs and buttons speak
// the desktop's language and Qt writes no settings file. end_program destroys it.
QApplication* create_application(int& argc, char** argv);

// Loads Qt's own translations for `locale` (the file dialog, the message boxes' buttons)
// into the application; null when there are none, and those texts stay English. The
// window's own captions and messages are never translated.
QTranslator* install_qt_translations(const QLocale& locale);

// Points Qt's user settings (the file dialog keeps its history there) at a folder that
// cannot exist, so that nothing is ever written into the user's home.
void keep_qt_settings_out_of_home();

// Ends the program at once: no further handler runs, not even one waiting below the
// current one in a nested event loop.
[[noreturn]] void end_program();

}  // namespace window
