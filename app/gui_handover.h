// The GUI side of the hand-over: a receiving thread's wake-up posts this
// object an event; the GUI thread drains the queue when it handles that
// event (also inside modal loops such as an open message box) and whenever
// its event loop is about to go idle.
#pragma once

#include <QObject>

#include <atomic>

#include "net/handover.h"

namespace app {

class GuiHandOver : public QObject {
  Q_OBJECT
 public:
  explicit GuiHandOver(QObject* parent = nullptr);
  ~GuiHandOver() override;
  net::HandOver& handOver() { return handOver_; }

 protected:
  bool event(QEvent* e) override;

 private:
  void wake();
  void drain();
  net::HandOver handOver_;
  // Set while a wake-up event is on its way: one posted event serves any
  // number of datagrams queued before it is handled.
  std::atomic<bool> wakePosted_{false};
  QMetaObject::Connection idle_;
};

}  // namespace app
