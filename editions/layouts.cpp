#include "editions/layouts.h"

namespace editions {
namespace {

using window::ControlKind;
using window::ControlSpec;

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
  // In the order the window stores them; options are placed relative to Frame1.
  // clang-format off
  layout.controls = {
      {"Text1", ControlKind::text_box, "1", 10800, 4440, 495, 270, 22, {}, {}},
      {"Cmd_back", ControlKind::button, "1画面前に戻る", 10080, 0, 1455, 495, 20, {}, {}},
      {"Frame1", ControlKind::frame, "切り取る方向", 1200, 5280, 2775, 1095, 17, {}, {}},
      {"Option2", ControlKind::option, "水平方向", 1440, 360, 1095, 495, 19, {}, {}},
      {"Option1", ControlKind::option, "垂直方向", 240, 480, 1215, 255, 18, {}, {}},
      {"Picture5", ControlKind::picture, "", 5400, 600, 375, 3615, 16, kStripGreen, {}},
      {"Cmd_Reserve", ControlKind::button, "巻き戻し", 6360, 4440, 975, 495, 15, {}, {}},
      {"Picture4", ControlKind::picture, "", 600, 4200, 4800, 345, 13, kStripGreen, {}},
      {"Cmd_End", ControlKind::button, "終了", 9720, 6000, 1335, 492, 12, {}, {}},
      {"Picture3", ControlKind::picture, "", 6360, 600, 4800, 3600, 11, kWhite, {}},
      {"CmdGosei", ControlKind::button, "切り取り画像の作成", 9480, 4800, 1935, 492, 10, {}, {}},
      {"Command6", ControlKind::button, "画像消去", 9720, 5400, 1335, 492, 9, {}, {}},
      {"Picture2", ControlKind::picture, "", 480, 6840, 4800, 3600, 8, kWhite, {}},
      {"Command4", ControlKind::button, "コマ戻し", 6840, 5520, 975, 495, 7, {}, {}},
      {"Picture1", ControlKind::picture, "", 600, 600, 4800, 3600, 6, kWhite, {}},
      {"HScroll1", ControlKind::scroll_bar, "", 6840, 5040, 1932, 255, 5, {}, {}},
      {"Command3", ControlKind::button, "コマ送り", 7800, 5520, 972, 495, 2, {}, {}},
      {"Command2", ControlKind::button, "一時停止", 7320, 4440, 975, 495, 1, {}, {}},
      {"Command1", ControlKind::button, "再生", 8280, 4440, 975, 495, 0, {}, {}},
      {"Label4", ControlKind::label, "送りコマ数", 9720, 4440, 1335, 375, 21, {}, kLabelPoints},
      {"Label3", ControlKind::label, "切り取り範囲指定領域（マウスで２箇所クリック）", 960, 4680,
       3735, 255, 14, {}, {}},
      {"Label2", ControlKind::label, "", 7440, 6120, 975, 495, 4, {}, kLabelPoints},
      {"Label1", ControlKind::label, "", 360, 120, 5895, 255, 3, {}, {}},
  };
  // clang-format on
  return layout;
}

}  // namespace editions
