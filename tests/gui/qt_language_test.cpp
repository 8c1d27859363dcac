// SPDX-License-Identifier: GPL-3.0-or-later
// Qt's own texts (the file dialog, the message boxes' buttons) follow the desktop's
// language when Qt has a translation for it, and stay English when it has none.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QTranslator>

#include "window/application.h"

namespace {

// The translations are installed into the application for one test only.
class QtLanguage : public ::testing::Test {
 protected:
  void TearDown() override {
    if (translator_ != nullptr) QCoreApplication::removeTranslator(translator_);
    delete translator_;
  }
  QTranslator* translator_ = nullptr;
};

TEST_F(QtLanguage, AJapaneseDesktopGetsQtsJapaneseTexts) {
  translator_ = window::install_qt_translations(QLocale(QLocale::Japanese, QLocale::Japan));
  ASSERT_NE(translator_, nullptr) << "Qt's Japanese translation is not installed";
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("velmora6"), QStringLiteral("."),
                  QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QStringLiteral("キャンセル"));
  QFileDialog dialog;
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("開く"));
  auto* look_in = dialog.findChild<QLabel*>(QStringLiteral("lookInLabel"));
  ASSERT_NE(look_in, nullptr);
  EXPECT_EQ(look_in->text(), QStringLiteral("アドレス:"));
}

TEST_F(QtLanguage, ALanguageQtDoesNotSpeakStaysEnglish) {
  translator_ = window::install_qt_translations(QLocale(QLocale::Swahili, QLocale::Kenya));
  EXPECT_EQ(translator_, nullptr);
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("velmora6"), QStringLiteral("."),
                  QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QStringLiteral("Cancel"));
}

}  // namespace
