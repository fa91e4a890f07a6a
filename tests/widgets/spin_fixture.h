// A shown, active window holding the server-port spin edit (1..65535,
// 60110, 140 x 24 on a 15-pixel font) and a plain edit to move the focus to.
#pragma once

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

#include "widgets/cspin_edit.h"

// The main window's font size: characters 15 pixels high.
inline QFont FifteenPixelFont() {
  QFont f(QStringLiteral("DejaVu Sans"));
  f.setPixelSize(15);
  return f;
}

class SpinWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = std::make_unique<QWidget>();
    window_->resize(400, 320);
    other_ = new QLineEdit(window_.get());
    other_->setGeometry(10, 10, 100, 23);
    spin_ = new TCSpinEdit(window_.get());
    spin_->setFont(FifteenPixelFont());
    spin_->setGeometry(231, 277, 140, 24);
    spin_->setMaxValue(65535);
    spin_->setMinValue(1);
    spin_->SetValue(60110);
    window_->show();
    window_->activateWindow();
    QApplication::setActiveWindow(window_.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    other_->setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(other_->hasFocus());
  }
  void TearDown() override { window_.reset(); }

  // Focus into the spin edit the way a program does it (text gets selected).
  void Enter() {
    spin_->setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(spin_->hasFocus());
  }
  void Leave() {
    other_->setFocus(Qt::OtherFocusReason);
    ASSERT_FALSE(spin_->hasFocus());
  }
  // Replace the whole text by typing.
  void Type(const QString& s) {
    spin_->selectAll();
    QTest::keyClicks(spin_, s);
  }

  std::unique_ptr<QWidget> window_;
  QLineEdit* other_ = nullptr;
  TCSpinEdit* spin_ = nullptr;
};
