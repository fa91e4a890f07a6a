#include "widgets/feedback.h"

#include <QApplication>
#include <QtDebug>

namespace widgets {
namespace {
int gBeepCount = 0;
ExceptionHandler& Handler() {
  static ExceptionHandler handler;
  return handler;
}
}  // namespace

void Beep() {
  ++gBeepCount;
  QApplication::beep();
}

int BeepCount() { return gBeepCount; }

void SetExceptionHandler(ExceptionHandler handler) { Handler() = std::move(handler); }

void ReportException(std::exception_ptr error) {
  if (ExceptionHandler& handler = Handler()) {
    handler(error);
    return;
  }
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    qWarning("spin edit: unhandled error in an arrow click: %s", e.what());
  } catch (...) {
    qWarning("spin edit: unhandled error in an arrow click");
  }
}

}  // namespace widgets
