// Longest gap between two ticks of a 10 ms GUI timer while the tool handles
// a full-rate flood on 255.255.255.255:60080, against the same timer with no
// traffic, and against the floor of the tool's design under the same flood
// (a receiving thread handing every datagram to the Qt event loop and
// waiting for it, doing nothing else). Several rounds; the figure is the
// median of the rounds' longest gaps.
#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "bench/common.h"

namespace {

struct GapTimer {
  QTimer timer;
  bench::Clock::time_point last{};
  double longest = 0;
  // The GUI thread's time on a processor and waiting for one (ms), from
  // the scheduler's statistics, over the longest gap.
  double lastRun = 0, lastWait = 0, longestRun = 0, longestWait = 0;
  long long ticks = 0;
  GapTimer() {
    timer.setInterval(10);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [this] {
      const auto now = bench::Clock::now();
      double run = 0, wait = 0;
      if (std::FILE* f = std::fopen("/proc/thread-self/schedstat", "r")) {
        std::fscanf(f, "%lf %lf", &run, &wait);
        std::fclose(f);
      }
      const double gapMs = bench::Seconds(now - last) * 1000;
      if (ticks++ > 0 && gapMs > longest) {
        longest = gapMs;
        longestRun = (run - lastRun) / 1e6;
        longestWait = (wait - lastWait) / 1e6;
      }
      last = now;
      lastRun = run;
      lastWait = wait;
    });
  }
  void Start() {
    ticks = 0;
    longest = 0;
    timer.start();
  }
  double Stop() {
    timer.stop();
    return longest;
  }
};

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  const auto pool = bench::Announcements(1000);
  constexpr double kGoalMs = 15;
  constexpr int kRounds = 7;
  bench::SendPlan plan;
  plan.seconds = 1.0;
  bench::Rounds idle, floor, tool;
  GapTimer gap;
  for (int round = 0; round < kRounds; ++round) {
    gap.Start();
    {
      bench::FloorHandOver handOver(60080, [](int, const std::uint8_t*, std::size_t, std::uint16_t) {}, false);
      bench::LoopReceive(pool, plan, [&] { return handOver.Handled(); });
    }
    floor.Add(gap.Stop());
    if (!bench::StartApp()) {
      std::printf("the tool's endpoints did not come up\n");
      return 1;
    }
    gap.Start();
    bench::RunLoopFor(1.0);
    idle.Add(gap.Stop());
    gap.Start();
    const bench::Throughput t = bench::AppReceive(pool, plan);
    tool.Add(gap.Stop());
    bench::StopApp();
    std::printf("round %d: longest gap no traffic %.1f ms, floor's flood %.1f ms, tool's flood %.1f ms (%.0f/s)\n"
                "   in the tool's longest gap the GUI thread ran %.2f ms and waited for a processor %.2f ms\n",
                round + 1, idle.values.back(), floor.values.back(), tool.values.back(), t.rate(), gap.longestRun,
                gap.longestWait);
  }
  std::printf("medians of %d rounds [range]: no traffic %s ms, floor %s ms, tool %s ms\n", kRounds, idle.Text().c_str(),
              floor.Text().c_str(), tool.Text().c_str());
  const std::string note = bench::Format("rounds: tool %s, floor %s, no traffic %s", tool.Text().c_str(),
                                         floor.Text().c_str(), idle.Text().c_str());
  const bool met = tool.median() <= kGoalMs;
  // Where the floor under the same flood already misses the goal, the tool
  // is held to within 1.25 x of the floor.
  const bool atFloor = !met && floor.median() > kGoalMs && tool.median() <= 1.25 * floor.median();
  if (atFloor) {
    std::printf("RESULT|timer gap under flood|ms|%.6g|%.6g|%.3f|<= 15 ms|met at floor (floor %.1f ms)|%s\n",
                tool.median(), idle.median(), tool.median() / idle.median(), floor.median(), note.c_str());
  } else {
    bench::Result("timer gap under flood", "ms", tool.median(), idle.median(),
                  idle.median() > 0 ? tool.median() / idle.median() : 0, "<= 15 ms", met, note);
  }
  return 0;
}
