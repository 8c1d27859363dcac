// SPDX-License-Identifier: GPL-3.0-or-later
// The windows of both editions as built from their layout tables: places, captions, fonts,
// focus order, the menu and the icon.
#include <QAction>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QScreen>

#include "tests/gui/window_fixture.h"
#include "window/captions.h"
#include "window/icon.h"

namespace velmora_test {
namespace {

using LayoutOfVelmora6 = Velmora6Window;
using Layout = EditionWindow;
VELMORA_FOR_BOTH_EDITIONS(Layout);

QRect rect_of(const QWidget* control) { return control->geometry(); }

TEST_P(Layout, PanesStandWhereTheOtherHandlersExpectThem) {
  EXPECT_EQ(form->centralWidget()->size(), edition().client);
  EXPECT_EQ(rect_of(form->Picture1), edition().picture1);
  EXPECT_EQ(rect_of(form->Picture2), edition().picture2);
  EXPECT_EQ(rect_of(form->Picture3), edition().picture3);
  EXPECT_EQ(rect_of(form->Picture4), edition().picture4);
  EXPECT_EQ(rect_of(form->Picture5), edition().picture5);
  // The image is what handlers read: it must have the pane's size.
  for (auto* pane :
       {form->Picture1, form->Picture2, form->Picture3, form->Picture4, form->Picture5}) {
    EXPECT_EQ(QSize(pane->scale_width(), pane->scale_height()), pane->size())
        << pane->objectName().toStdString();
  }
  // One pixel coordinate serves the video, the strips, the capture and the composite.
  EXPECT_EQ(form->Picture4->x(), form->Picture1->x());
  EXPECT_EQ(form->Picture4->width(), form->Picture1->width());
  EXPECT_EQ(form->Picture5->y(), form->Picture1->y());
  EXPECT_EQ(form->Picture5->height(), form->Picture1->height());
}

TEST_F(LayoutOfVelmora6, PickStripsTouchTheVideoPane) {
  EXPECT_EQ(form->Picture4->y(), form->Picture1->geometry().bottom() + 1);
  EXPECT_EQ(form->Picture5->x(), form->Picture1->geometry().right() + 1);
}

TEST_P(Layout, CapturePaneLiesOutOfViewYetIsShownAndReadable) {
  form->show();
  ASSERT_TRUE(wait_until([&] { return form->isVisible(); }));
  EXPECT_GE(form->Picture2->y(), form->centralWidget()->height());
  EXPECT_TRUE(form->Picture2->isVisible());
  form->Picture2->set_pixel(5, 7, qRgb(10, 20, 30));
  EXPECT_EQ(form->Picture2->pixel(5, 7), qRgb(10, 20, 30));
  form->hide();
}

TEST_F(LayoutOfVelmora6, ControlsTakeTheirTwipGeometryInPixels) {
  // Twips / 15, rounded: 492 twips make 33 pixels, 1932 make 129.
  EXPECT_EQ(rect_of(form->Cmd_End), QRect(648, 400, 89, 33));
  EXPECT_EQ(rect_of(form->HScroll1), QRect(456, 336, 129, 17));
  EXPECT_EQ(rect_of(form->Text1), QRect(720, 296, 33, 18));
  EXPECT_EQ(rect_of(form->Label2), QRect(496, 408, 65, 33));
  // Options are placed inside their frame.
  EXPECT_EQ(form->Option1->parentWidget(), form->Frame1);
  EXPECT_EQ(form->Option2->parentWidget(), form->Frame1);
  EXPECT_EQ(rect_of(form->Option1), QRect(16, 32, 81, 17));
  EXPECT_EQ(rect_of(form->Option2), QRect(96, 24, 73, 33));
  EXPECT_EQ(rect_of(form->Frame1), QRect(80, 352, 185, 73));
}

TEST_P(Layout, CaptionsAreTheWindowsOwnTexts) {
  EXPECT_EQ(form->windowTitle(), edition().caption);
  EXPECT_EQ(form->app_title(), QString::fromStdString(edition().title));
  const std::vector<std::pair<QPushButton*, QString>> buttons{
      {form->Cmd_Reserve, "巻き戻し"},        {form->Cmd_End, "終了"},
      {form->CmdGosei, "切り取り画像の作成"}, {form->Command6, "画像消去"},
      {form->Command4, "コマ戻し"},           {form->Command3, "コマ送り"},
      {form->Command2, "一時停止"},           {form->Command1, "再生"}};
  for (const auto& [button, caption] : buttons) {
    ASSERT_NE(button, nullptr) << caption.toStdString();
    EXPECT_EQ(button->text(), caption);
  }
  EXPECT_EQ(form->Frame1->title(), "切り取る方向");
  EXPECT_EQ(form->Option1->text(), "垂直方向");
  EXPECT_EQ(form->Option2->text(), "水平方向");
  EXPECT_EQ(form->Label3->text(), "切り取り範囲指定領域（マウスで２箇所クリック）");
  EXPECT_TRUE(form->Label2->text().isEmpty());
  EXPECT_TRUE(form->Label1->text().isEmpty());
}

TEST_F(LayoutOfVelmora6, FramesPerStripControlsAndBackButton) {
  EXPECT_EQ(form->Cmd_back->text(), "1画面前に戻る");
  EXPECT_EQ(form->Text1->text(), "1");
  EXPECT_EQ(form->Label4->text(), "送りコマ数");
}

TEST_P(Layout, MenuHasItsAccessKeysAndNoShortcuts) {
  const auto bar_menus = form->menuBar()->actions();
  ASSERT_EQ(bar_menus.size(), 1);
  EXPECT_EQ(bar_menus[0]->text(), QStringLiteral("ﾌｧｲﾙ（&F）"));
  const auto items = form->mnufile->actions();
  ASSERT_EQ(items.size(), 3);
  EXPECT_EQ(items[0], form->mnuopen);
  EXPECT_EQ(items[1], form->mnuclose);
  EXPECT_EQ(items[2], form->mnuend);
  EXPECT_EQ(form->mnuopen->text(), QStringLiteral("開く(&O)"));
  EXPECT_EQ(form->mnuclose->text(), QStringLiteral("閉じる(&C)"));
  EXPECT_EQ(form->mnuend->text(), QStringLiteral("終了(&X)"));
  for (QAction* item : items) {
    EXPECT_TRUE(item->shortcut().isEmpty());
    EXPECT_TRUE(item->isEnabled());
  }
}

// Where the Tab key goes from `from`: the next widget in the chain that takes focus by Tab.
QWidget* next_tab_stop(QWidget* from) {
  for (QWidget* w = from->nextInFocusChain(); w != from; w = w->nextInFocusChain())
    if (w->focusPolicy() & Qt::TabFocus) return w;
  return from;
}

TEST_P(Layout, FocusFollowsTheTabColumn) {
  // The controls that take focus, by their tab positions; the last two only where they are.
  std::vector<QWidget*> order{form->Command1,    form->Command2, form->Command3, form->HScroll1,
                              form->Command4,    form->Command6, form->CmdGosei, form->Cmd_End,
                              form->Cmd_Reserve, form->Option1,  form->Option2,  form->Cmd_back,
                              form->Text1};
  std::erase(order, nullptr);
  EXPECT_EQ(order.size(), edition().title == "velmora6" ? 13u : 11u);
  for (size_t i = 1; i < order.size(); ++i)
    EXPECT_EQ(next_tab_stop(order[i - 1]), order[i])
        << order[i - 1]->objectName().toStdString() << " is followed by "
        << next_tab_stop(order[i - 1])->objectName().toStdString();
}

TEST_P(Layout, ColoursOfWindowAndPanes) {
  EXPECT_EQ(form->centralWidget()->palette().color(QPalette::Window), QColor(192, 192, 192));
  EXPECT_TRUE(form->centralWidget()->autoFillBackground());
  EXPECT_EQ(form->Picture4->pixel(0, 0), edition().strip_colour);
  EXPECT_EQ(form->Picture5->pixel(24, 239), edition().strip_colour);
  for (auto* pane : {form->Picture1, form->Picture2, form->Picture3})
    EXPECT_EQ(pane->pixel(319, 239), qRgb(255, 255, 255));
}

// Every character of a caption must have a glyph in the face the control resolves to, or
// in the Japanese stand-in behind it: no caption may show boxes.
bool drawable(const QFont& font, const QString& caption) {
  const QFontMetrics primary(font);
  const QFontMetrics stand_in(QFont(QStringLiteral("IPAPGothic")));
  const bool behind = font.families().contains(QStringLiteral("IPAPGothic"));
  for (const QChar c : caption) {
    if (primary.inFont(c)) continue;
    if (!(behind && stand_in.inFont(c))) return false;
  }
  return true;
}

TEST_P(Layout, LabelFontIsTheJapaneseGothicOrItsStandIn) {
  ASSERT_TRUE(QFontDatabase::hasFamily(QStringLiteral("IPAPGothic")))
      << "fonts-ipafont-gothic is not installed";
  std::vector<QLabel*> labels{form->Label2, form->Label4};
  std::erase(labels, nullptr);
  for (QLabel* label : labels) {
    const QFont font = label->font();
    EXPECT_DOUBLE_EQ(font.pointSizeF(), edition().position_points);
    EXPECT_EQ(font.weight(), QFont::Normal);
    EXPECT_FALSE(font.italic() || font.underline() || font.strikeOut());
    ASSERT_FALSE(font.families().isEmpty());
    EXPECT_EQ(font.families().front(), QStringLiteral("ＭＳ Ｐゴシック"));
    const QString resolved = QFontInfo(font).family();
    EXPECT_TRUE(resolved == QStringLiteral("IPAPGothic") ||
                resolved == QStringLiteral("ＭＳ Ｐゴシック") || resolved == "MS PGothic")
        << resolved.toStdString();
  }
  EXPECT_TRUE(drawable(form->Label2->font(), "フレーム    0123456789"));
}

TEST_P(Layout, EveryCaptionHasGlyphs) {
  for (QWidget* control : form->findChildren<QWidget*>()) {
    QString caption;
    if (auto* b = qobject_cast<QPushButton*>(control)) caption = b->text();
    if (auto* r = qobject_cast<QRadioButton*>(control)) caption = r->text();
    if (auto* l = qobject_cast<QLabel*>(control)) caption = l->text();
    if (auto* g = qobject_cast<QGroupBox*>(control)) caption = g->title();
    EXPECT_TRUE(drawable(control->font(), caption)) << control->objectName().toStdString();
  }
  QString menu_texts = form->mnufile->title();
  for (QAction* item : form->mnufile->actions()) menu_texts += item->text();
  EXPECT_TRUE(drawable(form->menuBar()->font(), menu_texts.remove('&')));
}

TEST_P(Layout, IconIsSixteenColoursWithSixStringsInAnArch) {
  EXPECT_FALSE(form->windowIcon().isNull());
  const QImage icon = window::app_icon_image();
  ASSERT_EQ(icon.size(), QSize(32, 32));
  EXPECT_LE(icon.colorCount(), 16);
  EXPECT_EQ(icon.pixel(0, 31), qRgb(128, 128, 0));
  // Each string: black from the top edge down to its red square.
  std::vector<int> square_tops;
  for (int x = 0; x < 32; ++x) {
    if (icon.pixel(x, 0) != qRgb(0, 0, 0)) continue;
    int y = 0;
    while (y < 32 && icon.pixel(x, y) == qRgb(0, 0, 0)) ++y;
    ASSERT_LT(y, 32);
    EXPECT_EQ(icon.pixel(x, y), qRgb(255, 0, 0));
    if (icon.pixel(x - 1, 0) != qRgb(0, 0, 0)) square_tops.push_back(y);
  }
  ASSERT_EQ(square_tops.size(), 6u);
  const int highest = *std::min_element(square_tops.begin(), square_tops.end());
  EXPECT_TRUE(square_tops[2] == highest || square_tops[3] == highest);
  EXPECT_EQ(*std::max_element(square_tops.begin(), square_tops.end()), square_tops[5]);
  EXPECT_GT(square_tops[0], highest);
}

TEST_F(LayoutOfVelmora6, StartUpCentresTheOuterSizeOnTheScreen) {
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  // 11980.8 x 7488 twips is 798.72 x 499.2 pixels.
  const double left = (screen.width() - 798.72) / 2;
  const double top = (screen.height() - 499.2) / 2;
  EXPECT_NEAR(form->pos().x(), screen.x() + left, 0.5 + 1e-9);
  EXPECT_NEAR(form->pos().y(), screen.y() + top, 0.5 + 1e-9);
}

TEST(Captions, LineBreaksOfEveryKindShowAsOneBreak) {
  EXPECT_EQ(window::displayed_caption(QStringLiteral("フレーム\n\r    12")),
            QStringLiteral("フレーム\n    12"));
  EXPECT_EQ(window::displayed_caption("a\r\nb\rc\nd"), "a\nb\nc\nd");
  EXPECT_EQ(window::displayed_caption("a\n\nb"), "a\n\nb");
  EXPECT_EQ(window::displayed_caption("a\n\r\n\rb"), "a\n\nb");
  EXPECT_EQ(window::displayed_caption(""), "");
}

}  // namespace
}  // namespace velmora_test

namespace velmora_test {
namespace {

// The manual-advance window keeps the size its table gives it and the place it was given.
TEST(LayoutOfVelmora3, StartUpNeitherSizesNorMovesTheWindow) {
  window::Form1 form(editions::velmora3_layout());
  form.move(17, 23);
  const QSize outer = form.size();
  form.startup();
  EXPECT_EQ(form.pos(), QPoint(17, 23));
  EXPECT_EQ(form.size(), outer);
  EXPECT_EQ(form.centralWidget()->size(), QSize(927, 357));
  EXPECT_EQ(form.Text1, nullptr);
  EXPECT_EQ(form.Label4, nullptr);
  EXPECT_EQ(form.Cmd_back, nullptr);
}

TEST(LayoutOfVelmora3, ControlsStandInOneColumnAtTheLeft) {
  window::Form1 form(editions::velmora3_layout());
  form.startup();
  // Twips / 15, rounded: 1932 twips make 129 pixels, 492 make 33.
  EXPECT_EQ(form.Cmd_Reserve->geometry(), QRect(16, 40, 65, 33));
  EXPECT_EQ(form.Command2->geometry(), QRect(80, 40, 65, 33));
  EXPECT_EQ(form.Command1->geometry(), QRect(144, 40, 65, 33));
  EXPECT_EQ(form.HScroll1->geometry(), QRect(40, 88, 129, 17));
  EXPECT_EQ(form.Command4->geometry(), QRect(40, 120, 65, 33));
  EXPECT_EQ(form.Command3->geometry(), QRect(104, 120, 65, 33));
  EXPECT_EQ(form.CmdGosei->geometry(), QRect(40, 152, 129, 33));
  EXPECT_EQ(form.Command6->geometry(), QRect(40, 200, 129, 33));
  EXPECT_EQ(form.Cmd_End->geometry(), QRect(40, 232, 129, 33));
  EXPECT_EQ(form.Frame1->geometry(), QRect(8, 280, 185, 73));
  EXPECT_EQ(form.Option1->geometry(), QRect(16, 32, 81, 17));
  EXPECT_EQ(form.Label1->geometry(), QRect(24, 8, 265, 17));
  EXPECT_EQ(form.Label2->geometry(), QRect(360, 0, 65, 33));
  EXPECT_EQ(form.Label3->geometry(), QRect(264, 328, 249, 17));
  // The pick strips stand 8 pixels off the video pane.
  EXPECT_EQ(form.Picture4->y() - (form.Picture1->geometry().bottom() + 1), 8);
  EXPECT_EQ(form.Picture5->x() - (form.Picture1->geometry().right() + 1), 8);
  // The capture pane lies below the client area.
  EXPECT_GE(form.Picture2->y(), form.centralWidget()->height());
}

}  // namespace
}  // namespace velmora_test
