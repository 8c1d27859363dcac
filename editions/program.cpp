#include "editions/program.h"

#include <QApplication>

#include "window/fonts.h"
#include "window/form1.h"

namespace editions {

int run_program(int argc, char** argv, window::Layout (*layout)(), Handlers (*handlers)()) {
  QApplication app(argc, argv);
  // Dialogs and message boxes show Japanese too, whatever the default face holds.
  QApplication::setFont(window::ui_font());
  window::Form1 form(layout());
  wire(form, handlers());
  form.startup();
  form.show();
  return app.exec();
}

}  // namespace editions
