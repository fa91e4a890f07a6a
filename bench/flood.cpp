// Flood throughput: the tool's real endpoints, hand-over, intake, device
// list and GUI loop (offscreen) against a plain recvfrom loop on the same
// port, all fed by the same sender flooding 255.255.255.255:60080. Each round
// also measures the floor of the tool's design: a receiving thread that
// hands every datagram to the Qt event loop of the GUI thread and waits for
// it, doing nothing else.
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
  plan.seconds = 1.0;
  bench::Rounds raw, floor, tool;
  const int rounds = 7;
  for (int round = 0; round < rounds; ++round) {
    const bench::Throughput r = bench::PlainReceive(60080, pool, plan);
    bench::Throughput f;
    {
      bench::FloorHandOver handOver(60080, [](int, const std::uint8_t*, std::size_t, std::uint16_t) {}, false);
      f = bench::LoopReceive(pool, plan, [&] { return handOver.Handled(); });
    }
    if (!bench::StartApp()) {
      std::printf("the tool's endpoints did not come up\n");
      return 1;
    }
    const bench::Throughput t = bench::AppReceive(pool, plan);
    std::printf("round %d: recvfrom %.0f/s (sent %lld), floor %.0f/s (sent %lld), tool %.0f/s (sent %lld, devices %d)\n",
                round + 1, r.rate(), r.sent, f.rate(), f.sent, t.rate(), t.sent, bench::AppDeviceCount());
    bench::StopApp();
    raw.Add(r.rate());
    floor.Add(f.rate());
    tool.Add(t.rate());
  }
  std::printf("medians of %d rounds [range]: recvfrom %s/s, floor %s/s, tool %s/s\n", rounds, raw.Text("%.0f").c_str(),
              floor.Text("%.0f").c_str(), tool.Text("%.0f").c_str());
  // Against plain recvfrom. The floor is printed beside it, not used to
  // judge: it parks for every datagram, which the tool avoids under a
  // stream, so it bounds nothing the tool could reach.
  const double ratio = tool.median() / raw.median();
  bench::Result("flood throughput", "datagrams/s", tool.median(), raw.median(), ratio, ">= 0.8 x", ratio >= 0.8,
                bench::Format("rounds: tool %s, floor %s, recvfrom %s", tool.Text("%.0f").c_str(),
                              floor.Text("%.0f").c_str(), raw.Text("%.0f").c_str()));
  return 0;
}
