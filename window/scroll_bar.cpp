// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/scroll_bar.h"

namespace window {

ScrollBar::ScrollBar(QWidget* parent) : QScrollBar(Qt::Horizontal, parent) {
  connect(this, &QAbstractSlider::sliderMoved, this, [this](int position) {
    if (moving_by_mouse_) emit thumb_dragged(position);
  });
}

void ScrollBar::mouseMoveEvent(QMouseEvent* event) {
  moving_by_mouse_ = true;
  QScrollBar::mouseMoveEvent(event);
  moving_by_mouse_ = false;
}

}  // namespace window
