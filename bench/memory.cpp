// Resident memory per listed device: the running tool (shown, endpoints
// active) with 100,000 devices in its list against the same tool with an
// empty list. The announcements go through the intake handler itself.
#include <QApplication>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "app/form1.h"
#include "bench/common.h"

namespace {

long long ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * ::sysconf(_SC_PAGESIZE);
}

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  constexpr int kDevices = 100000;
  // Built before the first reading, so the packets themselves are in both.
  const auto pool = bench::Announcements(kDevices, 0x00C0FFEE000000ULL);
  if (!bench::StartApp()) {
    std::printf("the tool's endpoints did not come up\n");
    return 1;
  }
  bench::RunLoopFor(0.5);
  const long long empty = ResidentBytes();
  net::TIdSocketHandle binding;
  binding.PeerIP = "127.0.0.1";
  binding.PeerPort = 40000;
  for (int i = 0; i < kDevices; ++i) {
    app::Form1->IdIPMCastClient1IPMCastRead(app::Form1, pool[static_cast<std::size_t>(i)], binding);
    if (i % 1000 == 999) QCoreApplication::processEvents();
  }
  bench::RunLoopFor(0.5);
  const long long full = ResidentBytes();
  const int count = bench::AppDeviceCount();
  bench::StopApp();
  const double perDevice = static_cast<double>(full - empty) / kDevices;
  std::printf("resident: empty list %lld bytes, %d devices %lld bytes, %.1f bytes per device\n", empty, count, full,
              perDevice);
  bench::Result("memory per listed device", "bytes", perDevice, static_cast<double>(empty), perDevice / 128.0,
                "<= 128 bytes", count == kDevices && perDevice <= 128,
                "reference: resident bytes with an empty list; one round (the figure does not move)");
  return 0;
}
