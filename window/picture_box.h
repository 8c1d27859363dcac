// SPDX-License-Identifier: GPL-3.0-or-later
// A picture pane: a persistent 32-bit image that is drawn, read and written pixel by pixel,
// registered with the media service as a numbered window and drawing surface.
#pragma once
#include <QColor>
#include <QImage>
#include <QWidget>
#include <memory>
#include <mutex>
#include <optional>

#include "service/surfaces.h"

namespace window {

class PictureBox : public QWidget, public service::DrawingSurface, public service::VideoWindow {
  Q_OBJECT
 public:
  PictureBox(QColor background, QWidget* parent);
  ~PictureBox() override;

  // Inner drawing area in pixels (the pane draws no border).
  int scale_width() const { return image_.width(); }
  int scale_height() const { return image_.height(); }
  // Resizes the pane and its persistent image; the image is cleared.
  void set_pane_size(int width, int height);

  // Repaints with the background colour, then the background picture if one is set.
  void clear();
  // Sets (or, with nothing, removes) the background picture and clears the pane.
  void set_background_picture(std::optional<QImage> picture);
  const std::optional<QImage>& background_picture() const { return background_picture_; }

  // One pixel as 0xffRRGGBB; outside the pane reads as white.
  QRgb pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= image_.width() || y >= image_.height()) return 0xffffffffu;
    return reinterpret_cast<const QRgb*>(image_.constScanLine(y))[x] | 0xff000000u;
  }
  // Outside the pane nothing is written. The pane repaints when control returns to the loop.
  void set_pixel(int x, int y, QRgb colour) {
    if (x < 0 || y < 0 || x >= image_.width() || y >= image_.height()) return;
    reinterpret_cast<QRgb*>(image_.scanLine(y))[x] = colour | 0xff000000u;
    if (!repaint_pending_) schedule_repaint();
  }
  // A line that complements every pixel under it, so that drawing the same line twice
  // restores the pane: the pick strips' marks come and go that way. It covers the first
  // point up to, but not including, the last one, so a mark across a whole strip ends at
  // the strip's edge.
  void draw_inverted_line(int x1, int y1, int x2, int y2);

  // The persistent image, as a picture.
  const QImage& image() const { return image_; }

  // Numbers the media service knows this pane by.
  int32_t window_handle() const { return window_handle_; }
  int32_t surface_handle() const { return surface_handle_; }

  // service::DrawingSurface
  service::PixelBuffer pixels() override;
  void painted() override;
  // service::VideoWindow: may be called from the playback thread.
  void show(std::shared_ptr<const service::VideoPicture> picture) override;
  // The widget's own show(), which the line above would otherwise hide.
  using QWidget::show;

 signals:
  void mouse_pressed(double x, double y);

 protected:
  void paintEvent(QPaintEvent*) override;
  // One repaint request per batch of pixel writes, not one per pixel.
  void schedule_repaint();
  void mousePressEvent(QMouseEvent* event) override;

 private:
  // Where in the pane a press fell, to a fraction of a pixel.
  QPointF press_position(const QMouseEvent& event) const;

  QColor background_;
  QImage image_;  // Format_RGB32; its bits are never shared, so scanLine() never copies
  bool repaint_pending_ = false;
  std::optional<QImage> background_picture_;
  int32_t window_handle_;
  int32_t surface_handle_;
  mutable std::mutex video_mutex_;
  std::shared_ptr<const service::VideoPicture> video_;
};

}  // namespace window
