#include "cli/session.h"

#include <algorithm>

#include "cli/exit_codes.h"
#include "device/protocol.h"
#include "net/errors.h"
#include "net/inspect.h"
#include "net/open_socket.h"

namespace cli {

namespace sock = net::sock;

namespace {

namespace proto = device::protocol;

constexpr std::size_t kBufferSize = 8192;          // the largest datagram taken, as in the window
constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;  // room for thousands of announcements a second
constexpr int kMostPerSocketAndPass = 512;         // then the other sockets get their turn

Failure SocketFailure(const std::string& what, int code = net::LastSocketError()) {
  const net::EIdSocketError error(code);
  std::string text = error.what();
  std::replace(text.begin(), text.end(), '\r', ' ');
  std::replace(text.begin(), text.end(), '\n', ' ');
  return Failure(kExitNetwork, what + ": " + text);
}

}  // namespace

Session::Session(const SessionOptions& options) : options_(options), buffer_(kBufferSize) {
  if (!options_.interfaceName.empty()) {
    sock::Adapter adapter;
    if (!sock::FindAdapter(options_.interfaceName, adapter))
      throw Failure(kExitUsage, "--interface: no network adapter named or addressed '" + options_.interfaceName + "'");
    if (adapter.ipv4 == 0)
      throw Failure(kExitUsage, "--interface: adapter '" + adapter.name + "' has no IPv4 address");
    adapter_ = adapter;
  }
  if (!options_.pcapPath.empty()) {
    try {
      pcap_ = std::make_unique<PcapWriter>(options_.pcapPath);
    } catch (const std::exception& e) {
      throw Failure(kExitUsage, std::string("--pcap: ") + e.what());
    }
  }
  try {
    OpenReceiver(sock::Family::IPv4, proto::kBroadcastPort, Via::Broadcast, false);
    if (sock::OffersIPv6()) OpenReceiver(sock::Family::IPv6, proto::kBroadcastPort, Via::Broadcast, true);
    OpenReceiver(sock::Family::IPv4, proto::kGroupPort, Via::Multicast, false);
  } catch (...) {
    for (const Receiver& r : receivers_) sock::Close(r.handle);
    throw;
  }
}

Session::~Session() {
  for (const Receiver& r : receivers_) sock::Close(r.handle);
  sock::Close(sender_);
}

void Session::OpenReceiver(sock::Family family, std::uint16_t port, Via via, bool optional) {
  const std::string what = std::string(via == Via::Multicast ? "joining the group " : "listening on port ") +
                           (via == Via::Multicast ? std::string(proto::kGroup) + ":" + std::to_string(port)
                                                  : std::to_string(port)) +
                           (family == sock::Family::IPv6 ? " (IPv6)" : "");
  sock::SocketSettings settings;
  settings.family = family;
  settings.port = port;
  settings.adapter = adapter_ ? &*adapter_ : nullptr;
  settings.receiveBuffer = kReceiveBufferBytes;
  const std::uint32_t group = sock::InetAddr(proto::kGroup);
  // Listening on every adapter, the default membership may fail (no
  // multicast route) while each adapter's own still hears the group.
  if (via == Via::Multicast && !options_.everyAdapter) settings.group = group;
  const sock::Opened opened = sock::OpenSocket(settings);
  if (!opened.ok()) {
    if (options_.everyAdapter && opened.failedAt == sock::OpenStep::Bind) {
      busy_.push_back({family, port});  // held by another program: the doctor reports it
      return;
    }
    // Where IPv6 is offered but the adapter cannot be tied to it, the
    // command goes on with IPv4.
    if (optional && (opened.failedAt == sock::OpenStep::Create || adapter_)) return;
    throw SocketFailure(what, opened.error);
  }
  Receiver r;
  r.via = via;
  r.handle = opened.handle;
  // Each datagram tells its adapter: answers leave through it, list shows
  // it, the doctor counts by it.
  sock::EnableArrival(r.handle, family);
  if (via == Via::Multicast) {
    if (options_.everyAdapter) {
      sock::JoinGroup(r.handle, group, adapter_ ? adapter_->ipv4 : 0);
      std::vector<net::inspect::AdapterInfo> adapters;
      net::inspect::ListAdapters(adapters);
      for (const auto& adapter : adapters) sock::JoinGroup(r.handle, group, adapter.addresses.front().address);
    }
    r.local = sock::IPv4Address(group, port);
  } else if (family == sock::Family::IPv6) {
    r.local = sock::AnyAddress(family, port);
  } else {
    r.local = sock::IPv4Address(sock::kNoAddress, port);  // the devices broadcast
  }
  receivers_.push_back(r);
}

void Session::OpenSender() {
  sock::SocketSettings settings;
  settings.adapter = adapter_ ? &*adapter_ : nullptr;
  settings.broadcast = true;
  settings.avoidPorts.assign(std::begin(device::protocol::kReservedSourcePorts),
                             std::end(device::protocol::kReservedSourcePorts));
  const sock::Opened opened = sock::OpenSocket(settings);
  if (!opened.ok()) throw SocketFailure("opening the sender", opened.error);
  sender_ = opened.handle;
  sock::LocalAddress(sender_, senderLocal_);
  if (adapter_) senderLocal_ = sock::IPv4Address(adapter_->ipv4, sock::AddressPort(senderLocal_));
}

void Session::Poll(int timeoutMs, const std::function<void(const Datagram&)>& handler) {
  sock::Handle handles[4];
  bool readable[4] = {};
  const std::size_t count = receivers_.size();
  for (std::size_t i = 0; i < count; ++i) handles[i] = receivers_[i].handle;
  if (sock::WaitReadable(handles, readable, count, timeoutMs) <= 0) return;
  for (std::size_t i = 0; i < count; ++i) {
    if (!readable[i]) continue;
    for (int n = 0; n < kMostPerSocketAndPass; ++n) {
      std::size_t length = 0;
      sock::Address source;
      sock::Arrival arrival;
      const sock::Received got = sock::Receive(handles[i], buffer_.data(), buffer_.size(), length, source, &arrival);
      if (got == sock::Received::Nothing || got == sock::Received::Failed) break;
      if (got == sock::Received::Oversized) continue;  // dropped, as the window drops it
      if (pcap_) pcap_->Write(source, receivers_[i].local, buffer_.data(), length);
      work_.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(length));
      sock::AddressText(source, sourceText_);
      handler(Datagram{work_, sourceText_, sock::AddressPort(source), receivers_[i].via, arrival});
    }
  }
}

std::string Session::Broadcast(const std::vector<std::uint8_t>& data, std::uint16_t port,
                               const sock::Arrival& through) {
  if (sender_ == sock::kNone) {
    try {
      OpenSender();
    } catch (const Failure& failure) {
      return failure.what();
    }
  }
  const sock::Address destination = sock::IPv4Address(sock::kNoAddress, port);
  // With --interface the sender is tied to its adapter already.
  const sock::Sent sent = adapter_ ? sock::SendTo(sender_, data.data(), data.size(), destination)
                                   : sock::SendThrough(sender_, data.data(), data.size(), destination, through);
  if (sent == sock::Sent::Whole) {
    if (pcap_) {
      const sock::Address from =
          !adapter_ && through.local != 0 ? sock::IPv4Address(through.local, sock::AddressPort(senderLocal_)) : senderLocal_;
      pcap_->Write(from, destination, data.data(), data.size());
    }
    return {};
  }
  if (sent == sock::Sent::Failed) return SocketFailure("sending to 255.255.255.255").what();
  return "sending to 255.255.255.255: not all bytes sent";
}

}  // namespace cli
