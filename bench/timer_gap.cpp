// Longest gap between two ticks of a 10 ms GUI timer while the tool handles
// a full-rate flood on 255.255.255.255:60080, against the same timer in the
// same tool with no traffic.
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
  long long ticks = 0;
  GapTimer() {
    timer.setInterval(10);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [this] {
      const auto now = bench::Clock::now();
      if (ticks++ > 0) longest = std::max(longest, bench::Seconds(now - last) * 1000);
      last = now;
    });
  }
  void Start() {
    ticks = 0;
    longest = 0;
    timer.start();
  }
  void Stop() { timer.stop(); }
};

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  const auto pool = bench::Announcements(1000);
  if (!bench::StartApp()) {
    std::printf("the tool's endpoints did not come up\n");
    return 1;
  }
  GapTimer gap;
  gap.Start();
  bench::RunLoopFor(2.0);
  gap.Stop();
  const double quiet = gap.longest;
  std::printf("no traffic: %lld ticks, longest gap %.2f ms\n", gap.ticks, quiet);

  bench::SendPlan plan;
  plan.seconds = 3.0;
  gap.Start();
  const bench::Throughput t = bench::AppReceive(pool, plan);
  gap.Stop();
  const double flood = gap.longest;
  std::printf("flood: sent %lld, handled %lld (%.0f/s); %lld ticks, longest gap %.2f ms\n", t.sent, t.handled,
              t.rate(), gap.ticks, flood);
  bench::StopApp();
  bench::Result("timer gap under flood", "ms", flood, quiet, quiet > 0 ? flood / quiet : 0, "<= 50 ms",
                flood <= 50.0);
  return 0;
}
