// Watchdog for modal boxes nobody waits for. A widget test that opens a
// message box where none is expected would otherwise sit in the box's modal
// loop until the whole program is killed, naming no test. A timer on the GUI
// thread (a modal loop keeps timers running) looks at the active modal
// widget; one that stays open longer than a short grace fails the running
// case with the box's title and text and is closed, so the case and the
// rest of the run go on.
//
// A test that holds a box open on purpose (its own closer acts later than
// the grace) says so with an ExpectModalBoxes in scope; such a box is then
// only closed after a long bound.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <string>

namespace orventest {

class ModalWatchdog : public ::testing::EmptyTestEventListener {
 public:
  static constexpr int kGraceMs = 2000;      // no box of a test's own closer stays this long
  static constexpr int kExpectedMs = 120000;  // a box a test holds on purpose
  static constexpr int kTickMs = 100;

  static ModalWatchdog& Instance() {
    static ModalWatchdog* watchdog = new ModalWatchdog;  // lives as long as the run
    return *watchdog;
  }

  // Starts the timer; call once the QApplication exists. Adds itself to
  // GoogleTest's listeners so that every case starts with a clean slate.
  static void Install() {
    ModalWatchdog& w = Instance();
    ::testing::UnitTest::GetInstance()->listeners().Append(&w);  // GoogleTest owns it from here
    w.timer_ = new QTimer(qApp);
    w.timer_->setInterval(kTickMs);
    QObject::connect(w.timer_, &QTimer::timeout, [&w] { w.Tick(); });
    w.timer_->start();
  }

  void OnTestStart(const ::testing::TestInfo&) override { failedThisCase_ = false; }

  int expected = 0;  // ExpectModalBoxes in scope

 private:
  static std::string Describe(QWidget* w) {
    QString text;
    if (auto* box = qobject_cast<QMessageBox*>(w)) text = box->text();
    return "'" + w->windowTitle().toStdString() + "' (" + w->metaObject()->className() + "): \"" +
           text.toStdString() + "\"";
  }

  static void Close(QWidget* w) {
    if (auto* dialog = qobject_cast<QDialog*>(w))
      dialog->done(QDialog::Rejected);
    else
      w->close();
  }

  void Tick() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal != seen_) {
      seen_ = modal;
      since_.start();
    }
    if (!modal) return;
    // After a first unexpected box in a case, later ones go at once: a fault
    // that opens one box per step must not cost the grace at every step.
    const int limit = expected > 0 ? kExpectedMs : (failedThisCase_ ? 0 : kGraceMs);
    if (since_.elapsed() < limit) return;
    const std::string what = Describe(modal);
    // Outside a case GoogleTest records the failure for the whole run.
    const ::testing::TestInfo* running = ::testing::UnitTest::GetInstance()->current_test_info();
    ADD_FAILURE() << "an unexpected modal box stayed open " << since_.elapsed() << " ms in "
                  << (running ? std::string(running->test_suite_name()) + "." + running->name()
                              : std::string("no test case"))
                  << ": " << what << "; closed by the watchdog";
    failedThisCase_ = true;
    seen_ = nullptr;
    Close(modal);
  }

  QTimer* timer_ = nullptr;
  QPointer<QWidget> seen_;
  QElapsedTimer since_;
  bool failedThisCase_ = false;
};

// While in scope, modal boxes are the test's own business (up to a long bound).
class ExpectModalBoxes {
 public:
  ExpectModalBoxes() { ++ModalWatchdog::Instance().expected; }
  ~ExpectModalBoxes() { --ModalWatchdog::Instance().expected; }
  ExpectModalBoxes(const ExpectModalBoxes&) = delete;
  ExpectModalBoxes& operator=(const ExpectModalBoxes&) = delete;
};

}  // namespace orventest
