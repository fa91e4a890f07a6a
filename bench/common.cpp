#include "bench/common.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <dirent.h>

#include <algorithm>
#include <sstream>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/form1.h"
#include "app/form2.h"
#include "device/fields.h"
#include "net/socket.h"
#include "orvenapi3/orvenapi3.h"

namespace bench {

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double NowMicros() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

std::vector<std::vector<std::uint8_t>> Announcements(int devices, unsigned long long base, unsigned char kind) {
  std::vector<std::vector<std::uint8_t>> pool(static_cast<std::size_t>(devices));
  for (int i = 0; i < devices; ++i) {
    device::NetConfig c;
    device::ZeroConfig(c);
    c.ServerPAddr = ::inet_addr("192.168.1.10");
    c.ServerPort = 60110;
    c.HAddr = static_cast<std::uint16_t>(i);
    std::snprintf(c.DeviceName, sizeof c.DeviceName, "dev%d", i);
    c.PAddr = htonl(0xC0A80000u + static_cast<std::uint32_t>(i % 60000) + 1);
    c.SubNetMask = ::inet_addr("255.255.0.0");
    c.GatePAddr = ::inet_addr("192.168.0.1");
    auto& p = pool[static_cast<std::size_t>(i)];
    p.resize(ORVEN_PACKET_SIZE);
    OrvenBuildPacket(p.data(), ORVEN_PACKET_SIZE, kind, 0, base + static_cast<unsigned long long>(i),
                     reinterpret_cast<const unsigned char*>(&c));
  }
  return pool;
}

int OpenSocket(std::uint16_t port, bool broadcast, int rcvbuf) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int on = broadcast ? 1 : 0;
  ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  if (rcvbuf > 0) net::sock::EnlargeReceiveBuffer(fd, rcvbuf);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

int ReceiveBufferOf(int fd) {
  int size = 0;
  socklen_t length = sizeof size;
  return ::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, &length) == 0 ? size : 0;
}

std::uint16_t LocalPort(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

bool SendTo(int fd, const char* ip, std::uint16_t port, const std::vector<std::uint8_t>& data) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = ::inet_addr(ip);
  return ::sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a) ==
         static_cast<ssize_t>(data.size());
}

Sender::Sender(const std::vector<std::vector<std::uint8_t>>& pool, SendPlan plan)
    : pool_(pool), plan_(plan), fd_(OpenSocket(0, true)) {}

Sender::~Sender() {
  Join();
  if (fd_ >= 0) ::close(fd_);
}

void Sender::Start() {
  thread_ = std::thread([this] {
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(plan_.port);
    a.sin_addr.s_addr = ::inet_addr(plan_.ip);
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(plan_.seconds));
    long long n = 0;
    std::size_t next = 0;
    auto sendOne = [&] {
      const auto& p = pool_[next];
      next = next + 1 == pool_.size() ? 0 : next + 1;
      // A full socket send queue (ENOBUFS) counts as not sent.
      if (::sendto(fd_, p.data(), p.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a) ==
          static_cast<ssize_t>(p.size()))
        sent_.store(++n, std::memory_order_relaxed);
    };
    if (plan_.rate <= 0) {
      for (long long attempts = 0; attempts < plan_.maxCount; ++attempts) {
        if ((attempts & 63) == 0 && Clock::now() >= end) break;
        sendOne();
      }
    } else {
      // Paced: every 250 microseconds, send what is due by then.
      long long due = 0;
      for (long long step = 0; n < plan_.maxCount; ++step) {
        const auto now = Clock::now();
        if (now >= end) break;
        const double t = Seconds(now - start);
        const long long target = std::min(plan_.maxCount, static_cast<long long>(t * plan_.rate) + 1);
        while (due < target) {
          sendOne();
          ++due;
        }
        std::this_thread::sleep_until(now + std::chrono::microseconds(250));
      }
    }
    elapsed_.store(std::max(1e-9, Seconds(Clock::now() - start)));
  });
}

void Sender::Join() {
  if (thread_.joinable()) thread_.join();
}

Throughput PlainReceive(std::uint16_t port, const std::vector<std::vector<std::uint8_t>>& pool, SendPlan plan) {
  Throughput t;
  const int fd = OpenSocket(port, true, kReceiveBuffer);
  if (fd < 0) return t;
  t.receiveBuffer = ReceiveBufferOf(fd);
  timeval tv{0, 200'000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  std::atomic<bool> senderDone{false};
  Clock::time_point last{};
  long long count = 0;
  Clock::time_point start = Clock::now();
  std::thread receiver([&] {
    std::uint8_t buffer[8192];
    // Bounded: ends at the first quiet 200 ms after the sender is done, or
    // after the sender's time plus 5 s at most.
    const auto limit = start + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(plan.seconds + 5));
    while (Clock::now() < limit) {
      sockaddr_storage from{};
      socklen_t len = sizeof from;
      const ssize_t n = ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n < 0) {
        if (senderDone.load()) break;
        continue;
      }
      ++count;
      last = Clock::now();
    }
  });
  Sender sender(pool, plan);
  start = Clock::now();
  sender.Start();
  sender.Join();
  senderDone.store(true);
  receiver.join();
  ::close(fd);
  t.sent = sender.Sent();
  t.handled = count;
  t.sendSeconds = sender.Elapsed();
  t.handleSeconds = count > 0 ? Seconds(last - start) : 0;
  return t;
}

bool StartApp(double timeoutSeconds) {
  app::Form1 = new app::TForm1();
  app::Form2 = new app::TForm2();
  QTimer::singleShot(0, app::Form1, [] { app::Form1->show(); });
  RunLoopUntil([] { return app::Form1->UDPServer->Active() && app::Form1->IdIPMCastClient1->Active(); },
               timeoutSeconds);
  return app::Form1->UDPServer->Active() && app::Form1->IdIPMCastClient1->Active();
}

void StopApp() {
  delete app::Form2;
  app::Form2 = nullptr;
  delete app::Form1;
  app::Form1 = nullptr;
}

void RunLoopUntil(const std::function<bool()>& done, double seconds) {
  const auto end = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  QEventLoop loop;
  QTimer check;
  check.setInterval(5);
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (done() || Clock::now() >= end) loop.quit();
  });
  check.start();
  if (done()) return;
  loop.exec();
}

void RunLoopFor(double seconds) {
  RunLoopUntil([] { return false; }, seconds);
}

long long AppIntakeCalls() { return app::Form1->IntakeCalls(); }
int AppDeviceCount() { return app::Form1->Devices().Count(); }

// Diagnostics (ORVEN_BENCH_TRACE): handled and sent so far, and each
// thread's state and CPU time, from /proc.
void TraceThreads(double at, long long handled, long long sent) {
  std::string line = Format("%6.2f s handled %8lld sent %8lld |", at, handled, sent);
  if (DIR* tasks = ::opendir("/proc/self/task")) {
    while (const dirent* e = ::readdir(tasks)) {
      if (e->d_name[0] == '.') continue;
      std::FILE* f = std::fopen(Format("/proc/self/task/%s/stat", e->d_name).c_str(), "r");
      if (!f) continue;
      char text[1024] = {};
      const std::size_t n = std::fread(text, 1, sizeof text - 1, f);
      std::fclose(f);
      text[n] = 0;
      const char* close = std::strrchr(text, ')');
      if (!close) continue;
      char state = '?';
      unsigned long utime = 0, stime = 0;
      int cpu = -1;
      // Fields after the command: state(3) ... utime(14) stime(15) ... processor(39).
      std::istringstream in(close + 2);
      std::string field;
      for (int i = 3; in >> field; ++i) {
        if (i == 3) state = field[0];
        if (i == 14) utime = std::stoul(field);
        if (i == 15) stime = std::stoul(field);
        if (i == 39) cpu = std::stoi(field);
      }
      line += Format(" %s:%c%lu@%d", e->d_name, state, utime + stime, cpu);
    }
    ::closedir(tasks);
  }
  std::fprintf(stderr, "%s\n", line.c_str());
}

Throughput AppReceive(const std::vector<std::vector<std::uint8_t>>& pool, SendPlan plan) {
  return LoopReceive(pool, plan, AppIntakeCalls);
}

Throughput LoopReceive(const std::vector<std::vector<std::uint8_t>>& pool, SendPlan plan,
                       const std::function<long long()>& handledSoFar) {
  Throughput t;
  const long long before = handledSoFar();
  long long seen = before;
  Sender sender(pool, plan);
  const auto start = Clock::now();
  Clock::time_point last = start;
  Clock::time_point quietSince{};
  bool senderDone = false;
  sender.Start();
  const bool trace = std::getenv("ORVEN_BENCH_TRACE") != nullptr;
  auto nextTrace = start;
  // Bounded: at most the sender's time plus 5 s; ends 200 ms after the
  // last handled datagram once the sender is done.
  RunLoopUntil(
      [&] {
        const long long now = handledSoFar();
        const auto clock = Clock::now();
        if (trace && clock >= nextTrace) {
          nextTrace = clock + std::chrono::milliseconds(100);
          TraceThreads(Seconds(clock - start), now - before, sender.Sent());
        }
        if (now != seen) {
          seen = now;
          last = clock;
        }
        if (!senderDone && sender.Elapsed() > 0) {
          senderDone = true;
          quietSince = clock;
        }
        return senderDone && clock - std::max(last, quietSince) > std::chrono::milliseconds(200);
      },
      plan.seconds + 5);
  sender.Join();
  t.sent = sender.Sent();
  t.handled = handledSoFar() - before;
  t.sendSeconds = sender.Elapsed();
  t.handleSeconds = Seconds(last - start);
  return t;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const double rank = p / 100.0 * static_cast<double>(values.size() - 1);
  const auto lo = static_cast<std::size_t>(rank);
  const std::size_t hi = std::min(lo + 1, values.size() - 1);
  return values[lo] + (values[hi] - values[lo]) * (rank - static_cast<double>(lo));
}

double Median(std::vector<double> values) { return Percentile(std::move(values), 50); }

std::string Rounds::Text(const char* number) const {
  const std::string f = Format("%s [%s..%s]", number, number, number);
  return Format(f.c_str(), median(), min(), max());
}

// ---- the floor of the hand-over ------------------------------------------

class FloorHandOver::Receiver : public QObject {
 public:
  explicit Receiver(FloorHandOver& owner) : owner_(owner) {}
  static QEvent::Type Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
  }
  bool event(QEvent* e) override {
    if (e->type() != Type()) return QObject::event(e);
    owner_.current_.entered = NowMicros();
    owner_.handle_(owner_.fd_, owner_.buffer_, owner_.size_, owner_.source_);
    owner_.current_.left = NowMicros();
    owner_.done_.store(1, std::memory_order_release);
    owner_.done_.notify_one();
    return true;
  }

 private:
  FloorHandOver& owner_;
};

FloorHandOver::FloorHandOver(std::uint16_t port, Handler handle, bool direct)
    : fd_(OpenSocket(port, true, kReceiveBuffer)), handle_(std::move(handle)), direct_(direct) {
  port_ = fd_ >= 0 ? LocalPort(fd_) : 0;
  if (!direct_) receiver_ = new Receiver(*this);
  if (fd_ >= 0) thread_ = std::thread([this] { Run(); });
}

FloorHandOver::~FloorHandOver() {
  stop_.store(true);
  done_.store(1);
  done_.notify_one();
  if (thread_.joinable()) thread_.join();
  delete receiver_;  // its pending events go with it
  if (fd_ >= 0) ::close(fd_);
}

void FloorHandOver::Run() {
  // As the tool's listener threads: above the GUI thread.
  net::sock::RaiseThreadPriority();
  bool readFirst = false;
  while (!stop_.load()) {
    if (!readFirst) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
    }
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = ::recvfrom(fd_, buffer_, sizeof buffer_, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &len);
    readFirst = n >= 0;
    if (n < 0) continue;
    current_ = Stamps{};
    current_.received = NowMicros();
    size_ = static_cast<std::size_t>(n);
    source_ = ntohs(from.sin_port);
    if (direct_) {
      current_.posted = current_.entered = current_.received;
      handle_(fd_, buffer_, size_, source_);
      current_.left = NowMicros();
    } else {
      done_.store(0, std::memory_order_relaxed);
      current_.posted = NowMicros();
      QCoreApplication::postEvent(receiver_, new QEvent(Receiver::Type()));
      done_.wait(0, std::memory_order_acquire);
      if (stop_.load()) break;
    }
    current_.released = NowMicros();
    handled_.fetch_add(1);
    std::lock_guard<std::mutex> lock(stampsMutex_);
    stamps_.push_back(current_);
  }
}

std::vector<FloorHandOver::Stamps> FloorHandOver::TakeStamps() {
  std::lock_guard<std::mutex> lock(stampsMutex_);
  std::vector<Stamps> taken;
  taken.swap(stamps_);
  return taken;
}

std::string Format(const char* fmt, ...) {
  char text[512];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  return text;
}

namespace {
void PrintResult(const std::string& name, const std::string& unit, double project, double reference, double ratio,
                 const std::string& goal, const std::string& verdict, const std::string& note) {
  std::printf("RESULT|%s|%s|%.6g|%.6g|%.3f|%s|%s|%s\n", name.c_str(), unit.c_str(), project, reference, ratio,
              goal.c_str(), verdict.c_str(), note.c_str());
  std::fflush(stdout);
}
}  // namespace

void Result(const std::string& name, const std::string& unit, double project, double reference, double ratio,
            const std::string& goal, bool met, const std::string& note) {
  PrintResult(name, unit, project, reference, ratio, goal, met ? "met" : "NOT MET", note);
}

namespace {
bool anyError = false;
}  // namespace

void ResultError(const std::string& name, const std::string& unit, const std::string& why) {
  anyError = true;
  PrintResult(name, unit, 0, 0, 0, "-", "ERROR: " + why, "");
}

int ExitCode() { return anyError ? 1 : 0; }

void Judge(const Figure& f) {
  const bool higher = f.better == Better::Higher;
  const auto meets = [&](double value) { return higher ? value >= f.goal : value <= f.goal; };
  // What the goal bounds: the figure itself, or its ratio to the reference.
  const auto judged = [&](double value) { return f.absolute ? value : value / f.reference; };
  const double ratio = f.reference > 0 ? f.tool / f.reference : 0;
  const std::string goal = f.absolute ? Format(higher ? ">= %.3g %s" : "<= %.3g %s", f.goal, f.unit.c_str())
                                      : Format(higher ? ">= %.3g x" : "<= %.3g x", f.goal);
  const bool hasFloor = f.floor >= 0;
  std::string error = f.problem;
  if (error.empty() && !(f.tool > 0)) error = "the tool's figure is 0: it did not do the work";
  if (error.empty() && !(f.reference > 0)) error = "the reference is 0: it did not do the work";
  if (error.empty() && hasFloor && !(f.floor > 0)) error = "the floor is 0: it did not do the work";
  // A floor is the least the design must do: a tool better than it beyond
  // the rounds' own spread shows that the floor does more (or less) than it
  // claims, and it can judge nothing.
  if (error.empty() && hasFloor && (higher ? f.tool - f.floor : f.floor - f.tool) > f.spread)
    error = Format("the tool beats its floor (%.6g) by more than the rounds' spread (%.3g): not a floor", f.floor,
                   f.spread);
  if (!error.empty()) {
    anyError = true;
    PrintResult(f.name, f.unit, f.tool, f.reference, ratio, goal, "ERROR: " + error, f.note);
    return;
  }
  std::string verdict = "NOT MET";
  if (meets(judged(f.tool))) {
    verdict = "met";
  } else if (hasFloor && !meets(judged(f.floor))) {
    // The goal is out of the design's reach: the tool is held to its floor.
    const double toFloor = higher ? f.floor / f.tool : f.tool / f.floor;
    if (toFloor <= f.floorSlack)
      verdict = Format("met at floor (floor %.3g%s, tool %.2f x floor)", judged(f.floor),
                       f.absolute ? (" " + f.unit).c_str() : " x", f.tool / f.floor);
  }
  PrintResult(f.name, f.unit, f.tool, f.reference, ratio, goal, verdict, f.note);
}

}  // namespace bench
