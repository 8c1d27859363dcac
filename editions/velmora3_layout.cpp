// SPDX-License-Identifier: GPL-3.0-or-later
// The manual-advance window's table; a file of its own so that neither program carries the
// other's window.
#include "editions/layouts.h"
#include "window/form1.h"

namespace editions {
namespace {

using window::Control;

const QColor kStripGrey(224, 224, 224);
const QColor kWhite(255, 255, 255);
constexpr double kPositionPoints = 12;

}  // namespace

window::Layout velmora3_layout() {
  window::Layout layout;
  layout.caption = QStringLiteral("Velmora by Oskedal");
  layout.app_title = QStringLiteral("velmora3");
  layout.client_width = 13905;
  layout.client_height = 5355;
  layout.sizes_and_centres = false;
  // One column of buttons at the left, the panes side by side; the pick strips stand 8
  // pixels off the video pane. No frames-per-strip box, no label for it, no back button.
  // Rows as in velmora6_layout.cpp.
  // clang-format off
  layout.controls = {
      {Control::Frame1, "切り取る方向", 120, 4200, 2775, 1095, 17, {}, {}},
      {Control::Option2, "水平方向", 1440, 360, 1095, 495, 19, {}, {}},
      {Control::Option1, "垂直方向", 240, 480, 1215, 255, 18, {}, {}},
      {Control::Picture5, "", 8280, 600, 375, 3615, 16, kStripGrey, {}},
      {Control::Cmd_Reserve, "巻き戻し", 240, 600, 975, 495, 15, {}, {}},
      {Control::Picture4, "", 3360, 4320, 4800, 300, 13, kStripGrey, {}},
      {Control::Cmd_End, "終了", 600, 3480, 1932, 492, 12, {}, {}},
      {Control::Picture3, "", 8760, 600, 4800, 3600, 11, kWhite, {}},
      {Control::CmdGosei, "切り取り画像の作成", 600, 2280, 1932, 492, 10, {}, {}},
      {Control::Command6, "画像消去", 600, 3000, 1932, 492, 9, {}, {}},
      {Control::Picture2, "", 3360, 5400, 4800, 3600, 8, kWhite, {}},
      {Control::Command4, "コマ戻し", 600, 1800, 975, 495, 7, {}, {}},
      {Control::Picture1, "", 3360, 600, 4800, 3600, 6, kWhite, {}},
      {Control::HScroll1, "", 600, 1320, 1932, 255, 5, {}, {}},
      {Control::Command3, "コマ送り", 1560, 1800, 972, 495, 2, {}, {}},
      {Control::Command2, "一時停止", 1200, 600, 975, 495, 1, {}, {}},
      {Control::Command1, "再生", 2160, 600, 975, 495, 0, {}, {}},
      {Control::Label3, "切り取り範囲指定領域（マウスで２箇所クリック）", 3960, 4920,
       3735, 255, 14, {}, {}},
      {Control::Label2, "", 5400, 0, 975, 495, 4, {}, kPositionPoints},
      {Control::Label1, "", 360, 120, 3975, 255, 3, {}, {}},
  };
  // clang-format on
  return layout;
}

}  // namespace editions
