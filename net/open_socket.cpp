#include "net/open_socket.h"

#include "net/errors.h"

#include <algorithm>
#include <vector>

namespace net::sock {

namespace {

Opened Failed(Handle handle, OpenStep step, int error) {
  Close(handle);
  return Opened{kNone, step, error};
}

Opened OpenOnce(const SocketSettings& settings) {
  const Handle handle = Open(settings.family);
  if (handle == kNone) return Opened{kNone, OpenStep::Create, LastSocketError()};
  const auto set = [&](Option option, int value) { return SetOption(handle, option, value); };
  if (settings.family == Family::IPv6 && !set(Option::IPv6Only, 1))
    return Failed(handle, OpenStep::IPv6Only, LastSocketError());
  if (settings.broadcast && !set(Option::Broadcast, 1)) return Failed(handle, OpenStep::Broadcast, LastSocketError());
  if (settings.multicastSender) {
    if (!set(Option::MulticastLoop, 1)) return Failed(handle, OpenStep::MulticastLoop, LastSocketError());
    if (!set(Option::MulticastTTL, 1)) return Failed(handle, OpenStep::MulticastTTL, LastSocketError());
  }
  if (settings.receiveBuffer > 0) EnlargeReceiveBuffer(handle, settings.receiveBuffer);

  std::uint32_t groupInterface = 0;
  if (settings.adapter != nullptr) {
    if (!BindToAdapter(handle, settings.family, *settings.adapter, settings.port))
      return Failed(handle, OpenStep::Bind, LastSocketError());
    groupInterface = settings.adapter->ipv4;
  } else {
    Address local = AnyAddress(settings.family, settings.port);
    if (!settings.address.empty() && !ParseAddress(settings.family, settings.address, settings.port, local))
      return Failed(handle, OpenStep::Bind, 10022);
    if (!Bind(handle, local)) return Failed(handle, OpenStep::Bind, LastSocketError());
    if (!settings.address.empty()) groupInterface = InetAddr(settings.address);
  }
  if (settings.group && !JoinGroup(handle, *settings.group, groupInterface))
    return Failed(handle, OpenStep::Join, LastSocketError());
  return Opened{handle, OpenStep::Create, 0};
}

bool Avoided(const SocketSettings& settings, Handle handle) {
  Address local;
  if (!LocalAddress(handle, local)) return false;
  const std::uint16_t port = AddressPort(local);
  return std::find(settings.avoidPorts.begin(), settings.avoidPorts.end(), port) != settings.avoidPorts.end();
}

}  // namespace

Opened OpenSocket(const SocketSettings& settings) {
  if (settings.port != 0 || settings.avoidPorts.empty()) return OpenOnce(settings);
  // Each socket held is on another avoided port: at most one pass more than
  // there are such ports.
  std::vector<Handle> held;
  Opened opened;
  for (std::size_t pass = 0; pass <= settings.avoidPorts.size(); ++pass) {
    opened = OpenOnce(settings);
    if (!opened.ok() || !Avoided(settings, opened.handle)) break;
    held.push_back(opened.handle);
    opened = Opened{kNone, OpenStep::Bind, 10048};  // address in use, should the passes run out
  }
  for (const Handle handle : held) Close(handle);
  return opened;
}

}  // namespace net::sock
