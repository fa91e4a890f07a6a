// The socket seam on BSD sockets, for any POSIX system: what only some
// systems offer (close-on-exec at creation, forcing a receive buffer past
// the cap, a thread's own nice value) is used where the system has it.
#include "net/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/syscall.h>
#endif

#include <cerrno>
#include <cstring>
#include <vector>

#include "net/errors.h"
#include "net/socket_errors.h"
#include "net/socket_native.h"

namespace net {

int WindowsSocketCode(int platformError) {
  switch (platformError) {
#define ORVEN_CODE_OF(code, errnoName, text) \
  case errnoName: return code;
    ORVEN_SOCKET_ERRORS(ORVEN_CODE_OF)
#undef ORVEN_CODE_OF
    // Other names of the same meaning, where the system has them.
#if EAGAIN != EWOULDBLOCK
    case EAGAIN: return 10035;
#endif
#if defined(ENOTSUP) && ENOTSUP != EOPNOTSUPP
    case ENOTSUP: return 10045;
#endif
    // A group join with no interface for it: the network is down for it.
    case ENODEV: return 10050;
    default: return platformError;
  }
}

int LastSocketError() { return WindowsSocketCode(errno); }

}  // namespace net

namespace net::sock {

namespace {

int Fd(Handle handle) { return static_cast<int>(handle); }

using native::OptionName;
using native::Raw;

}  // namespace

Handle Open(Family family) {
  const int domain = family == Family::IPv6 ? AF_INET6 : AF_INET;
#ifdef SOCK_CLOEXEC
  const int fd = ::socket(domain, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
#else
  const int fd = ::socket(domain, SOCK_DGRAM, IPPROTO_UDP);
  if (fd >= 0) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
#endif
  return fd < 0 ? kNone : fd;
}

void Close(Handle handle) noexcept {
  if (handle != kNone) ::close(Fd(handle));
}

void Wake(Handle handle) noexcept {
  if (handle != kNone) ::shutdown(Fd(handle), SHUT_RDWR);
}

bool Bind(Handle handle, const Address& local) {
  return ::bind(Fd(handle), Raw(local), static_cast<socklen_t>(local.length)) == 0;
}

bool LocalAddress(Handle handle, Address& out) {
  out = Address{};
  socklen_t length = sizeof out.bytes;
  if (::getsockname(Fd(handle), Raw(out), &length) != 0) return false;
  out.length = static_cast<int>(length);
  return true;
}

bool SetOption(Handle handle, Option option, int value) {
  const native::OptionLevel o = OptionName(option);
  if (option == Option::MulticastLoop || option == Option::MulticastTTL) {
    const unsigned char byte = static_cast<unsigned char>(value);
    return ::setsockopt(Fd(handle), o.level, o.name, &byte, sizeof byte) == 0;
  }
  return ::setsockopt(Fd(handle), o.level, o.name, &value, sizeof value) == 0;
}

bool GetOption(Handle handle, Option option, int& value) {
  const native::OptionLevel o = OptionName(option);
  value = 0;
  socklen_t length = sizeof value;
  return ::getsockopt(Fd(handle), o.level, o.name, &value, &length) == 0;
}

void EnlargeReceiveBuffer(Handle handle, int bytes) noexcept {
  ::setsockopt(Fd(handle), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
#ifdef SO_RCVBUFFORCE
  int granted = 0;
  socklen_t length = sizeof granted;
  // Linux reports twice the size it was asked for (the rest is its bookkeeping).
  if (::getsockopt(Fd(handle), SOL_SOCKET, SO_RCVBUF, &granted, &length) == 0 && granted < bytes)
    ::setsockopt(Fd(handle), SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes);
#endif
}

int WaitReadable(const Handle* handles, bool* readable, std::size_t count, int timeoutMs) {
  pollfd one{};
  std::vector<pollfd> many;
  pollfd* waitFor = &one;
  if (count > 1) {
    many.resize(count);
    waitFor = many.data();
  }
  for (std::size_t i = 0; i < count; ++i) waitFor[i] = pollfd{Fd(handles[i]), POLLIN, 0};
  const int ready = ::poll(waitFor, count, timeoutMs);
  if (ready < 0) return errno == EINTR ? 0 : -1;  // a signal counts as a time-out
  for (std::size_t i = 0; i < count; ++i) {
    if (waitFor[i].revents & POLLNVAL) {
      errno = ENOTSOCK;
      return -1;
    }
    readable[i] = waitFor[i].revents != 0;
  }
  return ready;
}

bool EnableArrival(Handle handle, Family family) {
  const int on = 1;
  if (family == Family::IPv6) return ::setsockopt(Fd(handle), IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof on) == 0;
  return ::setsockopt(Fd(handle), IPPROTO_IP, IP_PKTINFO, &on, sizeof on) == 0;
}

namespace {

// The adapter in the packet information of a received message.
Arrival ArrivalOf(msghdr& message) {
  Arrival arrival;
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
      in_pktinfo info;
      std::memcpy(&info, CMSG_DATA(c), sizeof info);
      arrival.index = static_cast<unsigned>(info.ipi_ifindex);
      arrival.local = info.ipi_spec_dst.s_addr;  // the adapter's address that answers would come from
    } else if (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_PKTINFO) {
      in6_pktinfo info;
      std::memcpy(&info, CMSG_DATA(c), sizeof info);
      arrival.index = info.ipi6_ifindex;
    }
  }
  return arrival;
}

}  // namespace

Received Receive(Handle handle, std::uint8_t* buffer, std::size_t size, std::size_t& length,
                 Address& source, Arrival* arrival) {
  alignas(cmsghdr) char control[128];
  for (;;) {
    iovec part{buffer, size};
    msghdr message{};
    message.msg_name = Raw(source);
    message.msg_namelen = sizeof source.bytes;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (arrival != nullptr) {
      message.msg_control = control;
      message.msg_controllen = sizeof control;
    }
    const ssize_t n = ::recvmsg(Fd(handle), &message, MSG_DONTWAIT);
    if (n >= 0) {
      source.length = static_cast<int>(message.msg_namelen);
      length = static_cast<std::size_t>(n);
      if (arrival != nullptr) *arrival = ArrivalOf(message);
      // MSG_TRUNC: the datagram was longer than the buffer.
      return (message.msg_flags & MSG_TRUNC) != 0 ? Received::Oversized : Received::Datagram;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return Received::Nothing;
    return Received::Failed;
  }
}

Sent SendTo(Handle handle, const std::uint8_t* data, std::size_t size, const Address& destination, bool wait) {
  for (;;) {
    const ssize_t sent = ::sendto(Fd(handle), data, size, wait ? 0 : MSG_DONTWAIT, Raw(destination),
                                  static_cast<socklen_t>(destination.length));
    if (sent >= 0) return static_cast<std::size_t>(sent) == size ? Sent::Whole : Sent::Part;
    if (errno == EINTR) continue;
    if (errno == EMSGSIZE) return Sent::TooBig;
    if (!wait && (errno == EAGAIN || errno == EWOULDBLOCK)) return Sent::WouldBlock;
    return Sent::Failed;
  }
}

// One step above the normal priority, like the highest normal thread
// priority on Windows. On Linux the nice value of the thread is what counts
// for normal threads; elsewhere POSIX gives a normal thread no priority of
// its own, and it stays.
void RaiseThreadPriority() noexcept {
#ifdef __linux__
  const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
  errno = 0;
  const int current = ::getpriority(PRIO_PROCESS, tid);
  if (errno != 0) return;
  ::setpriority(PRIO_PROCESS, tid, current > -18 ? current - 2 : -20);
#endif
}

int CurrentProcessor() noexcept {
#ifdef __linux__
  return ::sched_getcpu();
#else
  return -1;
#endif
}

#ifdef __linux__
namespace {
// The processors the process may use, as they were before any of its
// threads was kept to one.
const cpu_set_t& AllProcessors() noexcept {
  static const cpu_set_t all = [] {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) != 0) {
      for (int i = 0; i < CPU_SETSIZE; ++i) CPU_SET(i, &set);
    }
    return set;
  }();
  return all;
}
}  // namespace

ThreadId CurrentThread() noexcept { return static_cast<ThreadId>(::syscall(SYS_gettid)); }

bool RunOnlyOn(ThreadId thread, int processor) noexcept {
  if (processor < 0 || processor >= CPU_SETSIZE || !CPU_ISSET(processor, &AllProcessors())) return false;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(processor, &one);
  return ::sched_setaffinity(static_cast<pid_t>(thread), sizeof one, &one) == 0;
}

bool RunAnywhere(ThreadId thread) noexcept {
  return ::sched_setaffinity(static_cast<pid_t>(thread), sizeof(cpu_set_t), &AllProcessors()) == 0;
}
#else
ThreadId CurrentThread() noexcept { return 0; }
bool RunOnlyOn(ThreadId, int) noexcept { return false; }
bool RunAnywhere(ThreadId) noexcept { return false; }
#endif

}  // namespace net::sock
