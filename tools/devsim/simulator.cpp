#include "simulator.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <vector>

#include "device/fields.h"
#include "device/protocol.h"
#include "net/errors.h"
#include "net/open_socket.h"
#include "orvenapi3/orvenapi3.h"

namespace devsim {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

namespace proto = device::protocol;
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

std::string endpointText(const net::sock::Address& address) {
  std::string text;
  net::sock::AddressText(address, text);
  return text + ":" + std::to_string(net::sock::AddressPort(address));
}

// The reason of a socket failure (by default the last one), as text.
std::string lastErrorText(int code = net::LastSocketError()) {
  const std::string description = net::SocketErrorDescription(code);
  return (description.empty() ? "socket error" : description) + " (" + std::to_string(code) + ")";
}

class Socket {
 public:
  Socket() = default;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() { net::sock::Close(handle_); }
  net::sock::Handle handle() const { return handle_; }

  bool open(const Options& options, std::uint16_t& boundPort, std::string& error) {
    net::sock::SocketSettings settings;
    settings.port = options.port;
    if (options.bindLoopback) settings.address = "127.0.0.1";
    settings.broadcast = true;
    settings.multicastSender = true;
    // Room for bursts of configuration-sets aimed at thousands of devices.
    settings.receiveBuffer = 4 * 1024 * 1024;
    const net::sock::Opened opened = net::sock::OpenSocket(settings);
    if (!opened.ok()) {
      error = std::string(stepName(opened.failedAt)) + ": " + lastErrorText(opened.error);
      return false;
    }
    handle_ = opened.handle;
    net::sock::Address local;
    if (!net::sock::LocalAddress(handle_, local)) {
      error = "getsockname: " + lastErrorText();
      return false;
    }
    boundPort = net::sock::AddressPort(local);
    return true;
  }

 private:
  static const char* stepName(net::sock::OpenStep step) {
    switch (step) {
      case net::sock::OpenStep::Create: return "socket";
      case net::sock::OpenStep::IPv6Only: return "IPV6_V6ONLY";
      case net::sock::OpenStep::Broadcast: return "SO_BROADCAST";
      case net::sock::OpenStep::MulticastLoop: return "IP_MULTICAST_LOOP";
      case net::sock::OpenStep::MulticastTTL: return "IP_MULTICAST_TTL";
      case net::sock::OpenStep::Bind: return "bind";
      case net::sock::OpenStep::Join: return "IP_ADD_MEMBERSHIP";
    }
    return "socket";
  }
  net::sock::Handle handle_ = net::sock::kNone;
};

struct Target {
  net::sock::Address address;
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
    if (options.mode != Mode::Multicast) addTarget("255.255.255.255", proto::kBroadcastPort, "broadcast");
    if (options.mode != Mode::Broadcast) addTarget(proto::kGroup, proto::kGroupPort, "multicast");
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
      const net::sock::Handle handle = socket_.handle();
      bool readable = false;
      if (net::sock::WaitReadable(&handle, &readable, 1, timeoutMs) > 0 && readable) receiveAll();
    }
    counters_.setsDropped += pending_.size();
    return true;
  }

 private:
  void addTarget(const char* address, std::uint16_t port, const char* name) {
    Target target;
    net::sock::ParseAddress(net::sock::Family::IPv4, address, port, target.address);
    target.name = name;
    targets_.push_back(target);
  }

  void announce(std::size_t index, unsigned char kind) {
    const auto packet = fleet_.packet(index, kind);
    for (Target& target : targets_) {
      const net::sock::Sent sent =
          net::sock::SendTo(socket_.handle(), packet.data(), packet.size(), target.address, false);
      if (sent != net::sock::Sent::Whole) {
        ++counters_.sendErrors;
        if (!target.reportedError) {
          // Once per path; repeating it for every device would flood stderr.
          std::fprintf(stderr, "devsim: sending to %s failed: %s\n", endpointText(target.address).c_str(),
                       sent == net::sock::Sent::Part ? "short send" : lastErrorText().c_str());
          target.reportedError = true;
        }
        continue;
      }
      ++counters_.announcements;
      if (kind == ORVEN_KIND_APPLIED) ++counters_.appliedAnnouncements;
      if (!options_.quiet) {
        char kindText[4];
        std::snprintf(kindText, sizeof kindText, "%02X", kind);
        printLine("announced " + device::IdentityText(fleet_.ident(index)) + " kind=" + kindText + " via=" + target.name);
      }
    }
  }

  void receiveAll() {
    for (int i = 0; i < kMaxDatagramsPerPass; ++i) {
      net::sock::Address from;
      std::size_t received = 0;
      switch (net::sock::Receive(socket_.handle(), buffer_.data(), buffer_.size(), received, from)) {
        case net::sock::Received::Datagram: break;
        // Longer than any packet (and than UDP allows): malformed.
        case net::sock::Received::Oversized: received = buffer_.size(); break;
        // Drained. Other errors (e.g. ICMP-reported ones) are not about a
        // datagram; try again on the next pass.
        case net::sock::Received::Nothing:
        case net::sock::Received::Failed: return;
      }
      handleDatagram(buffer_.data(), received, from);
    }
  }

  void handleDatagram(const unsigned char* data, std::size_t length, const net::sock::Address& from) {
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
                    " reason=unknown-ident " + device::IdentityText(result.ident));
        return;
      case Intake::ConfigSet:
        break;
    }
    ++counters_.setsReceived;
    const std::string ident = device::IdentityText(result.ident);
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
    const std::string ip = device::IPv4ToText(shown.PAddr);
    printLine("applied " + device::IdentityText(fleet_.ident(index)) + " ip=" + (ip.empty() ? "0.0.0.0" : ip) +
              " autoip=" + std::to_string(shown.AutoIP) + " name=" + device::DeviceNameToText(shown));
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
