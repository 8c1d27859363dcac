// SPDX-License-Identifier: GPL-3.0-or-later
// Drags a scroll bar's thumb with mouse events, as the user's hand does: press on the
// thumb, moves, release. Positions go through the style's geometry, so a position that
// no pixel reaches on a short bar ends on the nearest one that does.
#pragma once
#include <QCoreApplication>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>

namespace velmora_test {

class ThumbDrag {
 public:
  // Presses the left button on the thumb where it stands.
  explicit ThumbDrag(QScrollBar& bar) : bar_(bar) {
    origin_ = thumb(bar_.sliderPosition());
    grip_ = origin_.center();
    send(QEvent::MouseButtonPress, grip_, Qt::LeftButton, Qt::LeftButton);
  }

  // Moves the pointer so the thumb stands at `position`; returns where it came to.
  int move_to(int position) {
    pointer_ = grip_ + (thumb(position).topLeft() - origin_.topLeft());
    send(QEvent::MouseMove, pointer_, Qt::NoButton, Qt::LeftButton);
    return bar_.sliderPosition();
  }

  // Holds still: the pointer stays, as a hand resting on the button.
  void release() { send(QEvent::MouseButtonRelease, pointer_, Qt::LeftButton, Qt::NoButton); }

 private:
  QRect thumb(int position) const {
    QStyleOptionSlider option;
    option.initFrom(&bar_);
    option.orientation = bar_.orientation();
    if (option.orientation == Qt::Horizontal) option.state |= QStyle::State_Horizontal;
    option.minimum = bar_.minimum();
    option.maximum = bar_.maximum();
    option.singleStep = bar_.singleStep();
    option.pageStep = bar_.pageStep();
    option.sliderPosition = position;
    option.sliderValue = position;
    option.upsideDown = bar_.invertedAppearance();
    return bar_.style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider,
                                        &bar_);
  }

  void send(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
    QMouseEvent event(type, QPointF(at), QPointF(bar_.mapToGlobal(at)), button, held,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(&bar_, &event);
  }

  QScrollBar& bar_;
  QRect origin_;
  QPoint grip_, pointer_;
};

// A whole drag to `position`; returns the position the thumb came to.
inline int drag_thumb(QScrollBar& bar, int position) {
  ThumbDrag drag(bar);
  const int reached = drag.move_to(position);
  drag.release();
  return reached;
}

}  // namespace velmora_test
