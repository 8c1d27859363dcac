// SPDX-License-Identifier: GPL-3.0-or-later
// HScroll1's kind of scroll bar: its scroll event comes only from the user's drag.
#pragma once
#include <QScrollBar>

namespace window {

// Qt reports sliderMoved for any change of the value while the thumb is held down, also
// one made by the program (the position display's tick). The window's scroll event must
// come only while the user drags the thumb, so it is raised from mouse moves alone.
class ScrollBar : public QScrollBar {
  Q_OBJECT
 public:
  explicit ScrollBar(QWidget* parent = nullptr);

 signals:
  // The user moved the thumb to `position` with the mouse.
  void thumb_dragged(int position);

 protected:
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  bool moving_by_mouse_ = false;
};

}  // namespace window
