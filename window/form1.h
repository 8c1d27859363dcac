// The program's one window: every control, the menu, the shared window state, start-up,
// the enabling routine and the cut direction.
#pragma once
#include <QMainWindow>
#include <QPointer>
#include <cstdint>

#include "window/layout.h"
#include "window/picture_box.h"
#include "window/scroll_bar.h"

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QTimer;

namespace window {

// 16-bit like the rest of the window's state; all 0 when the window is created.
struct WindowState {
  int16_t click_state = 0;
  int16_t cut_x1 = 0, cut_x2 = 0;
  int16_t cut_y1 = 0, cut_y2 = 0;
  int16_t screen_count = 0;
};

class Form1 : public QMainWindow {
  Q_OBJECT
 public:
  explicit Form1(const Layout& layout);
  ~Form1() override;

  // Form load: sizes, places and enables as the edition's layout says.
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
  const Layout& layout() const { return layout_; }

  WindowState state;

  // Controls by their window names; null where the edition has no such control.
  QLineEdit* Text1 = nullptr;
  QPushButton* Cmd_back = nullptr;
  QGroupBox* Frame1 = nullptr;
  QRadioButton* Option2 = nullptr;
  QRadioButton* Option1 = nullptr;
  PictureBox* Picture5 = nullptr;
  QPushButton* Cmd_Reserve = nullptr;
  PictureBox* Picture4 = nullptr;
  QPushButton* Cmd_End = nullptr;
  PictureBox* Picture3 = nullptr;
  QPushButton* CmdGosei = nullptr;
  QPushButton* Command6 = nullptr;
  PictureBox* Picture2 = nullptr;
  QPushButton* Command4 = nullptr;
  PictureBox* Picture1 = nullptr;
  ScrollBar* HScroll1 = nullptr;
  QTimer* Timer1 = nullptr;
  QPushButton* Command3 = nullptr;
  QPushButton* Command2 = nullptr;
  QPushButton* Command1 = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label1 = nullptr;
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
  void create_menu();
  void fix_client_size();
  void centre_on_screen();

  Layout layout_;
  QPointer<QWidget> focus_parked_on_;
};

}  // namespace window
