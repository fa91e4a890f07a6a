// Shared pieces of the benchmarks: announcement pools, a bounded sender
// thread (flood or paced), a plain receiver, the application harness that
// starts the tool exactly like its entry point does, small statistics, and
// the one result line that tools/run-bench turns into its table.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
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

// The receive buffer the tool's endpoints ask for; every receiver a flood
// compares the tool with asks for the same.
constexpr int kReceiveBuffer = 4 * 1024 * 1024;

// A UDP socket bound to 0.0.0.0:port (0: system-chosen) with broadcast
// permission; rcvbuf > 0 asks for that receive buffer as the tool does
// (beyond the system's limit where the process may).
int OpenSocket(std::uint16_t port = 0, bool broadcast = true, int rcvbuf = 0);
int ReceiveBufferOf(int fd);  // the size the system granted, as it reports it
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
  int receiveBuffer = 0;     // the receiving socket's buffer as the system reports it (0: not known)
  double handleSeconds = 0;  // from the start of the flood to the last handled datagram
  // Handled per second of the flood: never over less time than the sender
  // took, so a receiver that handles a burst and then stops is not
  // credited with the burst's rate.
  double rate() const {
    const double over = handleSeconds > sendSeconds ? handleSeconds : sendSeconds;
    return over > 0 ? handled / over : 0;
  }
};

// A plain blocking recvfrom loop on 0.0.0.0:port while the sender runs, on a
// socket with the tool's receive buffer.
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
// The GUI event loop while the sender runs; counts what handledSoFar() tells.
Throughput LoopReceive(const std::vector<std::vector<std::uint8_t>>& pool, SendPlan plan,
                       const std::function<long long()>& handledSoFar);

double Percentile(std::vector<double> values, double p);  // p in 0..100
double Median(std::vector<double> values);

// One figure measured in several rounds: the median of the rounds' values
// and their range, so a single spoilt round neither decides nor hides.
struct Rounds {
  std::vector<double> values;
  void Add(double v) { values.push_back(v); }
  double median() const { return Median(values); }
  double min() const { return Percentile(values, 0); }
  double max() const { return Percentile(values, 100); }
  double range() const { return max() - min(); }
  // "median [min..max]"
  std::string Text(const char* number = "%.1f") const;
};

// A minimal hand-over, the floor of what the tool's design costs: one
// receiving thread on a socket bound to 0.0.0.0:port (0: system-chosen)
// takes each datagram, posts one event to an object on the GUI thread and
// waits until the GUI thread has run `handle` for it, then receives the next.
// With `direct` the receiving thread runs `handle` itself (no GUI thread): the
// same network path with one thread. Each step is time-stamped (NowMicros)
// for the breakdown.
class FloorHandOver {
 public:
  // Runs with the datagram, its length and its source port; the socket it
  // came in on is passed for answers.
  using Handler = std::function<void(int fd, const std::uint8_t* data, std::size_t size, std::uint16_t sourcePort)>;
  FloorHandOver(std::uint16_t port, Handler handle, bool direct);
  ~FloorHandOver();
  std::uint16_t Port() const { return port_; }
  long long Handled() const { return handled_.load(); }
  // Time stamps of each datagram, in order: received, event posted, handler
  // entered and left (GUI thread), receiving thread released.
  struct Stamps {
    double received = 0, posted = 0, entered = 0, left = 0, released = 0;
  };
  std::vector<Stamps> TakeStamps();  // after the traffic has stopped
  int ReceiveBuffer() const { return fd_ >= 0 ? ReceiveBufferOf(fd_) : 0; }

 private:
  class Receiver;
  void Run();
  int fd_ = -1;
  std::uint16_t port_ = 0;
  Handler handle_;
  bool direct_;
  Receiver* receiver_ = nullptr;  // a QObject on the GUI thread
  std::atomic<bool> stop_{false};
  std::atomic<int> done_{0};
  std::atomic<long long> handled_{0};
  // The datagram in flight (one at a time), shared by the two threads in turn.
  std::uint8_t buffer_[8192];
  std::size_t size_ = 0;
  std::uint16_t source_ = 0;
  Stamps current_;
  std::mutex stampsMutex_;
  std::vector<Stamps> stamps_;
  std::thread thread_;
};

// One line of the table: NAME, the project's figure, the reference figure,
// their ratio, the goal text and the verdict. `note` (optional) follows the
// line in the table: the rounds' spread.
void Result(const std::string& name, const std::string& unit, double project, double reference,
            double ratio, const std::string& goal, bool met, const std::string& note = "");

// A figure judged by the rules of Judge below.
enum class Better { Lower, Higher };
struct Figure {
  std::string name, unit;
  double tool = 0;       // the tool's figure
  double reference = 0;  // what the goal compares it with
  double goal = 0;       // the bound on tool / reference, or on tool itself when `absolute`
  bool absolute = false;
  Better better = Better::Lower;
  // The least the design must do, measured as the tool is (< 0: none). The
  // tool may not beat it by more than `spread` (how far the floor's own
  // rounds range, max - min); where the floor itself misses the goal, the
  // tool within `floorSlack` of it is "met at floor".
  double floor = -1;
  double floorSlack = 1.25;
  double spread = 0;
  std::string problem;  // non-empty: a program did not do its work; says which
  std::string note;
};
// The verdict rules, for every figure with a goal:
//   ERROR      a program did not do its work (`problem`), the tool's,
//              the reference's or the floor's figure is 0, or the tool
//              beats its floor by more than the rounds' spread (then it is
//              no floor);
//   met        the goal is met;
//   met at floor  the floor misses the goal too and the tool is within
//              floorSlack of it;
//   NOT MET    otherwise.
// An ERROR makes the program end non-zero (ExitCode).
void Judge(const Figure& figure);
// An ERROR line for a figure that could not be measured at all.
void ResultError(const std::string& name, const std::string& unit, const std::string& why);
// 0, or 1 when any figure was an ERROR.
int ExitCode();
std::string Format(const char* fmt, ...);

}  // namespace bench
