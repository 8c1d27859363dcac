// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/transport.h"

#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <string>

#include "media/mci.h"
#include "media/reply_number.h"
#include "window/captions.h"
#include "window/form1.h"

namespace media {
namespace {

void send(const std::string& command) {
  std::string reply;
  mci_command(command, reply);
}

// A position the scroll bar cannot take stands at the nearer end of its range.
int clamped_position(const QScrollBar& bar, const std::string& reply) {
  const int32_t position = nearest_int32(reply_value(reply));
  return std::clamp<int32_t>(position, bar.minimum(), bar.maximum());
}

}  // namespace

void send_destination(window::Form1& form) {
  send("put avfile destination at 0 0 " + blank_led(form.Picture1->scale_width()) +
       blank_led(form.Picture1->scale_height()));
}

void Trans(window::Form1& form) {
  send("stop avfile");
  send("update avfile hdc " + plain_decimal(form.Picture2->surface_handle()));
}

void Command1_Click(window::Form1& form) {
  send_destination(form);
  send("play avfile window");
  form.cmd_enabled(true, true);
  form.set_enabled(form.Cmd_Reserve, true);
  form.set_enabled(form.Cmd_back, true);
}

void Command2_Click(window::Form1& form) {
  send("pause avfile");
  Trans(form);
}

void Command3_Click(window::Form1&) { send("step avfile"); }

void Command4_Click(window::Form1&) { send("step avfile reverse"); }

void Cmd_Reserve_Click(window::Form1&) { send("seek avfile to " + blank_led(0)); }

void HScroll1_Scroll(window::Form1& form, int32_t position) {
  // Restarting the timer keeps ticks from pulling the thumb back during the drag.
  form.Timer1->stop();
  send("seek avfile to " + blank_led(position));
  form.Timer1->start();
  Trans(form);
}

void Timer1_Timer(window::Form1& form) {
  std::string reply;
  const int32_t status = mci_command("status avfile position", reply);
  form.HScroll1->setValue(clamped_position(*form.HScroll1, reply));
  const QString caption = QStringLiteral("フレーム") + QChar('\n') + QChar('\r') +
                          QStringLiteral("    ") + QString::fromStdString(reply);
  window::set_caption(*form.Label2, caption);
  // With no clip to ask, one description is enough: beeping ten times a second would only
  // drown it. The next successful open starts the timer again.
  if (status != 0) form.Timer1->stop();
}

}  // namespace media
