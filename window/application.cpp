// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/application.h"

#include <QApplication>
#include <QClipboard>
#include <QLibraryInfo>
#include <QSettings>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>

namespace window {
namespace {

QApplication* created = nullptr;

}  // namespace

void choose_platform(const QString& program, DesktopNeeds needs, std::FILE* diagnostics) {
  if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) return;  // the user's choice
  if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) return;    // Qt's xcb, as ever
  if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "xcb");
    return;
  }
  QStringList lost;
  if (needs.clipboard_for_others)
    lost << QStringLiteral("other programs may not get the step-back snapshot from the clipboard");
  if (needs.centres) lost << QStringLiteral("the window is not centred on the screen");
  if (lost.isEmpty()) return;
  std::fprintf(diagnostics, "%s: on Wayland without XWayland %s\n", qPrintable(program),
               qPrintable(lost.join(QStringLiteral(", and "))));
  std::fflush(diagnostics);
}

QApplication* create_application(int& argc, char** argv) {
  keep_qt_settings_out_of_home();
  created = new QApplication(argc, argv);
  install_qt_translations(QLocale::system());
  return created;
}

QTranslator* install_qt_translations(const QLocale& locale) {
  // Owned by the application object, which uses it for as long as it lives.
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(locale, QStringLiteral("qt"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return nullptr;
  }
  return translator;
}

void keep_qt_settings_out_of_home() {
  // Below /dev/null no folder can be made, whoever runs the program: Qt's attempts to save
  // fail quietly and it reads no history either.
  for (auto format : {QSettings::NativeFormat, QSettings::IniFormat})
    QSettings::setPath(format, QSettings::UserScope, QStringLiteral("/dev/null/velmora"));
}

void end_program() {
  // Nothing may run after this, not even a handler waiting in an outer event loop, so the
  // process leaves without unwinding: only the standard streams are flushed.
  std::fflush(nullptr);
  if (created != nullptr && QGuiApplication::clipboard()->ownsClipboard()) {
    // Destroying the application object is where Qt offers what it owns on the clipboard
    // to a clipboard manager, so that the picture outlives the program. No handler of ours
    // runs in it; without a manager it only closes the window.
    delete created;
  }
  std::_Exit(0);
}

}  // namespace window
