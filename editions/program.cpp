// SPDX-License-Identifier: GPL-3.0-or-later
#include "editions/program.h"

#include <QApplication>
#include <cstdio>

#include "window/application.h"
#include "window/fonts.h"
#include "window/form1.h"

namespace editions {

int run_program(int argc, char** argv, window::Layout (*layout)(), Handlers (*handlers)()) {
  const window::Layout table = layout();
  const Handlers wanted = handlers();
  // Qt reads the platform when the application object is made.
  window::choose_platform(table.app_title,
                          {.clipboard_for_others = bool(wanted.back),
                           .centres = table.sizes_and_centres},
                          stderr);
  // Not on the stack: the program ends by destroying it (end_program), never by returning.
  QApplication* app = window::create_application(argc, argv);
  // Dialogs and message boxes show Japanese too, whatever the default face holds.
  QApplication::setFont(window::ui_font());
  window::Form1 form(table);
  wire(form, wanted);
  form.startup();
  form.show();
  return app->exec();
}

}  // namespace editions
