// An arrow press of the spin edit interrupted by a message box: the box takes
// the mouse release, so the press must end there and the arrow must stop
// stepping.
#include <QMessageBox>
#include <QTimer>

#include "spin_fixture.h"

namespace {

// Shows a modal message box over the window, as the application's error
// display would show an error; the user clicks its OK button shortly after.
int gBoxes = 0;
void ShowBox(QWidget* parent) {
  ++gBoxes;
  QTimer::singleShot(50, parent, [] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
      QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
  });
  QMessageBox box(QMessageBox::Critical, QStringLiteral("error"), QStringLiteral("error"), QMessageBox::Ok,
                  parent);
  box.exec();
}

// Shows a box whenever the watched edit loses the focus (the empty device
// name's error does that).
class BoxOnLeave : public QObject {
 public:
  explicit BoxOnLeave(QWidget* window) : window_(window) {}
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::FocusOut) ShowBox(window_);
    return false;
  }

 private:
  QWidget* window_;
};

}  // namespace

class ArrowInterruptTest : public SpinWindowTest {
 protected:
  TTimerSpeedButton* Up() { return spin_->Button()->UpButton(); }
  // The arrow neither shows pressed nor repeats, and no step follows.
  void ExpectPressEnded(const char* when) {
    const QString value = spin_->text();
    QTest::qWait(900);  // past the first repeat and several more
    EXPECT_EQ(spin_->text(), value) << when;
    EXPECT_FALSE(Up()->isDown()) << when;
    EXPECT_FALSE(Up()->RepeatTimer() && Up()->RepeatTimer()->isActive()) << when;
    QTest::mouseRelease(Up(), Qt::LeftButton, {}, Up()->rect().center());
    EXPECT_EQ(spin_->text(), value) << when << ", at the release";
  }
};

TEST_F(ArrowInterruptTest, MessageBoxDuringThePressOrAStepEndsThePress) {
  // The press moves the focus into the field, and leaving the other edit
  // shows a box.
  BoxOnLeave filter(window_.get());
  other_->installEventFilter(&filter);
  gBoxes = 0;
  QTest::mousePress(Up(), Qt::LeftButton, {}, Up()->rect().center());
  EXPECT_EQ(gBoxes, 1);
  EXPECT_EQ(spin_->text(), "60110");
  ExpectPressEnded("box while the press moved the focus");
  other_->removeEventFilter(&filter);

  // The first repeated step's change handler shows a box.
  gBoxes = 0;
  const auto connection = QObject::connect(spin_, &QLineEdit::textChanged, [this] {
    if (gBoxes == 0) ShowBox(window_.get());
  });
  QTest::mousePress(Up(), Qt::LeftButton, {}, Up()->rect().center());
  ASSERT_TRUE(QTest::qWaitFor([] { return gBoxes == 1; }, 5000));
  ExpectPressEnded("box from a repeated step");
  EXPECT_EQ(spin_->text(), "60111");
  EXPECT_EQ(gBoxes, 1);
  QObject::disconnect(connection);

  // The arrow works as before afterwards.
  QTest::mouseClick(Up(), Qt::LeftButton, {}, Up()->rect().center());
  EXPECT_EQ(spin_->text(), "60112");
}
