// Flood throughput: the tool's real endpoints, hand-over, intake, device
// list and GUI loop (offscreen) against a plain recvfrom loop on the same
// port, both fed by the same sender flooding 255.255.255.255:60080.
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/common.h"

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  const auto pool = bench::Announcements(1000);
  bench::SendPlan plan;
  plan.seconds = 1.5;
  std::vector<double> refRates, toolRates;
  const int rounds = 5;
  for (int round = 0; round < rounds; ++round) {
    const bench::Throughput ref = bench::PlainReceive(60080, pool, plan);
    std::printf("plain recvfrom: sent %lld in %.2f s, received %lld, %.0f/s\n", ref.sent, ref.sendSeconds,
                ref.handled, ref.rate());
    if (!bench::StartApp()) {
      std::printf("the tool's endpoints did not come up\n");
      return 1;
    }
    const bench::Throughput tool = bench::AppReceive(pool, plan);
    std::printf("tool:           sent %lld in %.2f s, handled %lld, %.0f/s (devices %d)\n", tool.sent,
                tool.sendSeconds, tool.handled, tool.rate(), bench::AppDeviceCount());
    bench::StopApp();
    refRates.push_back(ref.rate());
    toolRates.push_back(tool.rate());
  }
  // Medians of the rounds: one round can be spoilt by another program.
  const double ref = bench::Median(refRates), tool = bench::Median(toolRates);
  const double ratio = ref > 0 ? tool / ref : 0;
  bench::Result("flood throughput", "datagrams/s", tool, ref, ratio, ">= 0.5 x", ratio >= 0.5);
  return 0;
}
