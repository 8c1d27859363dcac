// SPDX-License-Identifier: GPL-3.0-or-later
// The program's one window: every control, the menu, the shared window state, start-up,
// the enabling routine and the cut direction.
#pragma once
#include <QMainWindow>
#include <QPointer>
#include <cstdint>

#include "window/layout.h"
#include "window/picture_box.h"
#include "window/scroll_bar.h"
#include "window/seams.h"

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QTimer;

namespace window {

// Values of WindowState::click_state: how far the cut band is picked on the pick strips.
inline constexpr int16_t kNoBound = 0;     // nothing picked yet, or the band was let go
inline constexpr int16_t kFirstBound = 1;  // one press: the first bound is marked
inline constexpr int16_t kBandPicked = 2;  // two presses: the band is complete and ordered

// What the handlers share besides the controls: 16-bit signed numbers, to whose range the
// handlers hold presses and strip counts; all 0 when the window is created.
struct WindowState {
  int16_t click_state = kNoBound;
  // The band: first and last column of a vertical cut (picked on Picture4), first and
  // last row of a horizontal one (Picture5); the first is not greater than the last once
  // click_state is kBandPicked.
  int16_t cut_x1 = 0, cut_x2 = 0;
  int16_t cut_y1 = 0, cut_y2 = 0;
  // Strips drawn on the composite since it was last started, which is also the number of
  // the next one: strip k starts at line k times the band's width. Held at 32767.
  int16_t screen_count = 0;
};

// Every control an edition's layout table can place: its class, then its name, which is
// also its object name. The names are the window's own and stay as they are. Then what a
// screen reader calls it and, where its role does not say what it is for, a description;
// "" where its caption names it (a label's text names it while it shows one). Beside each,
// what it is for and its caption. The captions themselves live in editions/*_layout.cpp.
// Both editions have every control but Text1, Cmd_back and Label4 (velmora6 only).
#define VELMORA_FORM1_CONTROLS(X) \
  X(QLineEdit, Text1, "送りコマ数", "") /* frames per strip, 「送りコマ数」: how many \
                         frames a run steps the clip on between two strips; starts as "1" */ \
  X(QPushButton, Cmd_back, "", "") /* step the composite back one strip, 「1画面前に戻る」 */ \
  X(QGroupBox, Frame1, "", "") /* the cut direction, 「切り取る方向」; holds Option1 and \
                                  Option2 */ \
  X(QRadioButton, Option2, "", "") /* horizontal cut, 「水平方向」: a band of rows, on \
                                      Picture5 */ \
  X(QRadioButton, Option1, "", "") /* vertical cut, 「垂直方向」: a band of columns, on \
                                      Picture4; selected at start */ \
  X(PictureBox, Picture5, "切り取り範囲指定領域（水平方向）", \
    "マウスで２箇所クリックすると、その間の行が切り取る範囲になります") \
  /* y pick strip right of the video: two presses give the band's rows; shown only while \
     Option2 is selected */ \
  X(QPushButton, Cmd_Reserve, "", "") /* rewind to frame 0, 「巻き戻し」 */ \
  X(PictureBox, Picture4, "切り取り範囲指定領域（垂直方向）", \
    "マウスで２箇所クリックすると、その間の列が切り取る範囲になります") \
  /* x pick strip under the video: two presses give the band's columns */ \
  X(QPushButton, Cmd_End, "", "") /* exit, 「終了」 */ \
  X(PictureBox, Picture3, "切り取り画像", "切り取った範囲をコマごとに並べた画像") \
  /* the composite pane: the streak image, strip beside strip */ \
  X(QPushButton, CmdGosei, "", "") /* build the composite (gosei, 合成), \
                                      「切り取り画像の作成」 */ \
  X(QPushButton, Command6, "", "") /* clear the composite and the band, 「画像消去」 */ \
  X(PictureBox, Picture2, "取り込み用の画面", "切り取り画像の作成に使う、表示されない画面") \
  /* the hidden capture pane the composite copies from: the service paints the frame \
     shown into it; it lies below the window's edge, out of view yet not hidden, so its \
     pixels stay readable */ \
  X(QPushButton, Command4, "", "") /* frame back, 「コマ戻し」 */ \
  X(PictureBox, Picture1, "動画", "開いた動画を再生する画面") \
  /* the video pane: the service shows the playing clip in it */ \
  X(ScrollBar, HScroll1, "再生位置", "") /* the clip's position; a drag of its thumb seeks */ \
  X(QPushButton, Command3, "", "") /* frame forward, 「コマ送り」 */ \
  X(QPushButton, Command2, "", "") /* pause, 「一時停止」 */ \
  X(QPushButton, Command1, "", "") /* play, 「再生」 */ \
  X(QLabel, Label4, "", "") /* Text1's caption and its label, 「送りコマ数」 */ \
  X(QLabel, Label3, "", "") /* the instruction under Picture4, \
                               「切り取り範囲指定領域（マウスで２箇所クリック）」 */ \
  X(QLabel, Label2, "フレーム位置", "") /* the position display: 「フレーム」 and the frame \
                                          number */ \
  X(QLabel, Label1, "ファイル名", "") /* the path of the open clip */

// The same list as names for the layout tables.
enum class Control {
#define VELMORA_CONTROL_ENUMERATOR(Class, name, ...) name,
  VELMORA_FORM1_CONTROLS(VELMORA_CONTROL_ENUMERATOR)
#undef VELMORA_CONTROL_ENUMERATOR
};

// The control's name, as its object name and in messages.
QString control_name(Control control);

class Form1 : public QMainWindow {
  Q_OBJECT
 public:
  explicit Form1(const Layout& layout);
  ~Form1() override;

  // Runs once before the window is first shown: sizes the panes, and places and enables
  // the window as the edition's layout says.
  void startup();
  // Play flag for Command1, transport flag for Command2-4, Command6 and HScroll1;
  // CmdGosei is enabled whatever the flags.
  void cmd_enabled(bool play, bool transport);
  // Enables or disables one control (none when null). A control disabled while it holds
  // the keyboard focus leaves the window with the focus on no control, and gets it back
  // when it is enabled again before the user has given the focus to another.
  void set_enabled(QWidget* control, bool enabled);
  // Title of every message box.
  const QString& app_title() const { return layout_.app_title; }
  // A message box with the OK button only (or `style`), under the program's title.
  void show_message(const QString& text, int style = kStyleOkOnly) const;
  const Layout& layout() const { return layout_; }

  WindowState state;

  // The controls, by the names above; null where the edition has no such control.
#define VELMORA_CONTROL_MEMBER(Class, name, ...) Class* name = nullptr;
  VELMORA_FORM1_CONTROLS(VELMORA_CONTROL_MEMBER)
#undef VELMORA_CONTROL_MEMBER
  // Every 100 ms while a clip is open: the position into HScroll1 and Label2.
  QTimer* Timer1 = nullptr;
  // The file menu, 「ﾌｧｲﾙ（&F）」, and its items 「開く(&O)」 (open a clip),
  // 「閉じる(&C)」 (close it) and 「終了(&X)」 (close it and end).
  QMenu* mnufile = nullptr;
  QAction* mnuopen = nullptr;
  QAction* mnuclose = nullptr;
  QAction* mnuend = nullptr;

 signals:
  // The window is being closed (its unload); the request is never cancelled.
  void unloading();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Option1_Click();
  void Option2_Click();
  void create_controls(QWidget* client);
  QWidget* create_control(const ControlSpec& spec, QWidget* client);
  template <class Widget>
  Widget* create(Widget*& member, const ControlSpec& spec, QWidget* client);
  void create_menu();
  void fix_client_size();
  void centre_on_screen();

  Layout layout_;
  QPointer<QWidget> focus_parked_on_;
};

}  // namespace window
