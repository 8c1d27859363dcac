// SPDX-License-Identifier: GPL-3.0-or-later
#include "editions/layouts.h"
#include "window/form1.h"

namespace editions {
namespace {

using window::Control;

const QColor kStripGreen(192, 255, 192);
const QColor kWhite(255, 255, 255);
constexpr double kLabelPoints = 11.25;

}  // namespace

window::Layout velmora6_layout() {
  window::Layout layout;
  layout.caption = QStringLiteral("Velmora ");
  layout.app_title = QStringLiteral("velmora6");
  layout.client_width = 11760;
  layout.client_height = 6825;
  layout.sizes_and_centres = true;
  // Each row: control, caption, left, top, width, height (twips; the options' relative to
  // Frame1), place in the focus order, background, label font size.
  // clang-format off
  layout.controls = {
      {Control::Text1, "1", 10800, 4440, 495, 270, 22, {}, {}},
      {Control::Cmd_back, "1画面前に戻る", 10080, 0, 1455, 495, 20, {}, {}},
      {Control::Frame1, "切り取る方向", 1200, 5280, 2775, 1095, 17, {}, {}},
      {Control::Option2, "水平方向", 1440, 360, 1095, 495, 19, {}, {}},
      {Control::Option1, "垂直方向", 240, 480, 1215, 255, 18, {}, {}},
      {Control::Picture5, "", 5400, 600, 375, 3615, 16, kStripGreen, {}},
      {Control::Cmd_Reserve, "巻き戻し", 6360, 4440, 975, 495, 15, {}, {}},
      {Control::Picture4, "", 600, 4200, 4800, 345, 13, kStripGreen, {}},
      {Control::Cmd_End, "終了", 9720, 6000, 1335, 492, 12, {}, {}},
      {Control::Picture3, "", 6360, 600, 4800, 3600, 11, kWhite, {}},
      {Control::CmdGosei, "切り取り画像の作成", 9480, 4800, 1935, 492, 10, {}, {}},
      {Control::Command6, "画像消去", 9720, 5400, 1335, 492, 9, {}, {}},
      {Control::Picture2, "", 480, 6840, 4800, 3600, 8, kWhite, {}},
      {Control::Command4, "コマ戻し", 6840, 5520, 975, 495, 7, {}, {}},
      {Control::Picture1, "", 600, 600, 4800, 3600, 6, kWhite, {}},
      {Control::HScroll1, "", 6840, 5040, 1932, 255, 5, {}, {}},
      {Control::Command3, "コマ送り", 7800, 5520, 972, 495, 2, {}, {}},
      {Control::Command2, "一時停止", 7320, 4440, 975, 495, 1, {}, {}},
      {Control::Command1, "再生", 8280, 4440, 975, 495, 0, {}, {}},
      {Control::Label4, "送りコマ数", 9720, 4440, 1335, 375, 21, {}, kLabelPoints},
      {Control::Label3, "切り取り範囲指定領域（マウスで２箇所クリック）", 960, 4680,
       3735, 255, 14, {}, {}},
      {Control::Label2, "", 7440, 6120, 975, 495, 4, {}, kLabelPoints},
      {Control::Label1, "", 360, 120, 5895, 255, 3, {}, {}},
  };
  // clang-format on
  return layout;
}

}  // namespace editions
