// Start until the main window is shown with both receivers active, against a
// minimal Qt window program on the same platform plugin. The tool's child is
// this executable ("--child-tool"); the bare window and the floor (a window
// showing the main window's texts) are bench_startup_window beside it, a
// program linking Qt alone. Each run starts the three in an order that
// rotates from run to run, and takes the time from spawning a child to the
// moment it reports (CLOCK_MONOTONIC is shared by all processes).
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
#include "bench/show_watch.h"

extern char** environ;

namespace {

int ChildTool(int argc, char** argv) {
  bench::Phase("main");
  QApplication application(argc, argv);
  bench::Phase("application");
  app::Form1 = new app::TForm1();
  bench::Phase("Form1");
  app::Form2 = new app::TForm2();
  bench::Phase("Form2");
  bench::ShowWatch watch(app::Form1, [] {
    return app::Form1->UDPServer->Active() && app::Form1->IdIPMCastClient1->Active();
  });
  QTimer::singleShot(0, app::Form1, [] { app::Form1->show(); });
  QTimer::singleShot(10000, [] { QCoreApplication::quit(); });
  QApplication::exec();
  bench::StopApp();
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

// Spawns `program` with up to two arguments and returns microseconds until
// it reported, or -1 when it did not (it failed to start or to show).
double RunChild(const std::string& program, const char* mode, bool& ready, Phases* phases = nullptr,
                const char* argument = nullptr) {
  ready = false;
  int out[2];
  if (::pipe(out) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  char* args[] = {const_cast<char*>(program.c_str()), const_cast<char*>(mode), const_cast<char*>(argument), nullptr};
  pid_t pid = 0;
  const double t0 = bench::NowMicros();
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, args, environ);
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
  // A child that reported and then crashed or failed did not do its work.
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
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


// The minimal window program, beside this one.
std::string WindowProgram(const char* self) {
  char path[4096] = {};
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  std::string here = n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string(self);
  const auto slash = here.rfind('/');
  return (slash == std::string::npos ? std::string(".") : here.substr(0, slash)) + "/bench_startup_window";
}

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  if (argc > 1 && std::strcmp(argv[1], "--child-tool") == 0) return ChildTool(1, argv);
  const std::string texts = CollectTexts(argv[0]);
  if (texts.empty()) {
    std::printf("the main window's texts could not be collected\n");
    bench::ResultError("start to main window shown", "ms", "the main window's texts could not be collected");
    return 1;
  }
  const std::string self = argv[0];
  const std::string windowProgram = WindowProgram(argv[0]);

  constexpr int kRuns = 9;
  bench::Rounds tool, window, text;
  int toolFailed = 0, toolNotReady = 0, windowFailed = 0, textFailed = 0;
  // The tool's phases, in the order they come, each with its runs' times.
  std::vector<std::pair<std::string, std::vector<double>>> phases;
  for (int i = 0; i < kRuns; ++i) {
    // The order of the three children rotates, so that none always starts
    // right after another (with its files in the cache) or first.
    double w = -1, t = -1, x = -1;
    bool ready = false;
    Phases toolPhases;
    for (int k = 0; k < 3; ++k) {
      bool unused = false;
      switch ((i + k) % 3) {
        case 0: w = RunChild(windowProgram, nullptr, unused); break;
        case 1: t = RunChild(self, "--child-tool", ready, &toolPhases); break;
        default: x = RunChild(windowProgram, texts.c_str(), unused); break;
      }
    }
    if (t < 0) ++toolFailed;
    else if (!ready) ++toolNotReady;
    if (w < 0) ++windowFailed;
    if (x < 0) ++textFailed;
    if (w > 0) window.Add(w / 1000);
    if (t > 0) tool.Add(t / 1000);
    if (x > 0) text.Add(x / 1000);
    for (const auto& [name, ms] : toolPhases) {
      auto it = std::find_if(phases.begin(), phases.end(), [&](const auto& p) { return p.first == name; });
      if (it == phases.end()) it = phases.insert(phases.end(), {name, {}});
      it->second.push_back(ms);
    }
    const char* order[] = {"window, tool, texts", "tool, texts, window", "texts, window, tool"};
    std::printf("run %d (%s): minimal window %.1f ms, tool %.1f ms, window with its texts %.1f ms%s\n", i + 1,
                order[i % 3], w / 1000, t / 1000, x / 1000,
                t < 0 ? " (tool failed)" : ready ? "" : " (receivers not active)");
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
  // Every run of every child must have shown its window (and the tool its
  // receivers active): a child that failed measured nothing.
  std::string problem;
  if (toolFailed + toolNotReady + windowFailed + textFailed > 0)
    problem = bench::Format("of %d runs failed: tool %d (receivers not active in %d more), minimal window %d, "
                            "window with its texts %d",
                            kRuns, toolFailed, toolNotReady, windowFailed, textFailed);
  // The floor: a window that shows the design's texts in the design's faces
  // loads the font configuration and those faces and draws every glyph, which
  // the bare window never does.
  bench::Figure f;
  f.name = "start to main window shown";
  f.unit = "ms";
  f.tool = tool.median();
  f.reference = window.median();
  f.goal = 1.3;
  f.floor = text.median();
  f.spread = text.range();
  f.problem = problem;
  f.note = bench::Format("runs: tool %s, minimal window %s, window with its texts (floor) %s", tool.Text().c_str(),
                         window.Text().c_str(), text.Text().c_str());
  bench::Judge(f);
  std::remove(texts.c_str());
  return bench::ExitCode();
}
