// The start-up bench's children: each tells on stdout when a step is done
// ("PHASE name time", in milliseconds of CLOCK_MONOTONIC, which the parent
// shares) and reports when the watched window has been shown and painted
// for the first time ("SHOWN time ready"), then ends its event loop.
// Header-only on Qt alone, so that the minimal window program links nothing
// of the tool.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <time.h>

#include <cstdio>
#include <functional>
#include <utility>

namespace bench {

inline double MonotonicMicros() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

inline void Phase(const char* what) {
  std::printf("PHASE %s %.3f\n", what, MonotonicMicros() / 1000);
  std::fflush(stdout);
}

class ShowWatch : public QObject {
 public:
  ShowWatch(QWidget* window, std::function<bool()> ready) : window_(window), ready_(std::move(ready)) {
    window->installEventFilter(this);
  }
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Show && !shown_) {
      shown_ = true;
      Phase("show-event");
      // Runs right after the show event (and its handler) is done.
      QTimer::singleShot(0, [this] {
        Phase("show-handled");
        Report();
      });
    }
    if (e->type() == QEvent::Paint && !painted_) {
      painted_ = true;
      QTimer::singleShot(0, [this] {
        Phase("first-paint");
        Report();
      });
    }
    return false;
  }

 private:
  void Report() {
    if (++steps_ < 2 || reported_) return;
    reported_ = true;
    std::printf("SHOWN %.3f %d\n", MonotonicMicros(), ready_() ? 1 : 0);
    std::fflush(stdout);
    window_->removeEventFilter(this);
    QCoreApplication::quit();
  }
  QWidget* window_;
  std::function<bool()> ready_;
  bool shown_ = false, painted_ = false, reported_ = false;
  int steps_ = 0;  // how many of the two steps (show handled, first paint) are done
};

}  // namespace bench
