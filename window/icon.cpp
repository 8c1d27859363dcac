// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/icon.h"

#include <array>

namespace window {
namespace {

constexpr int kSize = 32;
// Indices into the 16-colour table below.
constexpr int kBlack = 0, kOlive = 3, kRed = 9;

QList<QRgb> sixteen_colours() {
  return {qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
          qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
          qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
          qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
}

void fill(QImage& image, int left, int top, int width, int height, int colour) {
  for (int y = top; y < top + height; ++y)
    for (int x = left; x < left + width; ++x) image.setPixel(x, y, colour);
}

}  // namespace

QImage app_icon_image() {
  // Left edge of each string and the top row of the square it ends in.
  constexpr std::array<int, 6> string_left{3, 8, 13, 18, 23, 28};
  constexpr std::array<int, 6> square_top{13, 8, 5, 5, 10, 18};
  QImage image(kSize, kSize, QImage::Format_Indexed8);
  image.setColorTable(sixteen_colours());
  image.fill(kOlive);
  for (size_t i = 0; i < string_left.size(); ++i) {
    fill(image, string_left[i], 0, 2, square_top[i], kBlack);
    fill(image, string_left[i] - 1, square_top[i], 4, 4, kRed);
  }
  return image;
}

QImage app_icon_at(int size) {
  return app_icon_image()
      .convertToFormat(QImage::Format_ARGB32)
      .scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

}  // namespace window
