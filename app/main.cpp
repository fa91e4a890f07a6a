// Program entry: the application, the main window and the progress dialog,
// then the event loop. The exit code is 0 on every path.
#include <QApplication>
#include <QTimer>

#include "app/errors.h"
#include "app/form1.h"
#include "app/form2.h"

int main(int argc, char** argv) {
  int unusedArgc = argc > 0 ? 1 : 0;  // the tool takes nothing from the command line
  try {
    QApplication application(unusedArgc, argv);
    try {
      app::Form1 = new app::TForm1();
      app::Form2 = new app::TForm2();
      // The main window is shown from inside the running loop, so that a
      // failed start-up can end the loop it is in.
      QTimer::singleShot(0, app::Form1, [] { app::Form1->show(); });
      QApplication::exec();
    } catch (const std::exception&) {
      app::ShowException(std::current_exception());
    } catch (...) {
      app::ShowMessage(QString());
    }
    delete app::Form2;
    app::Form2 = nullptr;
    delete app::Form1;  // deactivates the endpoints before its controls go
    app::Form1 = nullptr;
  } catch (...) {
  }
  return 0;
}
