#include "app/gui_handover.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QThread>

namespace app {

namespace {
const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
}

GuiHandOver::GuiHandOver(QObject* parent)
    : QObject(parent), handOver_([this] { wake(); }) {
  if (auto* dispatcher = QAbstractEventDispatcher::instance(thread()))
    idle_ = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &GuiHandOver::drain,
                    Qt::DirectConnection);
}

GuiHandOver::~GuiHandOver() { disconnect(idle_); }

void GuiHandOver::wake() {
  if (!wakePosted_.exchange(true, std::memory_order_acq_rel))
    QCoreApplication::postEvent(this, new QEvent(kWakeEvent));
}

bool GuiHandOver::event(QEvent* e) {
  if (e->type() == kWakeEvent) {
    drain();
    return true;
  }
  return QObject::event(e);
}

void GuiHandOver::drain() {
  // Cleared before draining: a call queued after this point either is run by
  // this drain or posts a new wake-up.
  wakePosted_.store(false, std::memory_order_release);
  handOver_.drain();
}

}  // namespace app
