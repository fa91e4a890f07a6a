// Shared pieces of the benchmarks: announcement pools, a bounded sender
// thread (flood or paced), a plain receiver, the application harness that
// starts the tool exactly like its entry point does, small statistics, and
// the one result line that tools/run-bench turns into its table.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d);
double NowMicros();  // CLOCK_MONOTONIC, comparable across processes

// 74-byte announcements of `devices` distinct devices (identities base+i).
std::vector<std::vector<std::uint8_t>> Announcements(int devices, unsigned long long base = 0x00A1B2C3000000ULL,
                                                     unsigned char kind = 0xFF);

// A UDP socket bound to 0.0.0.0:port (0: system-chosen) with broadcast permission.
int OpenSocket(std::uint16_t port = 0, bool broadcast = true, int rcvbuf = 0);
std::uint16_t LocalPort(int fd);
bool SendTo(int fd, const char* ip, std::uint16_t port, const std::vector<std::uint8_t>& data);

// Sends the pool round robin from its own thread, bounded in count and time.
// rate == 0: as fast as possible (flood); else paced at `rate` per second.
struct SendPlan {
  const char* ip = "255.255.255.255";
  std::uint16_t port = 60080;
  double rate = 0;
  double seconds = 2.0;
  long long maxCount = 5'000'000;
};
class Sender {
 public:
  Sender(const std::vector<std::vector<std::uint8_t>>& pool, SendPlan plan);
  ~Sender();
  void Start();
  void Join();
  long long Sent() const { return sent_.load(); }
  double Elapsed() const { return elapsed_.load(); }  // 0 until the sender is done

 private:
  const std::vector<std::vector<std::uint8_t>>& pool_;
  SendPlan plan_;
  int fd_ = -1;
  std::atomic<long long> sent_{0};
  std::atomic<double> elapsed_{0};
  std::thread thread_;
};

// Result of one throughput run.
struct Throughput {
  long long sent = 0;
  long long handled = 0;
  double sendSeconds = 0;
  double handleSeconds = 0;  // first to last handled datagram
  double rate() const { return handleSeconds > 0 ? handled / handleSeconds : 0; }
};

// A plain blocking recvfrom loop on 0.0.0.0:port while the sender runs.
Throughput PlainReceive(std::uint16_t port, const std::vector<std::vector<std::uint8_t>>& pool, SendPlan plan);

// The tool, started as its entry point starts it (Form1, Form2, shown from a
// 0 ms single-shot) on an existing QApplication. Returns false when the
// endpoints did not come up within the time.
bool StartApp(double timeoutSeconds = 5);
void StopApp();
// Runs the GUI event loop until `done` is true or the time is up.
void RunLoopUntil(const std::function<bool()>& done, double seconds);
void RunLoopFor(double seconds);
long long AppIntakeCalls();
int AppDeviceCount();

// The tool's event loop while the sender runs; counts intake calls.
Throughput AppReceive(const std::vector<std::vector<std::uint8_t>>& pool, SendPlan plan);

double Percentile(std::vector<double> values, double p);  // p in 0..100
double Median(std::vector<double> values);

// One line of the table: NAME, the project's figure, the reference figure,
// their ratio, the goal text and whether it is met.
void Result(const std::string& name, const std::string& unit, double project, double reference,
            double ratio, const std::string& goal, bool met);
std::string Format(const char* fmt, ...);

}  // namespace bench
