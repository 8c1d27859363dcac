// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/open_close.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <string>

#include "media/mci.h"
#include "media/reply_number.h"
#include "media/transport.h"
#include "window/application.h"
#include "window/form1.h"
#include "window/seams.h"

namespace media {
namespace {

const QString kFilter = QStringLiteral("AVIファイル (*.avi)|*.avi");

// The panes that show the captured frame, the composite and the band markers.
void forget_composite(window::Form1& form) {
  for (window::PictureBox* pane : {form.Picture2, form.Picture3, form.Picture4, form.Picture5})
    if (pane != nullptr) pane->clear();
  form.state.click_state = window::kNoBound;
  form.state.screen_count = 0;
}

// The length goes whole into the scroll bar: a clip may well be longer than 32767 frames.
void take_length(window::Form1& form, const std::string& reply) {
  const int32_t length = std::max<int32_t>(0, nearest_int32(reply_value(reply)));
  form.HScroll1->setMaximum(length);
}

// After the choice: closes whatever was open and opens the chosen file.
void open_chosen(window::Form1& form, const QString& chosen) {
  forget_composite(form);
  const std::string short_name = short_path(QFile::encodeName(chosen).toStdString());

  std::string reply;
  mci_command("close avfile", reply);
  const std::string open = "open " + short_name + " alias avfile style child parent " +
                           plain_decimal(form.Picture1->window_handle());
  if (mci_command(open, reply) != 0) {
    form.show_message(QString::fromStdString(reply), window::kStyleCritical);
    return;
  }
  send_destination(form);
  mci_command("status avfile length", reply);
  take_length(form, reply);
  form.Timer1->start();
  form.Label1->setText(chosen);
  form.cmd_enabled(true, false);
  form.set_enabled(form.Cmd_Reserve, false);
  form.set_enabled(form.CmdGosei, false);
}

}  // namespace

void mnuopen_Click(window::Form1& form) {
  // The choice comes first, so that a cancel costs the user nothing.
  const std::optional<QString> chosen = window::seams().open_file(kFilter);
  if (!chosen) {
    window::beep();
    return;
  }
  // Whatever fails on the way (memory, say) ends the open with one beep, keeping what
  // was done; it must not take the program down.
  try {
    open_chosen(form, *chosen);
  } catch (const std::exception&) {
    window::beep();
  }
}

void mnuclose_Click(window::Form1& form) {
  form.Timer1->stop();
  form.Label1->setText(QString());
  std::string reply;
  mci_command("close avfile", reply);
}

void mnuend_Click(window::Form1&) {
  std::string reply;
  mci_command("close avfile", reply);
  window::end_program();
}

void Cmd_End_Click(window::Form1&) {
  QGuiApplication::clipboard()->clear();
  window::end_program();
}

}  // namespace media
