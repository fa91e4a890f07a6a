// The command line's endpoints on the socket seam: the listener on the
// devices' broadcast port (IPv4, and IPv6 where offered), the receiver on
// their group, and the sender of configuration-set packets, opened at
// the first send. All run on the calling thread: Poll() waits for datagrams
// and hands each one to the caller.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/pcap.h"
#include "net/adapter.h"
#include "net/socket.h"

namespace cli {

// A failure that ends the command with its exit code (1 usage, 4 network).
class Failure : public std::runtime_error {
 public:
  Failure(int exitCode, const std::string& message) : std::runtime_error(message), exitCode_(exitCode) {}
  int ExitCode() const { return exitCode_; }

 private:
  int exitCode_;
};

struct SessionOptions {
  std::string interfaceName;  // adapter name or one of its addresses; empty: the system's choice
  std::string pcapPath;       // empty: no capture
  // The doctor's listening: the group joined on every adapter besides the
  // default one, each datagram's receiving adapter told, and a port that
  // cannot be bound left out (see BusyPorts()) instead of failing.
  bool everyAdapter = false;
};

enum class Via { Broadcast, Multicast };

struct Datagram {
  std::vector<std::uint8_t>& bytes;  // a private copy the handler may change
  const std::string& sourceAddress;
  std::uint16_t sourcePort;
  Via via;
  net::sock::Arrival arrival;  // the adapter it came in on (index 0: not told)
};

class Session {
 public:
  // Opens the receivers; throws Failure (exit 4 with the socket error's
  // text, exit 1 for an unknown interface or an unwritable capture file).
  explicit Session(const SessionOptions& options);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Waits up to timeoutMs for datagrams and hands every waiting one to
  // 'handler', one at a time.
  void Poll(int timeoutMs, const std::function<void(const Datagram&)>& handler);

  // Sends one datagram to 255.255.255.255 at 'port', out of the adapter
  // 'through' names (the one the datagram being answered came in on; with
  // --interface always that one). Returns an empty text, or the socket
  // error's text.
  std::string Broadcast(const std::vector<std::uint8_t>& data, std::uint16_t port,
                        const net::sock::Arrival& through = {});

  // With everyAdapter: the receivers left out because their port could not
  // be bound.
  struct BusyPort {
    net::sock::Family family;
    std::uint16_t port;
  };
  const std::vector<BusyPort>& BusyPorts() const { return busy_; }

 private:
  struct Receiver {
    net::sock::Handle handle = net::sock::kNone;
    Via via;
    net::sock::Address local;  // for the capture: where the datagrams went
  };
  void OpenReceiver(net::sock::Family family, std::uint16_t port, Via via, bool optional);
  void OpenSender();

  SessionOptions options_;
  std::optional<net::sock::Adapter> adapter_;  // --interface; none: the system's choice
  std::vector<Receiver> receivers_;
  std::vector<BusyPort> busy_;
  net::sock::Handle sender_ = net::sock::kNone;
  net::sock::Address senderLocal_;
  std::unique_ptr<PcapWriter> pcap_;
  std::vector<std::uint8_t> buffer_;
  std::vector<std::uint8_t> work_;
  std::string sourceText_;
};

}  // namespace cli
