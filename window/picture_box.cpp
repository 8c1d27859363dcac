// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/picture_box.h"

#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <atomic>
#include <cstdlib>

#include "service/media_service.h"

namespace window {
namespace {

// Handles only have to be unique within the process; two ranges keep windows and
// surfaces apart when a test prints them.
int32_t next_window_handle() {
  static std::atomic<int32_t> next{0x1000};
  return next++;
}

int32_t next_surface_handle() {
  static std::atomic<int32_t> next{0x5000};
  return next++;
}

}  // namespace

PictureBox::PictureBox(QColor background, QWidget* parent)
    : QWidget(parent),
      background_(background),
      image_(1, 1, QImage::Format_RGB32),
      window_handle_(next_window_handle()),
      surface_handle_(next_surface_handle()) {
  image_.fill(background_);
  setAttribute(Qt::WA_OpaquePaintEvent);
  auto& service = service::media_service();
  service.register_window(window_handle_, this);
  service.register_surface(surface_handle_, this);
}

PictureBox::~PictureBox() {
  auto& service = service::media_service();
  service.unregister_surface(surface_handle_);
  service.unregister_window(window_handle_);
}

void PictureBox::set_pane_size(int width, int height) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  resize(width, height);
  image_ = QImage(width, height, QImage::Format_RGB32);
  clear();
}

void PictureBox::clear() {
  image_.fill(background_);
  if (background_picture_) {
    QPainter painter(&image_);
    painter.drawImage(0, 0, *background_picture_);
  }
  schedule_repaint();
}

void PictureBox::set_background_picture(std::optional<QImage> picture) {
  background_picture_ = std::move(picture);
  clear();
}

// Bresenham's walk from the first point up to, but not including, the last one.
void PictureBox::draw_inverted_line(int x1, int y1, int x2, int y2) {
  const int dx = std::abs(x2 - x1), sx = x1 < x2 ? 1 : -1;
  const int dy = -std::abs(y2 - y1), sy = y1 < y2 ? 1 : -1;
  int error = dx + dy;
  int x = x1, y = y1;
  while (x != x2 || y != y2) {
    if (x >= 0 && y >= 0 && x < image_.width() && y < image_.height()) {
      auto* pixel = reinterpret_cast<QRgb*>(image_.scanLine(y)) + x;
      *pixel = ~*pixel | 0xff000000u;
    }
    const int twice = 2 * error;
    if (twice >= dy) {
      error += dy;
      x += sx;
    }
    if (twice <= dx) {
      error += dx;
      y += sy;
    }
  }
  schedule_repaint();
}

service::PixelBuffer PictureBox::pixels() {
  return service::PixelBuffer{reinterpret_cast<uint32_t*>(image_.bits()), image_.width(),
                           image_.height(), static_cast<int>(image_.bytesPerLine() / 4)};
}

void PictureBox::painted() { schedule_repaint(); }

void PictureBox::show(std::shared_ptr<const service::VideoPicture> picture) {
  {
    std::lock_guard lock(video_mutex_);
    video_ = std::move(picture);
  }
  // A queued call to a pane that is gone by then is dropped by Qt.
  QMetaObject::invokeMethod(
      this, [this] { update(); }, Qt::QueuedConnection);
}

void PictureBox::schedule_repaint() {
  repaint_pending_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        repaint_pending_ = false;
        update();
      },
      Qt::QueuedConnection);
}

void PictureBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, image_);
  std::shared_ptr<const service::VideoPicture> video;
  {
    std::lock_guard lock(video_mutex_);
    video = video_;
  }
  if (!video || video->place.width <= 0 || video->place.height <= 0) return;
  const auto expected = static_cast<size_t>(video->place.width) * video->place.height;
  if (video->pixels.size() < expected) return;
  const QImage frame(reinterpret_cast<const uchar*>(video->pixels.data()), video->place.width,
                     video->place.height, video->place.width * 4, QImage::Format_RGB32);
  painter.drawImage(video->place.x, video->place.y, frame);
}

// Qt hands a widget its press rounded to whole logical pixels, so on a scaled screen the
// right half of a pixel would report the next one. The press's place in the window is
// exact; less the pane's own place it is the unrounded position. An event made by hand
// carries its local position as its place in the window too: where the two disagree by
// more than the rounding, the local one is the true one.
QPointF PictureBox::press_position(const QMouseEvent& event) const {
  const QPointF rounded = event.position();
  const QPointF exact = event.scenePosition() - mapTo(window(), QPointF(0, 0));
  const QPointF apart = exact - rounded;
  if (std::abs(apart.x()) <= 0.5 && std::abs(apart.y()) <= 0.5) return exact;
  return rounded;
}

void PictureBox::mousePressEvent(QMouseEvent* event) {
  const QPointF at = press_position(*event);
  emit mouse_pressed(at.x(), at.y());
}

}  // namespace window
