// Intake cost per datagram at 100,000 known devices against the same at 10
// (Google Benchmark). Each iteration does what the intake handler does for
// an announcement of a known device: the working copy, then the intake. The
// announcements come from a pool of 4096 packets that all differ (random
// format bytes, spread identities, names of one length), in both cases, so
// only the list's size differs: with only a few distinct packets the device
// library's bitwise check would run on data the branch predictor has learnt,
// which would make the small list look faster than it is.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>

#include "bench/common.h"
#include "device/fields.h"
#include "engine/device_list.h"
#include "engine/intake.h"
#include "orvenapi3/orvenapi3.h"

namespace {

// Announcements of the given devices. The format byte (byte 2, which the
// intake reads only for a new device) is random, so the device library's
// bitwise check sees equally varied bytes from the start of the packet
// whatever the number of devices; the identities are spread over 48 bits
// and every record has a name of the same length.
std::vector<std::vector<std::uint8_t>> Packets(const std::vector<unsigned long long>& idents,
                                               const std::vector<int>& which, std::mt19937& random) {
  std::vector<std::vector<std::uint8_t>> packets;
  for (int d : which) {
    device::NetConfig c;
    device::ZeroConfig(c);
    std::snprintf(c.DeviceName, sizeof c.DeviceName, "dev%06d-%08x", d, static_cast<unsigned>(random()));
    std::vector<std::uint8_t> p(ORVEN_PACKET_SIZE);
    OrvenBuildPacket(p.data(), ORVEN_PACKET_SIZE, ORVEN_KIND_ANNOUNCE, static_cast<unsigned char>(random()), idents[static_cast<std::size_t>(d)],
                     reinterpret_cast<const unsigned char*>(&c));
    packets.push_back(std::move(p));
  }
  return packets;
}

void BM_IntakeKnownDevice(benchmark::State& state) {
  const int devices = static_cast<int>(state.range(0));
  std::mt19937 random(42);
  std::vector<unsigned long long> idents;
  std::vector<int> all;
  for (int d = 0; d < devices; ++d) {
    idents.push_back(0x00F00000000000ULL | (static_cast<unsigned long long>(random()) << 16) | static_cast<unsigned>(d & 0xFFFF));
    all.push_back(d);
  }
  engine::DeviceList list;
  for (auto& p : Packets(idents, all, random)) engine::Intake(p, list);
  std::uniform_int_distribution<int> pick(0, devices - 1);
  std::vector<int> which;
  for (int i = 0; i < 4096; ++i) which.push_back(pick(random));
  const auto pool = Packets(idents, which, random);
  std::size_t next = 0;
  for (auto _ : state) {
    const auto& data = pool[next];
    next = (next + 1) & 4095;
    std::vector<std::uint8_t> work(data.begin(), data.end());
    const engine::IntakeOutcome outcome = engine::Intake(work, list);
    benchmark::DoNotOptimize(outcome);
  }
  if (list.Count() != devices) state.SkipWithError("list changed");
  for (int d = 0; d < devices; ++d)
    if (list.IndexOf(idents[static_cast<std::size_t>(d)]) != d) state.SkipWithError("index disagrees with the lines");
}
BENCHMARK(BM_IntakeKnownDevice)->Arg(10)->Arg(100000)->Repetitions(5)->ReportAggregatesOnly(true);

class Collect : public benchmark::ConsoleReporter {
 public:
  Collect() : ConsoleReporter(OO_Tabular) {}  // no colours: the output goes into a table
  std::map<std::string, double> medians;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.aggregate_name == "median") medians[run.benchmark_name()] = run.GetAdjustedRealTime();
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Collect reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  double small = 0, large = 0;
  for (const auto& [name, ns] : reporter.medians) {
    if (name.find("/100000") != std::string::npos) large = ns;
    else if (name.find("/10") != std::string::npos) small = ns;
  }
  const double ratio = small > 0 ? large / small : 0;
  std::printf("\n");
  bench::Result("intake cost 100k vs 10 devices", "ns", large, small, ratio, "<= 1.3 x", small > 0 && ratio <= 1.3);
  return 0;
}
