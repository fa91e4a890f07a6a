#include "net/open_socket.h"

#include "net/errors.h"

namespace net::sock {

namespace {

Opened Failed(Handle handle, OpenStep step, int error) {
  Close(handle);
  return Opened{kNone, step, error};
}

}  // namespace

Opened OpenSocket(const SocketSpec& spec) {
  const Handle handle = Open(spec.family);
  if (handle == kNone) return Opened{kNone, OpenStep::Create, LastSocketError()};
  const auto set = [&](Option option, int value) { return SetOption(handle, option, value); };
  if (spec.family == Family::IPv6 && !set(Option::IPv6Only, 1))
    return Failed(handle, OpenStep::IPv6Only, LastSocketError());
  if (spec.broadcast && !set(Option::Broadcast, 1)) return Failed(handle, OpenStep::Broadcast, LastSocketError());
  if (spec.multicastSender) {
    if (!set(Option::MulticastLoop, 1)) return Failed(handle, OpenStep::MulticastLoop, LastSocketError());
    if (!set(Option::MulticastTTL, 1)) return Failed(handle, OpenStep::MulticastTTL, LastSocketError());
  }
  if (spec.receiveBuffer > 0) EnlargeReceiveBuffer(handle, spec.receiveBuffer);

  std::uint32_t groupInterface = 0;
  if (spec.adapter != nullptr) {
    if (!BindToAdapter(handle, spec.family, *spec.adapter, spec.port))
      return Failed(handle, OpenStep::Bind, LastSocketError());
    groupInterface = spec.adapter->ipv4;
  } else {
    Address local = AnyAddress(spec.family, spec.port);
    if (!spec.address.empty() && !ParseAddress(spec.family, spec.address, spec.port, local))
      return Failed(handle, OpenStep::Bind, 10022);
    if (!Bind(handle, local)) return Failed(handle, OpenStep::Bind, LastSocketError());
    if (!spec.address.empty()) groupInterface = InetAddr(spec.address);
  }
  if (spec.group && !JoinGroup(handle, *spec.group, groupInterface))
    return Failed(handle, OpenStep::Join, LastSocketError());
  return Opened{handle, OpenStep::Create, 0};
}

}  // namespace net::sock
