// The manual-advance window's table; a file of its own so that neither program carries the
// other's window.
#include "editions/layouts.h"

namespace editions {
namespace {

using window::ControlKind;

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
  // clang-format off
  layout.controls = {
      {"Frame1", ControlKind::frame, "切り取る方向", 120, 4200, 2775, 1095, 17, {}, {}},
      {"Option2", ControlKind::option, "水平方向", 1440, 360, 1095, 495, 19, {}, {}},
      {"Option1", ControlKind::option, "垂直方向", 240, 480, 1215, 255, 18, {}, {}},
      {"Picture5", ControlKind::picture, "", 8280, 600, 375, 3615, 16, kStripGrey, {}},
      {"Cmd_Reserve", ControlKind::button, "巻き戻し", 240, 600, 975, 495, 15, {}, {}},
      {"Picture4", ControlKind::picture, "", 3360, 4320, 4800, 300, 13, kStripGrey, {}},
      {"Cmd_End", ControlKind::button, "終了", 600, 3480, 1932, 492, 12, {}, {}},
      {"Picture3", ControlKind::picture, "", 8760, 600, 4800, 3600, 11, kWhite, {}},
      {"CmdGosei", ControlKind::button, "切り取り画像の作成", 600, 2280, 1932, 492, 10, {}, {}},
      {"Command6", ControlKind::button, "画像消去", 600, 3000, 1932, 492, 9, {}, {}},
      {"Picture2", ControlKind::picture, "", 3360, 5400, 4800, 3600, 8, kWhite, {}},
      {"Command4", ControlKind::button, "コマ戻し", 600, 1800, 975, 495, 7, {}, {}},
      {"Picture1", ControlKind::picture, "", 3360, 600, 4800, 3600, 6, kWhite, {}},
      {"HScroll1", ControlKind::scroll_bar, "", 600, 1320, 1932, 255, 5, {}, {}},
      {"Command3", ControlKind::button, "コマ送り", 1560, 1800, 972, 495, 2, {}, {}},
      {"Command2", ControlKind::button, "一時停止", 1200, 600, 975, 495, 1, {}, {}},
      {"Command1", ControlKind::button, "再生", 2160, 600, 975, 495, 0, {}, {}},
      {"Label3", ControlKind::label, "切り取り範囲指定領域（マウスで２箇所クリック）", 3960, 4920,
       3735, 255, 14, {}, {}},
      {"Label2", ControlKind::label, "", 5400, 0, 975, 495, 4, {}, kPositionPoints},
      {"Label1", ControlKind::label, "", 360, 120, 3975, 255, 3, {}, {}},
  };
  // clang-format on
  return layout;
}

}  // namespace editions
