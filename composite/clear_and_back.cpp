// SPDX-License-Identifier: GPL-3.0-or-later
#include "composite/clear_and_back.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QPushButton>
#include <optional>

#include "window/form1.h"

namespace composite {

void Command6_Click(window::Form1& form) {
  form.Picture2->clear();
  form.Picture3->set_background_picture(std::nullopt);
  forget_band(form);
}

void forget_band(window::Form1& form) {
  form.Picture4->clear();
  form.Picture5->clear();
  form.state.click_state = window::kNoBound;
  form.set_enabled(form.CmdGosei, true);
  form.state.screen_count = 0;
}

void Cmd_back_Click(window::Form1& form) {
  if (form.state.screen_count <= 1) return;
  const QImage snapshot = QGuiApplication::clipboard()->image();
  if (snapshot.isNull()) return;
  form.Picture3->set_background_picture(snapshot);
  form.state.screen_count -= 1;
}

}  // namespace composite
