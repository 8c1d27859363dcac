// SPDX-License-Identifier: GPL-3.0-or-later
// The picture pane: its persistent image, inverted lines, background pictures, and video
// handed over from another thread.
#include "window/picture_box.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMouseEvent>
#include <thread>

#include "tests/gui/window_fixture.h"

namespace velmora_test {
namespace {

constexpr QRgb kGreen = 0xffc0ffc0u;

class PictureBoxTest : public ::testing::Test {
 protected:
  PictureBoxTest() : pane(QColor(192, 255, 192), nullptr) { pane.set_pane_size(20, 10); }
  window::PictureBox pane;
};

TEST_F(PictureBoxTest, PixelsReadBackAndOutsideReadsWhite) {
  EXPECT_EQ(pane.scale_width(), 20);
  EXPECT_EQ(pane.scale_height(), 10);
  EXPECT_EQ(pane.pixel(0, 0), kGreen);
  pane.set_pixel(19, 9, 0x123456u);
  EXPECT_EQ(pane.pixel(19, 9), 0xff123456u);
  pane.set_pixel(20, 0, 0);  // outside: nothing written, nothing broken
  pane.set_pixel(-1, 5, 0);
  EXPECT_EQ(pane.pixel(20, 0), 0xffffffffu);
  EXPECT_EQ(pane.pixel(0, -1), 0xffffffffu);
  EXPECT_EQ(pane.image().pixel(19, 9), 0xff123456u);
}

TEST_F(PictureBoxTest, InvertedLineComplementsAndTwiceRestores) {
  pane.set_pixel(5, 3, 0x102030u);
  pane.draw_inverted_line(5, 0, 5, 10);
  for (int y = 0; y < 10; ++y) {
    const QRgb before = y == 3 ? 0xff102030u : kGreen;
    EXPECT_EQ(pane.pixel(5, y), (~before) | 0xff000000u) << y;
  }
  EXPECT_EQ(pane.pixel(4, 3), kGreen);
  EXPECT_EQ(pane.pixel(6, 3), kGreen);
  pane.draw_inverted_line(5, 0, 5, 10);
  EXPECT_EQ(pane.pixel(5, 3), 0xff102030u);
  EXPECT_EQ(pane.pixel(5, 9), kGreen);
}

TEST_F(PictureBoxTest, LineStopsShortOfItsEndPointAndClipsToThePane) {
  pane.draw_inverted_line(0, 4, 8, 4);
  EXPECT_NE(pane.pixel(7, 4), kGreen);
  EXPECT_EQ(pane.pixel(8, 4), kGreen);
  // Runs past the pane's edges without writing outside it.
  pane.draw_inverted_line(-5, 2, 40, 2);
  for (int x = 0; x < 20; ++x) EXPECT_NE(pane.pixel(x, 2), kGreen) << x;
  // Two coinciding lines cancel.
  pane.draw_inverted_line(3, 0, 3, 10);
  pane.draw_inverted_line(3, 0, 3, 10);
  EXPECT_EQ(pane.pixel(3, 7), kGreen);
}

TEST_F(PictureBoxTest, SlantedLineTouchesEachColumnOnce) {
  pane.draw_inverted_line(0, 0, 19, 9);
  int touched = 0;
  for (int x = 0; x < 20; ++x)
    for (int y = 0; y < 10; ++y) touched += pane.pixel(x, y) != kGreen;
  EXPECT_EQ(touched, 19);
}

TEST_F(PictureBoxTest, ClearShowsTheBackgroundPictureAgain) {
  QImage picture(4, 4, QImage::Format_RGB32);
  picture.fill(qRgb(1, 2, 3));
  pane.set_background_picture(picture);
  EXPECT_EQ(pane.pixel(3, 3), qRgb(1, 2, 3));
  EXPECT_EQ(pane.pixel(4, 4), kGreen);
  pane.set_pixel(2, 2, 0);
  pane.set_pixel(10, 2, 0);
  pane.clear();
  EXPECT_EQ(pane.pixel(2, 2), qRgb(1, 2, 3));
  EXPECT_EQ(pane.pixel(10, 2), kGreen);
  pane.set_background_picture(std::nullopt);
  EXPECT_EQ(pane.pixel(2, 2), kGreen);
  EXPECT_FALSE(pane.background_picture().has_value());
}

TEST_F(PictureBoxTest, ResizingClearsTheImage) {
  pane.set_pixel(1, 1, 0);
  pane.set_pane_size(30, 5);
  EXPECT_EQ(pane.size(), QSize(30, 5));
  EXPECT_EQ(pane.scale_width(), 30);
  EXPECT_EQ(pane.pixel(1, 1), kGreen);
}

TEST_F(PictureBoxTest, SurfaceIsTheImageTheServicePaintsInto) {
  service::PixelBuffer buffer = pane.pixels();
  ASSERT_EQ(buffer.width, 20);
  ASSERT_EQ(buffer.height, 10);
  ASSERT_GE(buffer.stride, 20);
  buffer.pixels[3 * buffer.stride + 7] = 0xff0000ffu;
  pane.painted();
  EXPECT_EQ(pane.pixel(7, 3), 0xff0000ffu);
}

TEST_F(PictureBoxTest, VideoFromAnotherThreadIsPaintedOverThePane) {
  auto picture = std::make_shared<service::VideoPicture>();
  picture->place = {2, 1, 3, 2};
  picture->pixels.assign(6, 0xff0000ffu);
  std::thread player([&] { pane.show(picture); });
  player.join();
  QCoreApplication::processEvents();
  const QImage shown = pane.grab().toImage();
  EXPECT_EQ(shown.pixel(2, 1), 0xff0000ffu);
  EXPECT_EQ(shown.pixel(4, 2), 0xff0000ffu);
  EXPECT_EQ(shown.pixel(5, 1), kGreen);
  EXPECT_EQ(pane.pixel(2, 1), kGreen) << "the video does not go into the image";
  pane.show(nullptr);
  EXPECT_EQ(pane.grab().toImage().pixel(2, 1), kGreen);
  // A picture that lies about its size is not drawn.
  picture = std::make_shared<service::VideoPicture>();
  picture->place = {0, 0, 10, 10};
  picture->pixels.assign(3, 0);
  pane.show(picture);
  EXPECT_EQ(pane.grab().toImage().pixel(0, 0), kGreen);
}

TEST_F(PictureBoxTest, EveryPaneHasItsOwnHandles) {
  window::PictureBox other(Qt::white, nullptr);
  EXPECT_NE(other.window_handle(), pane.window_handle());
  EXPECT_NE(other.surface_handle(), pane.surface_handle());
}

TEST_F(PictureBoxTest, PressReportsThePosition) {
  double got_x = -1, got_y = -1;
  QObject::connect(&pane, &window::PictureBox::mouse_pressed, [&](double x, double y) {
    got_x = x;
    got_y = y;
  });
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(7.5, 3.25), QPointF(7.5, 3.25),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&pane, &press);
  EXPECT_DOUBLE_EQ(got_x, 7.5);
  EXPECT_DOUBLE_EQ(got_y, 3.25);
}

}  // namespace
}  // namespace velmora_test
