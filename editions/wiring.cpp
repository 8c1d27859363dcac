// SPDX-License-Identifier: GPL-3.0-or-later
#include "editions/wiring.h"

#include <QAction>
#include <QPushButton>
#include <QTimer>

#include "media/open_close.h"
#include "media/transport.h"
#include "window/form1.h"

namespace editions {
namespace {

void on_click(window::Form1& form, QPushButton* button, const Handler& handler) {
  if (button == nullptr || !handler) return;
  QObject::connect(button, &QPushButton::clicked, &form, [&form, handler] { handler(form); });
}

void on_trigger(window::Form1& form, QAction* item, const Handler& handler) {
  QObject::connect(item, &QAction::triggered, &form, [&form, handler] { handler(form); });
}

void on_press(window::Form1& form, window::PictureBox* pane, const PressHandler& handler,
              bool take_x) {
  if (pane == nullptr || !handler) return;
  QObject::connect(pane, &window::PictureBox::mouse_pressed, &form,
                   [&form, handler, take_x](double x, double y) { handler(form, take_x ? x : y); });
}

void wire_transport(window::Form1& form, const Handlers& handlers) {
  on_click(form, form.Command1, handlers.play);
  on_click(form, form.Command2, media::Command2_Click);
  on_click(form, form.Command3, media::Command3_Click);
  on_click(form, form.Command4, media::Command4_Click);
  on_click(form, form.Cmd_Reserve, media::Cmd_Reserve_Click);
  // Only the user's drag of the thumb seeks; the tick's own moves of the thumb do not.
  QObject::connect(form.HScroll1, &window::ScrollBar::thumb_dragged, &form,
                   [&form](int position) { media::HScroll1_Scroll(form, position); });
  QObject::connect(form.Timer1, &QTimer::timeout, &form, [&form] { media::Timer1_Timer(form); });
}

}  // namespace

void wire(window::Form1& form, const Handlers& handlers) {
  on_trigger(form, form.mnuopen, media::mnuopen_Click);
  on_trigger(form, form.mnuclose, media::mnuclose_Click);
  on_trigger(form, form.mnuend, media::mnuend_Click);
  QObject::connect(&form, &window::Form1::unloading, &form, [&form] { media::mnuend_Click(form); });
  on_click(form, form.Cmd_End, handlers.exit_button);
  wire_transport(form, handlers);
  on_click(form, form.CmdGosei, handlers.build);
  on_click(form, form.Command6, handlers.clear);
  on_click(form, form.Cmd_back, handlers.back);
  on_press(form, form.Picture4, handlers.press_x, true);
  on_press(form, form.Picture5, handlers.press_y, false);
}

}  // namespace editions
