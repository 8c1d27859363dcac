// The auto-advance edition: one window, started, shown and left to its handlers.
#include <QApplication>

#include "editions/layouts.h"
#include "editions/velmora6_edition.h"
#include "editions/wiring.h"
#include "window/fonts.h"
#include "window/form1.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Dialogs and message boxes show Japanese too, whatever the default face holds.
  QApplication::setFont(window::ui_font());
  window::Form1 form(editions::velmora6_layout());
  editions::wire(form, editions::velmora6_handlers());
  form.startup();
  form.show();
  return app.exec();
}
