// Start until the main window is shown with both receivers active, against a
// minimal Qt window program on the same platform plugin. The same executable
// plays the children ("--child-tool", "--child-window", and the floor
// "--child-window-text FILE"); the parent starts them alternately and takes
// the time from spawning the child to the moment the child reports
// (CLOCK_MONOTONIC is shared by all processes).
#include <QApplication>
#include <QAbstractButton>
#include <QFile>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <vector>
#include <string>

#include "app/form1.h"
#include "app/form2.h"
#include "bench/common.h"

extern char** environ;

namespace {

// The children tell on stdout when each step is done ("PHASE name time"),
// in milliseconds of CLOCK_MONOTONIC, which the parent shares.
void Phase(const char* what) {
  std::printf("PHASE %s %.3f\n", what, bench::NowMicros() / 1000);
  std::fflush(stdout);
}

// Reports the time once the watched window has been shown and painted for
// the first time ("SHOWN time ready"), then ends the program.
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
    std::printf("SHOWN %.3f %d\n", bench::NowMicros(), ready_() ? 1 : 0);
    std::fflush(stdout);
    window_->removeEventFilter(this);
    QCoreApplication::quit();
  }
  QWidget* window_;
  std::function<bool()> ready_;
  bool shown_ = false, painted_ = false, reported_ = false;
  int steps_ = 0;  // how many of the two steps (show handled, first paint) are done
};

int ChildTool(int argc, char** argv) {
  Phase("main");
  QApplication application(argc, argv);
  Phase("application");
  app::Form1 = new app::TForm1();
  Phase("Form1");
  app::Form2 = new app::TForm2();
  Phase("Form2");
  ShowWatch watch(app::Form1, [] {
    return app::Form1->UDPServer->Active() && app::Form1->IdIPMCastClient1->Active();
  });
  QTimer::singleShot(0, app::Form1, [] { app::Form1->show(); });
  QTimer::singleShot(10000, [] { QCoreApplication::quit(); });
  QApplication::exec();
  bench::StopApp();
  return 0;
}

// A bare window, or (with `texts`, a file written by CollectTexts) a window
// showing the main window's texts in its faces at their places, as plain
// labels: the texts the design fixes, without the tool.
int ChildWindow(int argc, char** argv, const char* texts) {
  Phase("main");
  QApplication application(argc, argv);
  Phase("application");
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
  ShowWatch watch(window, [] { return true; });
  QTimer::singleShot(0, window, [window] { window->show(); });
  QTimer::singleShot(10000, [] { QCoreApplication::quit(); });
  QApplication::exec();
  delete window;
  return 0;
}

// Builds a main window in this process and writes each text it shows at
// start-up (labels, the check box, the button) with its face, pixel size and
// place in the window to a file, one per line; returns the file's name.
std::string CollectTexts(const char* self) {
  int argc = 1;
  char* argv[] = {const_cast<char*>(self), nullptr};
  QApplication application(argc, argv);
  app::TForm1 form;
  char name[] = "/tmp/orven-bench-texts.XXXXXX";
  const int fd = ::mkstemp(name);
  if (fd < 0) return {};
  ::close(fd);
  QFile file(QString::fromLocal8Bit(name));
  if (!file.open(QIODevice::WriteOnly)) return {};
  for (QWidget* widget : form.findChildren<QWidget*>()) {
    QString text;
    if (auto* label = qobject_cast<QLabel*>(widget)) text = label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) text = button->text();
    if (text.isEmpty() || !widget->isVisibleTo(&form)) continue;
    const QPoint at = widget->mapTo(&form, QPoint(0, 0));
    const QFont font = widget->font();
    file.write(QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6\t%7\n")
                   .arg(at.x())
                   .arg(at.y())
                   .arg(widget->width())
                   .arg(widget->height())
                   .arg(font.pixelSize() > 0 ? font.pixelSize() : 15)
                   .arg(font.family(),
                        text.replace(QLatin1Char('\t'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' ')))
                   .toUtf8());
  }
  return name;
}

// Phases of one child run: name and milliseconds since the spawn.
using Phases = std::vector<std::pair<std::string, double>>;

// Spawns this program as a child and returns microseconds until it reported.
double RunChild(const char* self, const char* mode, bool& ready, Phases* phases = nullptr,
                const char* argument = nullptr) {
  int out[2];
  if (::pipe(out) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  char* args[] = {const_cast<char*>(self), const_cast<char*>(mode), const_cast<char*>(argument), nullptr};
  pid_t pid = 0;
  const double t0 = bench::NowMicros();
  const int rc = posix_spawn(&pid, self, &actions, nullptr, args, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (rc != 0) {
    ::close(out[0]);
    return -1;
  }
  std::string text;
  char buffer[256];
  ssize_t n;
  while ((n = ::read(out[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (phases) {
    phases->clear();
    std::size_t from = 0;
    while ((from = text.find("PHASE ", from)) != std::string::npos) {
      char name[64] = {};
      double ms = 0;
      if (std::sscanf(text.c_str() + from, "PHASE %63s %lf", name, &ms) == 2) phases->emplace_back(name, ms - t0 / 1000);
      from += 6;
    }
  }
  const auto at = text.find("SHOWN ");
  if (at == std::string::npos) return -1;
  double t1 = 0;
  int ok = 0;
  std::sscanf(text.c_str() + at, "SHOWN %lf %d", &t1, &ok);
  ready = ok == 1;
  return t1 - t0;
}

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  if (argc > 1 && std::strcmp(argv[1], "--child-tool") == 0) return ChildTool(1, argv);
  if (argc > 1 && std::strcmp(argv[1], "--child-window") == 0) return ChildWindow(1, argv, nullptr);
  if (argc > 2 && std::strcmp(argv[1], "--child-window-text") == 0) return ChildWindow(1, argv, argv[2]);
  const std::string texts = CollectTexts(argv[0]);
  if (texts.empty()) {
    std::printf("the main window's texts could not be collected\n");
    return 1;
  }

  constexpr int kRuns = 9;
  bench::Rounds tool, window, text;
  bool allReady = true;
  // The tool's phases, in the order they come, each with its runs' times.
  std::vector<std::pair<std::string, std::vector<double>>> phases;
  for (int i = 0; i < kRuns; ++i) {
    bool ready = false;
    const double w = RunChild(argv[0], "--child-window", ready);
    Phases toolPhases;
    const double t = RunChild(argv[0], "--child-tool", ready, &toolPhases);
    bool unused = false;
    const double x = RunChild(argv[0], "--child-window-text", unused, nullptr, texts.c_str());
    allReady = allReady && ready && t > 0;
    if (w > 0) window.Add(w / 1000);
    if (t > 0) tool.Add(t / 1000);
    if (x > 0) text.Add(x / 1000);
    for (const auto& [name, ms] : toolPhases) {
      auto it = std::find_if(phases.begin(), phases.end(), [&](const auto& p) { return p.first == name; });
      if (it == phases.end()) it = phases.insert(phases.end(), {name, {}});
      it->second.push_back(ms);
    }
    std::printf("run %d: minimal window %.1f ms, tool %.1f ms, window with its texts %.1f ms%s\n", i + 1, w / 1000,
                t / 1000, x / 1000, ready ? "" : " (receivers not active)");
  }
  std::printf("medians of %d runs [range]: minimal window %s ms, tool %s ms, window with its texts %s ms\n", kRuns,
              window.Text().c_str(), tool.Text().c_str(), text.Text().c_str());
  std::printf("the tool's start-up, median ms since the spawn (and since the step before):\n");
  double before = 0;
  for (const auto& [name, times] : phases) {
    const double at = bench::Median(times);
    std::printf("  %-14s %6.1f  (+%.1f)\n", name.c_str(), at, at - before);
    before = at;
  }
  // The floor: a window that shows the design's texts in the design's faces
  // loads the font configuration and those faces and draws every glyph, which
  // the bare window never does.
  bench::ResultWithFloor("start to main window shown", "ms", tool.median(), window.median(), text.median(), 1.3,
                         1.25, allReady,
                         bench::Format("runs: tool %s, minimal window %s, window with its texts (floor) %s",
                                       tool.Text().c_str(), window.Text().c_str(), text.Text().c_str()));
  std::remove(texts.c_str());
  return 0;
}
