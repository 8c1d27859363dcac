// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/form1.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <type_traits>
#include <utility>
#include <vector>

#include "window/accessibility.h"
#include "window/fonts.h"
#include "window/icon.h"
#include "window/scroll_bar.h"

namespace window {
namespace {

// The outer size start-up gives the window when the edition asks for it, in twips.
constexpr double kOuterWidthTwips = 11980.8;
constexpr double kOuterHeightTwips = 7488;
constexpr int kTimerInterval = 100;
const QColor kWindowColour(192, 192, 192);

int pixels(double twips) { return static_cast<int>(std::lround(twips / kTwipsPerPixel)); }

QRect pixel_rect(const ControlSpec& spec) {
  return QRect(pixels(spec.left), pixels(spec.top), pixels(spec.width), pixels(spec.height));
}

// A control of its class from its table row: the text box, buttons, frame and options
// take the caption as it is; the panes, the scroll bar and the labels follow.
template <class Widget>
Widget* make(const ControlSpec& spec, QWidget* parent) {
  return new Widget(spec.caption, parent);
}

// Return and keypad Enter press a focused push button as Space does. Qt leaves them to a
// dialog's default button, and this window is no dialog: without this they did nothing.
class EnterPressesButton : public QObject {
 public:
  explicit EnterPressesButton(QPushButton* button) : QObject(button) {
    button->installEventFilter(this);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) return false;
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
    // A held key presses once, as a held Space does.
    if (!key->isAutoRepeat()) static_cast<QPushButton*>(watched)->click();
    return true;
  }
};

template <>
QPushButton* make(const ControlSpec& spec, QWidget* parent) {
  auto* button = new QPushButton(spec.caption, parent);
  new EnterPressesButton(button);
  return button;
}

template <>
PictureBox* make(const ControlSpec& spec, QWidget* parent) {
  return new PictureBox(spec.background.value_or(Qt::white), parent);
}

template <>
ScrollBar* make(const ControlSpec&, QWidget* parent) {
  auto* bar = new ScrollBar(parent);
  bar->setRange(0, 32767);  // until a clip's length sets the maximum
  bar->setSingleStep(1);
  bar->setPageStep(1);
  bar->setFocusPolicy(Qt::TabFocus);
  return bar;
}

template <>
QLabel* make(const ControlSpec& spec, QWidget* parent) {
  auto* label = new QLabel(spec.caption, parent);
  label->setTextFormat(Qt::PlainText);  // a path is never markup
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  // A label only shows text: where its box overlaps a control ("送りコマ数" runs into
  // the frames-per-strip box), clicks must reach the control under it.
  label->setAttribute(Qt::WA_TransparentForMouseEvents);
  return label;
}

void place(QWidget* control, const ControlSpec& spec) {
  const QRect rect = pixel_rect(spec);
  control->move(rect.topLeft());
  if (auto* pane = qobject_cast<PictureBox*>(control)) {
    pane->set_pane_size(rect.width(), rect.height());
  } else {
    control->resize(rect.size());
  }
  if (spec.font_points) control->setFont(label_font(*spec.font_points));
}

}  // namespace

QString control_name(Control control) {
  switch (control) {
#define VELMORA_CONTROL_NAME(Class, name, ...) \
  case Control::name:                     \
    return QStringLiteral(#name);
    VELMORA_FORM1_CONTROLS(VELMORA_CONTROL_NAME)
#undef VELMORA_CONTROL_NAME
  }
  return QString();
}

namespace {

// The control's accessible name and description from the list; empty where its caption
// names it.
std::pair<QString, QString> accessible_text(Control control) {
  switch (control) {
#define VELMORA_ACCESSIBLE_TEXT(Class, name, accessible, description) \
  case Control::name:                                                \
    return {QStringLiteral(accessible), QStringLiteral(description)};
    VELMORA_FORM1_CONTROLS(VELMORA_ACCESSIBLE_TEXT)
#undef VELMORA_ACCESSIBLE_TEXT
  }
  return {};
}

}  // namespace

Form1::Form1(const Layout& layout) : layout_(layout) {
  setWindowTitle(layout_.caption);
  setWindowIcon(QIcon(QPixmap::fromImage(app_icon_image())));
  setFont(ui_font());

  auto* client = new QWidget(this);
  client->setObjectName("client");
  QPalette palette = client->palette();
  palette.setColor(QPalette::Window, kWindowColour);
  client->setPalette(palette);
  client->setAutoFillBackground(true);
  client->setFixedSize(pixels(layout_.client_width), pixels(layout_.client_height));
  setCentralWidget(client);

  create_controls(client);
  create_menu();
  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");

  if (Option1 != nullptr) Option1->setChecked(true);
  if (Option1 != nullptr) connect(Option1, &QRadioButton::clicked, this, &Form1::Option1_Click);
  if (Option2 != nullptr) connect(Option2, &QRadioButton::clicked, this, &Form1::Option2_Click);
  fix_client_size();
}

Form1::~Form1() = default;

void Form1::create_controls(QWidget* client) {
  std::vector<std::pair<int, QWidget*>> focus_order;
  for (const ControlSpec& spec : layout_.controls) {
    QWidget* control = create_control(spec, client);
    control->setObjectName(control_name(spec.control));
    const auto [name, description] = accessible_text(spec.control);
    name_for_screen_readers(*control, name, description);
    place(control, spec);
    // Labels, frames and panes take no focus; the toolkit leaves them out of the chain.
    if (control->focusPolicy() != Qt::NoFocus) focus_order.emplace_back(spec.tab, control);
  }
  std::stable_sort(focus_order.begin(), focus_order.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (size_t i = 1; i < focus_order.size(); ++i)
    setTabOrder(focus_order[i - 1].second, focus_order[i].second);
  // A screen reader reads the caption beside the frame-count box as its label.
  if (Label4 != nullptr && Text1 != nullptr) Label4->setBuddy(Text1);
}

template <class Widget>
Widget* Form1::create(Widget*& member, const ControlSpec& spec, QWidget* client) {
  // Options lie inside the frame, and the table makes the frame before them.
  QWidget* parent = client;
  if (std::is_same_v<Widget, QRadioButton> && Frame1 != nullptr) parent = Frame1;
  member = make<Widget>(spec, parent);
  return member;
}

// Makes the control of the row's class and puts it in the member of its name.
QWidget* Form1::create_control(const ControlSpec& spec, QWidget* client) {
  switch (spec.control) {
#define VELMORA_CREATE_CONTROL(Class, name, ...) \
  case Control::name:                       \
    return create(name, spec, client);
    VELMORA_FORM1_CONTROLS(VELMORA_CREATE_CONTROL)
#undef VELMORA_CREATE_CONTROL
  }
  return nullptr;
}

void Form1::create_menu() {
  mnufile = menuBar()->addMenu(QStringLiteral("ﾌｧｲﾙ（&F）"));
  mnufile->setObjectName("mnufile");
  mnuopen = mnufile->addAction(QStringLiteral("開く(&O)"));
  mnuopen->setObjectName("mnuopen");
  mnuclose = mnufile->addAction(QStringLiteral("閉じる(&C)"));
  mnuclose->setObjectName("mnuclose");
  mnuend = mnufile->addAction(QStringLiteral("終了(&X)"));
  mnuend->setObjectName("mnuend");
}

// The client area keeps the size its table gives it under the menu bar; the frame is the
// window system's, and nothing reacts to a change of size, so the window is not resizable.
void Form1::fix_client_size() {
  const QSize client = centralWidget()->size();
  setFixedSize(client.width(), client.height() + menuBar()->sizeHint().height());
}

void Form1::startup() {
  if (layout_.sizes_and_centres) centre_on_screen();
  // The capture and composite panes take the video pane's size, so that one pixel
  // coordinate serves all three; the y pick strip takes its height.
  Picture1->set_pane_size(320, 240);
  Picture2->set_pane_size(Picture1->width(), Picture1->height());
  Picture3->set_pane_size(Picture1->width(), Picture1->height());
  Picture5->set_pane_size(Picture5->width(), Picture1->height());
  Picture5->hide();  // the vertical cut comes first, picked on Picture4
  cmd_enabled(false, false);
  set_enabled(CmdGosei, false);
  set_enabled(Cmd_Reserve, false);
  set_enabled(Cmd_back, false);
  Timer1->setInterval(kTimerInterval);
  Timer1->stop();
}

// Centres the edition's outer size, worked out in twips with real division and rounded to
// pixels once at the end; a screen smaller than the window gives a negative place, which
// is kept.
void Form1::centre_on_screen() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->geometry();
  const double left = (area.width() * double(kTwipsPerPixel) - kOuterWidthTwips) / 2;
  const double top = (area.height() * double(kTwipsPerPixel) - kOuterHeightTwips) / 2;
  move(area.x() + pixels(left), area.y() + pixels(top));
}

void Form1::cmd_enabled(bool play, bool transport) {
  set_enabled(Command1, play);
  set_enabled(Command2, transport);
  set_enabled(Command3, transport);
  set_enabled(Command4, transport);
  set_enabled(CmdGosei, true);
  set_enabled(Command6, transport);
  set_enabled(HScroll1, transport);
}

void Form1::set_enabled(QWidget* control, bool enabled) {
  if (control == nullptr) return;
  QWidget* window = control->window();
  if (!enabled && window->focusWidget() == control) {
    // Qt would pass the focus on to the next control, which may be the exit button: a key
    // meant for this one would then end the program.
    control->clearFocus();
    focus_parked_on_ = control;
  }
  control->setEnabled(enabled);
  if (enabled && focus_parked_on_ == control) {
    focus_parked_on_ = nullptr;
    // Back to the control that had it, unless the user has put the focus elsewhere since.
    if (window->focusWidget() == nullptr) control->setFocus(Qt::OtherFocusReason);
  }
}

void Form1::show_message(const QString& text, int style) const {
  message_box(text, style, app_title());
}

void Form1::Option1_Click() {
  if (Picture5 != nullptr) Picture5->hide();
  if (Picture4 != nullptr) Picture4->show();
}

void Form1::Option2_Click() {
  if (Picture4 != nullptr) Picture4->hide();
  if (Picture5 != nullptr) Picture5->show();
}

void Form1::closeEvent(QCloseEvent* event) {
  event->accept();
  emit unloading();
}

}  // namespace window
