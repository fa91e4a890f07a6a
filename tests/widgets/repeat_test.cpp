// Arrow auto-repeat on the real timers. The windows are wide on purpose: the
// test only needs to tell "no step yet", "a few steps" and "one more step".
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <stdexcept>

#include "spin_fixture.h"

namespace {

class RepeatTest : public SpinWindowTest {
 protected:
  void SetUp() override {
    SpinWindowTest::SetUp();
    spin_->SetValue(100);
    up_ = spin_->Button()->UpButton();
  }
  int Steps() const { return spin_->text().toInt() - 100; }
  TTimerSpeedButton* up_ = nullptr;
};

TEST_F(RepeatTest, HoldingStepsAfterThePauseThenRepeatedly) {
  QElapsedTimer clock;
  clock.start();
  QTest::mousePress(up_, Qt::LeftButton);
  ASSERT_NE(up_->RepeatTimer(), nullptr);
  EXPECT_TRUE(up_->RepeatTimer()->isActive());
  EXPECT_EQ(up_->RepeatTimer()->interval(), TTimerSpeedButton::kInitRepeatPause);
  QTest::qWait(250);
  if (clock.elapsed() < 380) {
    EXPECT_EQ(Steps(), 0) << "nothing before the first pause ends";
  }
  QTest::qWait(500);  // about 750 ms held: repeats at 400, 500, 600, 700
  const int held = Steps();
  EXPECT_GE(held, 1);
  EXPECT_LE(held, 6);
  EXPECT_EQ(up_->RepeatTimer()->interval(), TTimerSpeedButton::kRepeatPause);
  EXPECT_TRUE(up_->isDown());
  QTest::mouseRelease(up_, Qt::LeftButton);
  EXPECT_EQ(Steps(), held + 1) << "release over the arrow adds one step";
  EXPECT_FALSE(up_->RepeatTimer()->isActive());
  QTest::qWait(300);
  EXPECT_EQ(Steps(), held + 1) << "no steps after release";
}

TEST_F(RepeatTest, ShortClickStepsOnceAtRelease) {
  QElapsedTimer clock;
  clock.start();
  QTest::mousePress(up_, Qt::LeftButton);
  EXPECT_EQ(Steps(), 0) << "the press itself does not step";
  QTest::mouseRelease(up_, Qt::LeftButton);
  const bool quick = clock.elapsed() < 380;
  EXPECT_EQ(Steps(), quick ? 1 : Steps());
  EXPECT_FALSE(up_->RepeatTimer()->isActive());
  QTest::qWait(600);
  if (quick) {
    EXPECT_EQ(Steps(), 1);
  }
}

TEST_F(RepeatTest, PointerOffTheArrowPausesTheSteps) {
  QTest::mousePress(up_, Qt::LeftButton);
  QTest::mouseMove(up_, QPoint(-30, -30));  // still holding the button
  EXPECT_FALSE(up_->isDown());
  QTest::qWait(600);
  EXPECT_EQ(Steps(), 0);
  EXPECT_TRUE(up_->RepeatTimer()->isActive()) << "paused, not stopped";
  QTest::mouseMove(up_, QPoint(5, 4));
  EXPECT_TRUE(up_->isDown());
  QTest::qWait(350);
  const int resumed = Steps();
  EXPECT_GE(resumed, 1);
  QTest::mouseRelease(up_, Qt::LeftButton);
  EXPECT_EQ(Steps(), resumed + 1);

  // Released away from the arrow: no final step.
  QTest::mousePress(up_, Qt::LeftButton);
  QTest::mouseMove(up_, QPoint(-30, -30));
  QTest::mouseRelease(up_, Qt::LeftButton, {}, QPoint(-30, -30));
  EXPECT_EQ(Steps(), resumed + 1);
  EXPECT_FALSE(up_->RepeatTimer()->isActive());
}

TEST_F(RepeatTest, OtherMouseButtonsDoNotStep) {
  QTest::mousePress(up_, Qt::RightButton);
  QTest::qWait(600);
  QTest::mouseRelease(up_, Qt::RightButton);
  EXPECT_EQ(Steps(), 0);
  EXPECT_FALSE(up_->RepeatTimer()->isActive());
}

TEST_F(RepeatTest, FailingClickStopsTheRepeatAndIsReported) {
  std::vector<std::string> reported;
  widgets::SetExceptionHandler([&](std::exception_ptr p) {
    try {
      std::rethrow_exception(p);
    } catch (const std::exception& e) {
      reported.push_back(e.what());
    }
  });
  int clicks = 0;
  spin_->Button()->setOnUpClick([&](QObject*) {
    ++clicks;
    throw std::runtime_error("boom");
  });
  QTest::mousePress(up_, Qt::LeftButton);
  QTest::qWait(800);
  EXPECT_EQ(clicks, 1) << "the first failing repeat stops the timer";
  EXPECT_FALSE(up_->RepeatTimer()->isActive());
  QTest::mouseRelease(up_, Qt::LeftButton);
  EXPECT_EQ(clicks, 1) << "the abandoned press does not click at release";
  EXPECT_EQ(reported, (std::vector<std::string>{"boom"}));
  widgets::SetExceptionHandler({});

  // The next press works normally again.
  spin_->Button()->setOnUpClick([&](QObject*) { ++clicks; });
  QTest::mouseClick(up_, Qt::LeftButton);
  EXPECT_EQ(clicks, 2);
}

TEST_F(RepeatTest, ModalWindowOverTheFieldEndsTheRepeat) {
  QTest::mousePress(up_, Qt::LeftButton);
  QDialog modal(window_.get());
  modal.setModal(true);
  modal.show();
  QTest::qWait(700);
  EXPECT_EQ(Steps(), 0);
  EXPECT_FALSE(up_->RepeatTimer()->isActive());
  EXPECT_FALSE(up_->isDown());
  modal.hide();
}

}  // namespace
