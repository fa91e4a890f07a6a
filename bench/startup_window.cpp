// The start-up bench's references, in a program of their own that links Qt
// alone, so that they pay none of the tool's loading and static
// initialisers:
//   startup_window             a bare window;
//   startup_window TEXTS       (the floor) a window showing the main
//                              window's texts in its faces at their places,
//                              as plain labels, from a file the bench wrote.
// Both report as the tool's child does (show_watch.h).
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <cstdlib>

#include "bench/show_watch.h"

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  bench::Phase("main");
  const char* texts = argc > 1 ? argv[1] : nullptr;
  int qtArgc = 1;
  QApplication application(qtArgc, argv);
  bench::Phase("application");
  auto* window = new QWidget();
  window->setWindowTitle(QStringLiteral("window"));
  window->resize(548, 434);
  if (texts) {
    QFile file(QString::fromLocal8Bit(texts));
    if (!file.open(QIODevice::ReadOnly)) return 1;
    while (!file.atEnd()) {
      const QStringList fields = QString::fromUtf8(file.readLine()).chopped(1).split(QLatin1Char('\t'));
      if (fields.size() != 7) continue;
      QFont font(fields[5]);
      font.setPixelSize(fields[4].toInt());
      auto* label = new QLabel(fields[6], window);
      label->setFont(font);
      label->setGeometry(fields[0].toInt(), fields[1].toInt(), fields[2].toInt(), fields[3].toInt());
    }
  }
  bench::ShowWatch watch(window, [] { return true; });
  QTimer::singleShot(0, window, [window] { window->show(); });
  QTimer::singleShot(10000, [] { QCoreApplication::quit(); });
  QApplication::exec();
  delete window;
  return 0;
}
