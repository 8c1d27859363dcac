// SPDX-License-Identifier: GPL-3.0-or-later
#include "composite/builder.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <string>

#include "composite/band_copy.h"
#include "composite/frames_per_strip.h"
#include "composite/pacing.h"
#include "media/mci.h"
#include "media/transport.h"
#include "window/form1.h"

namespace composite {
namespace {

void step_clip() {
  std::string reply;
  media::mci_command("step avfile", reply);
}

// An empty composite takes the very next frame; later strips are `frames` paced steps on.
void advance_clip(const window::Form1& form, int16_t frames) {
  if (form.state.screen_count == 0) {
    step_clip();
    return;
  }
  paced_steps(frames, step_clip);
}

// The one-level undo: the composite as it stands before the strip is drawn. Putting a
// picture replaces what the clipboard held in one step; emptying it first would give the
// clipboard up for a moment, and a clipboard manager takes an empty clipboard over with
// its own copy of older contents.
void put_snapshot_on_clipboard(const window::Form1& form) {
  // A deep copy: the pane's own image must not share its bits with the clipboard.
  QGuiApplication::clipboard()->setImage(form.Picture3->image().copy());
}

// One pass; false when the run has ended.
bool run_pass(window::Form1& form, int16_t frames) {
  if (!require_band(form)) return false;
  advance_clip(form, frames);
  media::Trans(form);  // the frame now in Picture2
  put_snapshot_on_clipboard(form);
  // A full composite ends the run with the button left off and the count on this strip.
  if (copy_band(form)) return false;
  count_strip(form);
  return true;
}

}  // namespace

void CmdGosei_Click(window::Form1& form) {
  const auto frames = frames_per_strip(form.Text1->text());
  form.set_enabled(form.CmdGosei, false);
  if (!frames) {
    form.show_message(frames_per_strip_message());
    form.set_enabled(form.CmdGosei, true);
    return;
  }
  QPointer<window::Form1> alive(&form);
  while (run_pass(form, *frames)) {
    // Handlers run here between strips, and the composite shows its new strip.
    QCoreApplication::processEvents();
    if (alive.isNull()) return;
  }
}

}  // namespace composite
