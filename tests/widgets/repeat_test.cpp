// Arrow auto-repeat on the real timers. Steps are counted against the
// repeat timer's own expiries, and times only from below (a timer never
// fires before its interval, less the 5 % a coarse timer may take), so the
// checks hold however late a loaded machine lets the timers fire.
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include <stdexcept>
#include <vector>

#include "spin_fixture.h"

namespace {

constexpr int kWaitMs = 20000;  // for outcomes; never a bound on how fast
// The arrow's pauses as the user knows them, written here rather than taken
// from the widget, so a changed constant cannot pass unnoticed.
constexpr int kFirstRepeatMs = 400;
constexpr int kRepeatMs = 100;

class RepeatTest : public SpinWindowTest {
 protected:
  void SetUp() override {
    SpinWindowTest::SetUp();
    spin_->SetValue(100);
    up_ = spin_->Button()->UpButton();
  }
  int Steps() const { return spin_->text().toInt() - 100; }

  // Presses the arrow and from then on records, at each expiry of the repeat
  // timer, the time since the press and the steps made so far (recorded
  // after the arrow has handled the expiry).
  void PressAndWatch(Qt::MouseButton button = Qt::LeftButton) {
    clock_.start();
    QTest::mousePress(up_, button);
    ASSERT_NE(up_->RepeatTimer(), nullptr);
    QObject::connect(up_->RepeatTimer(), &QTimer::timeout, up_, [this] {
      expiries_.push_back({clock_.elapsed(), Steps()});
    });
  }
  bool WaitForExpiries(std::size_t n) {
    return QTest::qWaitFor([&] { return expiries_.size() >= n; }, kWaitMs);
  }

  struct Expiry {
    qint64 atMs;
    int steps;
  };
  TTimerSpeedButton* up_ = nullptr;
  QElapsedTimer clock_;
  std::vector<Expiry> expiries_;
};

TEST_F(RepeatTest, HoldingStepsAfterThePauseThenRepeatedly) {
  PressAndWatch();
  EXPECT_TRUE(up_->RepeatTimer()->isActive());
  EXPECT_EQ(up_->RepeatTimer()->interval(), kFirstRepeatMs);
  EXPECT_EQ(Steps(), 0) << "the press itself does not step";
  ASSERT_TRUE(WaitForExpiries(4));
  EXPECT_TRUE(up_->isDown());
  QTest::mouseRelease(up_, Qt::LeftButton);
  const int held = static_cast<int>(expiries_.size());
  EXPECT_EQ(Steps(), held + 1) << "one step per expiry, and the release over the arrow adds one";

  // The first step only after the first pause, then one per expiry of the
  // shorter repeat pause.
  EXPECT_GE(expiries_[0].atMs, kFirstRepeatMs * 95 / 100);
  for (std::size_t i = 0; i < expiries_.size(); ++i)
    EXPECT_EQ(expiries_[i].steps, static_cast<int>(i) + 1) << "expiry " << i;
  EXPECT_EQ(up_->RepeatTimer()->interval(), kRepeatMs);

  EXPECT_FALSE(up_->RepeatTimer()->isActive());
  QTest::qWait(300);
  EXPECT_EQ(Steps(), held + 1) << "no steps after release";
  EXPECT_EQ(expiries_.size(), static_cast<std::size_t>(held));
}

TEST_F(RepeatTest, ShortClickStepsOnceAtRelease) {
  PressAndWatch();
  EXPECT_EQ(Steps(), 0) << "the press itself does not step";
  QTest::mouseRelease(up_, Qt::LeftButton);
  // Normally no expiry comes between press and release; if a loaded machine
  // held the release back that long, each expiry stepped once.
  const int expired = static_cast<int>(expiries_.size());
  EXPECT_EQ(Steps(), expired + 1) << "the release steps once";
  EXPECT_FALSE(up_->RepeatTimer()->isActive());
  QTest::qWait(600);
  EXPECT_EQ(Steps(), expired + 1) << "nothing after the release";
}

TEST_F(RepeatTest, PointerOffTheArrowPausesTheSteps) {
  PressAndWatch();
  QTest::mouseMove(up_, QPoint(-30, -30));  // still holding the button
  EXPECT_FALSE(up_->isDown());
  ASSERT_TRUE(WaitForExpiries(3));
  EXPECT_EQ(Steps(), 0) << "expiries away from the arrow do not step";
  EXPECT_TRUE(up_->RepeatTimer()->isActive()) << "paused, not stopped";
  QTest::mouseMove(up_, QPoint(5, 4));
  EXPECT_TRUE(up_->isDown());
  const std::size_t back = expiries_.size();
  ASSERT_TRUE(WaitForExpiries(back + 2));
  QTest::mouseRelease(up_, Qt::LeftButton);
  const int resumed = static_cast<int>(expiries_.size() - back);
  EXPECT_EQ(Steps(), resumed + 1) << "one step per expiry over the arrow, one at the release";

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
  PressAndWatch();
  ASSERT_TRUE(QTest::qWaitFor([&] { return clicks >= 1; }, kWaitMs));
  EXPECT_FALSE(up_->RepeatTimer()->isActive()) << "the first failing repeat stops the timer";
  QTest::qWait(300);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(expiries_.size(), 1u);
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
  PressAndWatch();
  QDialog modal(window_.get());
  modal.setModal(true);
  modal.show();
  EXPECT_FALSE(up_->RepeatTimer()->isActive()) << "the modal window ends the repeat as it opens";
  EXPECT_FALSE(up_->isDown());
  QTest::qWait(2 * kFirstRepeatMs);
  EXPECT_TRUE(expiries_.empty());
  EXPECT_EQ(Steps(), 0);
  modal.hide();
}

}  // namespace
