#include "simulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <vector>

#include "orvenapi3/orvenapi3.h"

namespace devsim {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

constexpr std::uint16_t kBroadcastPort = 60080;
constexpr std::uint16_t kMulticastPort = 60081;
constexpr const char* kMulticastGroup = "230.1.1.100";
// Upper bounds that keep every pass of the loop short.
constexpr int kMaxPollMs = 100;
constexpr int kMaxDatagramsPerPass = 512;
constexpr int kMaxAnnouncementsPerPass = 2048;
constexpr std::size_t kMaxPendingSets = 100000;
constexpr std::size_t kReceiveBufferSize = 65536;

void printLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string endpointText(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = "?";
  inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

class Socket {
 public:
  Socket() = default;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }

  bool open(const Options& options, std::uint16_t& boundPort, std::string& error) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return fail("socket", error);
    const int on = 1;
    if (::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
      return fail("SO_BROADCAST", error);
    const unsigned char loop = 1;
    const unsigned char ttl = 1;
    if (::setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop) != 0)
      return fail("IP_MULTICAST_LOOP", error);
    if (::setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_TTL, &ttl, sizeof ttl) != 0)
      return fail("IP_MULTICAST_TTL", error);
    // Room for bursts of configuration-sets aimed at thousands of devices.
    const int receiveBuffer = 4 * 1024 * 1024;
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(options.port);
    local.sin_addr.s_addr = htonl(options.bindLoopback ? INADDR_LOOPBACK : INADDR_ANY);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
      return fail("bind", error);
    socklen_t length = sizeof local;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0)
      return fail("getsockname", error);
    boundPort = ntohs(local.sin_port);
    return true;
  }

 private:
  bool fail(const char* what, std::string& error) {
    error = std::string(what) + ": " + std::strerror(errno);
    return false;
  }
  int fd_ = -1;
};

struct Target {
  sockaddr_in address{};
  const char* name;
  bool reportedError = false;
};

struct PendingSet {
  Clock::time_point due;
  std::size_t index;
  Config config;
};

class Simulator {
 public:
  Simulator(const Options& options, const Fleet& fleetInit, Counters& counters)
      : options_(options), fleet_(fleetInit), counters_(counters), buffer_(kReceiveBufferSize) {
    if (options.mode != Mode::Multicast) addTarget(INADDR_BROADCAST, kBroadcastPort, "broadcast");
    if (options.mode != Mode::Broadcast) {
      in_addr group{};
      inet_pton(AF_INET, kMulticastGroup, &group);
      addTarget(ntohl(group.s_addr), kMulticastPort, "multicast");
    }
  }

  bool run(const volatile std::sig_atomic_t& stopFlag, std::string& error) {
    std::uint16_t port = 0;
    if (!socket_.open(options_, port, error)) return false;
    printLine("devsim: " + std::to_string(fleet_.size()) + " devices, source port " +
              std::to_string(port) + ", mode " + modeName(options_.mode));

    const Clock::time_point start = Clock::now();
    const auto interval = nanoseconds(milliseconds(options_.intervalMs));
    const std::size_t devices = fleet_.size();
    std::optional<Clock::time_point> deadline;
    if (options_.durationMs) deadline = start + milliseconds(*options_.durationMs);
    Clock::time_point roundStart = start;
    std::uint64_t round = 0;
    std::size_t next = 0;  // next device of this round to announce
    const auto dueOf = [&](std::size_t index) {
      return roundStart + interval * static_cast<std::int64_t>(index) / static_cast<std::int64_t>(devices);
    };

    while (stopFlag == 0) {
      Clock::time_point now = Clock::now();
      if (deadline && now >= *deadline) break;
      const bool roundsDone = options_.count && round >= *options_.count;
      if (roundsDone && now >= roundStart) break;

      // Periodic announcements that are due, a bounded number per pass.
      if (!roundsDone) {
        // After a stall of more than a whole interval, carry on from now
        // instead of sending the missed announcements in one burst.
        if (now - dueOf(next) > interval) roundStart += (now - dueOf(next));
        for (int sent = 0; sent < kMaxAnnouncementsPerPass && dueOf(next) <= now; ++sent) {
          announce(next, ORVEN_KIND_ANNOUNCE);
          if (++next == devices) {
            next = 0;
            roundStart += interval;
            if (options_.count && ++round >= *options_.count) break;
          }
        }
      }

      applyDueSets(Clock::now());

      // Sleep until the next thing to do, never longer than kMaxPollMs so
      // that a stop request is seen promptly.
      now = Clock::now();
      Clock::time_point wake = now + milliseconds(kMaxPollMs);
      if (!(options_.count && round >= *options_.count)) wake = std::min(wake, dueOf(next));
      else wake = std::min(wake, roundStart);
      if (!pending_.empty()) wake = std::min(wake, pending_.front().due);
      if (deadline) wake = std::min(wake, *deadline);
      int timeoutMs = 0;
      if (wake > now) {
        const auto waitNs = std::chrono::duration_cast<nanoseconds>(wake - now).count();
        timeoutMs = static_cast<int>((waitNs + 999999) / 1000000);
      }
      pollfd pfd{socket_.fd(), POLLIN, 0};
      const int ready = ::poll(&pfd, 1, timeoutMs);
      if (ready > 0 && (pfd.revents & POLLIN) != 0) receiveAll();
    }
    counters_.setsDropped += pending_.size();
    return true;
  }

 private:
  void addTarget(std::uint32_t hostOrderAddress, std::uint16_t port, const char* name) {
    Target target;
    target.address.sin_family = AF_INET;
    target.address.sin_port = htons(port);
    target.address.sin_addr.s_addr = htonl(hostOrderAddress);
    target.name = name;
    targets_.push_back(target);
  }

  void announce(std::size_t index, unsigned char kind) {
    const auto packet = fleet_.packet(index, kind);
    for (Target& target : targets_) {
      const ssize_t rc = ::sendto(socket_.fd(), packet.data(), packet.size(), MSG_DONTWAIT,
                                  reinterpret_cast<const sockaddr*>(&target.address), sizeof target.address);
      if (rc != static_cast<ssize_t>(packet.size())) {
        ++counters_.sendErrors;
        if (!target.reportedError) {
          // Once per path; repeating it for every device would flood stderr.
          std::fprintf(stderr, "devsim: sending to %s failed: %s\n", endpointText(target.address).c_str(),
                       rc < 0 ? std::strerror(errno) : "short send");
          target.reportedError = true;
        }
        continue;
      }
      ++counters_.announcements;
      if (kind == ORVEN_KIND_APPLIED) ++counters_.appliedAnnouncements;
      if (!options_.quiet) {
        char kindText[4];
        std::snprintf(kindText, sizeof kindText, "%02X", kind);
        printLine("announced " + identText(fleet_.ident(index)) + " kind=" + kindText + " via=" + target.name);
      }
    }
  }

  void receiveAll() {
    for (int i = 0; i < kMaxDatagramsPerPass; ++i) {
      sockaddr_in from{};
      socklen_t fromLength = sizeof from;
      const ssize_t received = ::recvfrom(socket_.fd(), buffer_.data(), buffer_.size(), MSG_DONTWAIT,
                                          reinterpret_cast<sockaddr*>(&from), &fromLength);
      if (received < 0) {
        // EAGAIN: drained. Other errors (e.g. ICMP-reported ones) are not
        // about a datagram; try again on the next pass.
        return;
      }
      handleDatagram(buffer_.data(), static_cast<std::size_t>(received), from);
    }
  }

  void handleDatagram(const unsigned char* data, std::size_t length, const sockaddr_in& from) {
    const IntakeResult result = fleet_.classify(data, length);
    const std::string source = endpointText(from);
    switch (result.kind) {
      case Intake::Malformed:
        ++counters_.malformed;
        if (!options_.quiet)
          printLine("dropped from=" + source + " bytes=" + std::to_string(length) + " reason=malformed");
        return;
      case Intake::OtherKind: {
        ++counters_.otherKinds;
        if (!options_.quiet) {
          char kindText[4];
          std::snprintf(kindText, sizeof kindText, "%02X", result.packetKind & 0xFF);
          printLine("dropped from=" + source + " bytes=" + std::to_string(length) + " reason=kind-" + kindText);
        }
        return;
      }
      case Intake::UnknownIdent:
        ++counters_.unknownIdents;
        if (!options_.quiet)
          printLine("dropped from=" + source + " bytes=" + std::to_string(length) +
                    " reason=unknown-ident " + identText(result.ident));
        return;
      case Intake::ConfigSet:
        break;
    }
    ++counters_.setsReceived;
    const std::string ident = identText(result.ident);
    printLine("set-received " + ident + " from=" + source);
    if (fleet_.ignoresSets(result.index)) {
      ++counters_.ignoredSets;
      printLine("ignored-set " + ident + " from=" + source);
      return;
    }
    if (options_.applyDelayMs == 0) {
      applySet(result.index, result.config);
      return;
    }
    if (pending_.size() >= kMaxPendingSets) {
      ++counters_.setsDropped;
      printLine("dropped-set " + ident + " reason=too-many-pending");
      return;
    }
    // The delay is the same for all, so the queue stays ordered by due time.
    pending_.push_back({Clock::now() + milliseconds(options_.applyDelayMs), result.index, result.config});
  }

  void applyDueSets(Clock::time_point now) {
    for (int i = 0; i < kMaxDatagramsPerPass && !pending_.empty() && pending_.front().due <= now; ++i) {
      const PendingSet set = pending_.front();
      pending_.pop_front();
      applySet(set.index, set.config);
    }
  }

  void applySet(std::size_t index, const Config& config) {
    fleet_.apply(index, config);
    ++counters_.applied;
    const Config shown = fleet_.announced(index);
    printLine("applied " + identText(fleet_.ident(index)) + " ip=" + ipText(shown, cfg::PAddr) +
              " autoip=" + std::to_string(shown[cfg::AutoIP]) + " name=" + nameText(shown));
    announce(index, ORVEN_KIND_APPLIED);
  }

  const Options& options_;
  Fleet fleet_;
  Counters& counters_;
  Socket socket_;
  std::vector<Target> targets_;
  std::deque<PendingSet> pending_;
  std::vector<unsigned char> buffer_;
};

}  // namespace

bool runSimulator(const Options& options, const volatile std::sig_atomic_t& stopFlag,
                  Counters& counters, std::string& error) {
  Simulator simulator(options, Fleet(options), counters);
  return simulator.run(stopFlag, error);
}

std::string summaryLine(const Counters& c) {
  return "devsim: stopped: announcements sent " + std::to_string(c.announcements) + " (FC " +
         std::to_string(c.appliedAnnouncements) + "), send errors " + std::to_string(c.sendErrors) +
         ", sets received " + std::to_string(c.setsReceived) + ", applied " + std::to_string(c.applied) +
         ", ignored " + std::to_string(c.ignoredSets) + ", sets dropped " + std::to_string(c.setsDropped) +
         ", other datagrams " + std::to_string(c.malformed + c.otherKinds + c.unknownIdents) +
         " (malformed " + std::to_string(c.malformed) + ", other kinds " + std::to_string(c.otherKinds) +
         ", unknown identities " + std::to_string(c.unknownIdents) + ")";
}

}  // namespace devsim
