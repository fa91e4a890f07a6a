#include "app/errors.h"

#include <QApplication>
#include <QMessageBox>

namespace app {

namespace {

QString g_title;
int g_messages = 0;

// The innermost non-empty message of a chain of nested exceptions.
QString InnermostMessage(const std::exception& e) {
  QString message = QString::fromUtf8(e.what());
  try {
    std::rethrow_if_nested(e);
  } catch (const std::exception& inner) {
    const QString innerMessage = InnermostMessage(inner);
    if (!innerMessage.isEmpty()) message = innerMessage;
  } catch (...) {
  }
  return message;
}

}  // namespace

QString ApplicationTitle() {
  return g_title.isEmpty() ? QCoreApplication::applicationName() : g_title;
}

void SetApplicationTitle(const QString& title) { g_title = title; }

QString DisplayText(const QString& message) {
  QString text = message;
  if (!text.isEmpty() && text.back().unicode() > u'.') text += u'.';
  return text;
}

QString DisplayText(const std::exception& e) { return DisplayText(InnermostMessage(e)); }

void ShowMessage(const QString& text) {
  ++g_messages;
  QMessageBox box(QMessageBox::Critical, ApplicationTitle(), text, QMessageBox::Ok,
                  QApplication::activeWindow());
  // Texts may come from the network: never interpret them as rich text.
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

void ShowException(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const EAbort&) {
  } catch (const std::exception& e) {
    ShowMessage(DisplayText(e));
  } catch (...) {
    ShowMessage(QString());
  }
}

int MessagesShown() { return g_messages; }

}  // namespace app
