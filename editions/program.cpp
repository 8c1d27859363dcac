// SPDX-License-Identifier: GPL-3.0-or-later
#include "editions/program.h"

#include <QApplication>

#include "window/application.h"
#include "window/fonts.h"
#include "window/form1.h"

namespace editions {

int run_program(int argc, char** argv, window::Layout (*layout)(), Handlers (*handlers)()) {
  // Not on the stack: the program ends by destroying it (end_program), never by returning.
  QApplication* app = window::create_application(argc, argv);
  // Dialogs and message boxes show Japanese too, whatever the default face holds.
  QApplication::setFont(window::ui_font());
  window::Form1 form(layout());
  wire(form, handlers());
  form.startup();
  form.show();
  return app->exec();
}

}  // namespace editions
