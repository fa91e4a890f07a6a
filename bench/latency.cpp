// Answer latency during a write: from sending an announcement of the
// selected device (differing from the configuration being written) until
// the configuration-set packet arrives at the device's socket, against a
// plain UDP echo round trip on loopback, in the same run and pace.
#include <QApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "app/form1.h"
#include "app/form2.h"
#include "bench/common.h"
#include "orvenapi3/orvenapi3.h"

namespace {

constexpr int kSamples = 2000;
constexpr auto kPause = std::chrono::microseconds(500);

// Waits (bounded) for a datagram whose kind byte is `kind`; returns its
// arrival time in microseconds, or a negative value on time-out.
double AwaitKind(int fd, int kind) {
  std::uint8_t buffer[2048];
  for (int tries = 0; tries < 16; ++tries) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 1000) <= 0) return -1;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (kind < 0 || (n > 3 && buffer[3] == kind)) return bench::NowMicros();
  }
  return -1;
}

std::vector<double> Echo() {
  const int server = ::socket(AF_INET, SOCK_DGRAM, 0);
  const int client = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(server, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::bind(client, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(server, reinterpret_cast<sockaddr*>(&a), &len);
  timeval tv{0, 200'000};
  ::setsockopt(server, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  std::atomic<bool> stop{false};
  std::thread echo([&] {
    std::uint8_t buffer[2048];
    while (!stop.load()) {
      sockaddr_in from{};
      socklen_t fl = sizeof from;
      const ssize_t n = ::recvfrom(server, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fl);
      if (n > 0) ::sendto(server, buffer, static_cast<std::size_t>(n), 0, reinterpret_cast<sockaddr*>(&from), fl);
    }
  });
  std::vector<std::uint8_t> packet(74, 0x11);
  std::vector<double> samples;
  for (int i = 0; i < kSamples; ++i) {
    const double t0 = bench::NowMicros();
    ::sendto(client, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    const double t1 = AwaitKind(client, -1);
    if (t1 > 0) samples.push_back(t1 - t0);
    std::this_thread::sleep_for(kPause);
  }
  stop.store(true);
  echo.join();
  ::close(server);
  ::close(client);
  return samples;
}

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  if (!bench::StartApp()) {
    std::printf("the tool's endpoints did not come up\n");
    return 1;
  }
  // The device: one socket on a system-chosen port that announces and
  // receives the tool's answers.
  const int device = bench::OpenSocket(0, true);
  const auto announced = bench::Announcements(1);
  bench::SendTo(device, "255.255.255.255", 60080, announced[0]);
  bench::RunLoopUntil([] { return bench::AppDeviceCount() == 1 && app::Form1->ListBox1->ItemIndex() == 0; }, 3);
  if (bench::AppDeviceCount() != 1 || !app::Form1->Panel1->isEnabled()) {
    std::printf("the first announcement did not select the device\n");
    return 1;
  }
  // A write in progress, as the write button starts it, except that the
  // dialog's countdown is not started, so it cannot run out during the run.
  app::Form1->FPendingConfig = app::Form1->Devices().Entry(0).Config;
  app::Form1->FPendingConfig.ServerPort = 60111;
  app::Form2->SetPosition(0);
  app::Form2->ProgressBar1->setVisible(true);
  app::Form2->Button1->setVisible(false);
  app::Form2->Label1->setVisible(false);
  app::Form2->show();
  bench::RunLoopFor(0.2);

  std::vector<double> tool;
  std::atomic<bool> done{false};
  std::thread measure([&] {
    for (int i = 0; i < kSamples; ++i) {
      const double t0 = bench::NowMicros();
      bench::SendTo(device, "255.255.255.255", 60080, announced[0]);
      const double t1 = AwaitKind(device, ORVEN_KIND_CONFIG_SET);
      if (t1 > 0) tool.push_back(t1 - t0);
      std::this_thread::sleep_for(kPause);
    }
    done.store(true);
  });
  bench::RunLoopUntil([&] { return done.load(); }, 30);
  measure.join();
  // The reference while the tool sits idle with its endpoints open.
  const std::vector<double> echo = Echo();
  bench::StopApp();
  ::close(device);

  const double tm = bench::Median(tool), t99 = bench::Percentile(tool, 99);
  const double em = bench::Median(echo), e99 = bench::Percentile(echo, 99);
  std::printf("tool: %zu answers, median %.1f us, p99 %.1f us, max %.1f us\n", tool.size(), tm, t99,
              bench::Percentile(tool, 100));
  std::printf("echo: %zu answers, median %.1f us, p99 %.1f us, max %.1f us\n", echo.size(), em, e99,
              bench::Percentile(echo, 100));
  const bool complete = tool.size() == static_cast<std::size_t>(kSamples);
  bench::Result("answer latency median", "us", tm, em, em > 0 ? tm / em : 0, "<= 3 x",
                complete && em > 0 && tm / em <= 3);
  bench::Result("answer latency p99", "us", t99, e99, e99 > 0 ? t99 / e99 : 0, "<= 5 x",
                complete && e99 > 0 && t99 / e99 <= 5);
  return 0;
}
