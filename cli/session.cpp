#include "cli/session.h"

#include <algorithm>

#include "net/adapter.h"
#include "net/errors.h"
#include "net/inspect.h"

namespace cli {

namespace sock = net::sock;

namespace {

constexpr std::size_t kBufferSize = 8192;          // the largest datagram taken, as in the window
constexpr int kReceiveBufferBytes = 8 * 1024 * 1024;  // room for thousands of announcements a second
constexpr int kMostPerSocketAndPass = 512;         // then the other sockets get their turn

Failure SocketFailure(const std::string& what) {
  const net::EIdSocketError error(net::LastSocketError());
  std::string text = error.what();
  std::replace(text.begin(), text.end(), '\r', ' ');
  std::replace(text.begin(), text.end(), '\n', ' ');
  return Failure(4, what + ": " + text);
}

}  // namespace

Session::Session(const SessionOptions& options) : options_(options), buffer_(kBufferSize) {
  if (!options_.interfaceName.empty()) {
    sock::Adapter adapter;
    if (!sock::FindAdapter(options_.interfaceName, adapter))
      throw Failure(1, "--interface: no network adapter named or addressed '" + options_.interfaceName + "'");
    if (adapter.ipv4 == 0)
      throw Failure(1, "--interface: adapter '" + adapter.name + "' has no IPv4 address");
    haveInterface_ = true;
    interfaceDevice_ = adapter.name;
    interfaceAddress_ = adapter.ipv4;
  }
  if (!options_.pcapPath.empty()) {
    try {
      pcap_ = std::make_unique<PcapWriter>(options_.pcapPath);
    } catch (const std::exception& e) {
      throw Failure(1, std::string("--pcap: ") + e.what());
    }
  }
  try {
    OpenReceiver(sock::Family::IPv4, kListenerPort, Via::Broadcast, false);
    if (sock::OffersIPv6()) OpenReceiver(sock::Family::IPv6, kListenerPort, Via::Broadcast, true);
    OpenReceiver(sock::Family::IPv4, kGroupPort, Via::Multicast, false);
  } catch (...) {
    for (const Receiver& r : receivers_) sock::Close(r.handle);
    throw;
  }
}

Session::~Session() {
  for (const Receiver& r : receivers_) sock::Close(r.handle);
  sock::Close(sender_);
}

bool Session::BindSocket(sock::Handle handle, sock::Family family, std::uint16_t port) {
  if (!haveInterface_) return sock::Bind(handle, sock::AnyAddress(family, port));
  return sock::BindToAdapter(handle, family, sock::Adapter{interfaceDevice_, interfaceAddress_}, port);
}

void Session::OpenReceiver(sock::Family family, std::uint16_t port, Via via, bool optional) {
  const std::string what = std::string(via == Via::Multicast ? "joining the group " : "listening on port ") +
                           (via == Via::Multicast ? std::string(kGroup) + ":" + std::to_string(port)
                                                  : std::to_string(port)) +
                           (family == sock::Family::IPv6 ? " (IPv6)" : "");
  Receiver r;
  r.via = via;
  r.handle = sock::Open(family);
  if (r.handle == sock::kNone) {
    if (optional) return;
    throw SocketFailure(what);
  }
  if (family == sock::Family::IPv6) sock::SetOption(r.handle, sock::Option::IPv6Only, 1);
  if (!BindSocket(r.handle, family, port)) {
    if (options_.everyAdapter) {
      busy_.push_back({family, port});
      sock::Close(r.handle);
      return;
    }
    const bool skip = optional && haveInterface_;  // an adapter the platform cannot tie IPv6 to
    const Failure failure = SocketFailure(what);
    sock::Close(r.handle);
    if (skip) return;
    throw failure;
  }
  sock::EnlargeReceiveBuffer(r.handle, kReceiveBufferBytes);
  if (options_.everyAdapter) net::inspect::EnablePacketInfo(r.handle, family);
  if (via == Via::Multicast) {
    const std::uint32_t group = sock::InetAddr(kGroup);
    if (options_.everyAdapter) {
      // The default membership may fail (no multicast route); each
      // adapter's own still hears it.
      sock::JoinGroup(r.handle, group, interfaceAddress_);
      std::vector<net::inspect::AdapterInfo> adapters;
      net::inspect::ListAdapters(adapters);
      for (const auto& adapter : adapters) sock::JoinGroup(r.handle, group, adapter.addresses.front().address);
    } else if (!sock::JoinGroup(r.handle, group, interfaceAddress_)) {
      const Failure failure = SocketFailure(what);
      sock::Close(r.handle);
      throw failure;
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
  sender_ = sock::Open(sock::Family::IPv4);
  if (sender_ == sock::kNone) throw SocketFailure("opening the sender");
  if (!BindSocket(sender_, sock::Family::IPv4, 0) || !sock::SetOption(sender_, sock::Option::Broadcast, 1)) {
    const Failure failure = SocketFailure("opening the sender");
    sock::Close(sender_);
    sender_ = sock::kNone;
    throw failure;
  }
  sock::LocalAddress(sender_, senderLocal_);
  if (haveInterface_)
    senderLocal_ = sock::IPv4Address(interfaceAddress_, sock::AddressPort(senderLocal_));
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
      unsigned adapter = 0;
      const sock::Received got =
          options_.everyAdapter
              ? net::inspect::ReceiveFrom(handles[i], buffer_.data(), buffer_.size(), length, source, adapter)
              : sock::Receive(handles[i], buffer_.data(), buffer_.size(), length, source);
      if (got == sock::Received::Nothing || got == sock::Received::Failed) break;
      if (got == sock::Received::Oversized) continue;  // dropped, as the window drops it
      if (pcap_) pcap_->Write(source, receivers_[i].local, buffer_.data(), length);
      work_.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(length));
      sock::AddressText(source, sourceText_);
      handler(Datagram{work_, sourceText_, sock::AddressPort(source), receivers_[i].via, adapter});
    }
  }
}

std::string Session::Broadcast(const std::vector<std::uint8_t>& data, std::uint16_t port) {
  if (sender_ == sock::kNone) {
    try {
      OpenSender();
    } catch (const Failure& failure) {
      return failure.what();
    }
  }
  const sock::Address destination = sock::IPv4Address(sock::kNoAddress, port);
  const sock::Sent sent = sock::SendTo(sender_, data.data(), data.size(), destination);
  if (sent == sock::Sent::Whole) {
    if (pcap_) pcap_->Write(senderLocal_, destination, data.data(), data.size());
    return {};
  }
  if (sent == sock::Sent::Failed) return SocketFailure("sending to 255.255.255.255").what();
  return "sending to 255.255.255.255: not all bytes sent";
}

}  // namespace cli
