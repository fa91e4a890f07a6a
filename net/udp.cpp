#include "net/udp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace net {

namespace {

constexpr int kWaitMs = 1000;  // how long a receiving thread waits before it looks at its stop flag

[[noreturn]] void ThrowSocketError() { throw EIdSocketError(LastSocketError()); }

void CloseHandle(TIdSocketHandle& binding) noexcept {
  if (binding.HandleAllocated) ::close(binding.Handle);
  binding.Handle = -1;
  binding.HandleAllocated = false;
}

// Wakes a thread blocked in poll() or recv() on the socket. The descriptor
// itself stays valid until the thread has been joined, so the thread can
// never touch a number the system has already handed out again.
void WakeReaders(const TIdSocketHandle& binding) noexcept {
  if (binding.HandleAllocated) ::shutdown(binding.Handle, SHUT_RDWR);
}

bool PlatformOffersIPv6() {
  const int fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// Writes the address as text into 'out', reusing its storage.
void AssignAddressText(const sockaddr_storage& address, std::string& out) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET6) {
    ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr, text, sizeof text);
  } else {
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, text, sizeof text);
  }
  out.assign(text);
}

std::uint16_t AddressPort(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
  return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
}

// Creates the binding's socket and binds it to the binding's address (empty:
// the wildcard address) and port, without any address reuse. Afterwards the
// binding holds what the socket is bound to. On failure nothing stays open.
void AllocateAndBind(TIdSocketHandle& binding) {
  const bool v6 = binding.IPVersion == TIdIPVersion::Id_IPv6;
  const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd < 0) ThrowSocketError();
  binding.Handle = fd;
  binding.HandleAllocated = true;
  binding.BroadcastEnabled = false;

  sockaddr_storage local{};
  socklen_t length = 0;
  bool addressOk = true;
  if (v6) {
    // IPv6 traffic only, so the socket never collides with the IPv4 one.
    const int on = 1;
    if (::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0) {
      const int code = LastSocketError();
      CloseHandle(binding);
      throw EIdSocketError(code);
    }
    auto& a = reinterpret_cast<sockaddr_in6&>(local);
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(binding.Port);
    a.sin6_addr = in6addr_any;
    if (!binding.IP.empty()) addressOk = ::inet_pton(AF_INET6, binding.IP.c_str(), &a.sin6_addr) == 1;
    length = sizeof a;
  } else {
    auto& a = reinterpret_cast<sockaddr_in&>(local);
    a.sin_family = AF_INET;
    a.sin_port = htons(binding.Port);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!binding.IP.empty()) addressOk = ::inet_pton(AF_INET, binding.IP.c_str(), &a.sin_addr) == 1;
    length = sizeof a;
  }
  if (!addressOk || ::bind(fd, reinterpret_cast<sockaddr*>(&local), length) != 0) {
    CloseHandle(binding);
    throw EIdCouldNotBindSocket();
  }

  sockaddr_storage bound{};
  socklen_t boundLength = sizeof bound;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLength) == 0) {
    AssignAddressText(bound, binding.IP);
    binding.Port = AddressPort(bound);
  }
}

// Best effort: a receive buffer that holds a few seconds' worth of
// announcements, so a GUI thread that is busy for a while (a message box,
// a long repaint) loses none. It changes nothing else about the socket.
// Where the system caps the size for ordinary programs, a privileged one
// may still go beyond the cap.
constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;

void EnlargeReceiveBuffer(const TIdSocketHandle& binding) noexcept {
  int size = kReceiveBufferBytes;
  ::setsockopt(binding.Handle, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
#ifdef SO_RCVBUFFORCE
  int granted = 0;
  socklen_t length = sizeof granted;
  // Linux reports twice the size it was asked for (the rest is its bookkeeping).
  if (::getsockopt(binding.Handle, SOL_SOCKET, SO_RCVBUF, &granted, &length) == 0 && granted < kReceiveBufferBytes)
    ::setsockopt(binding.Handle, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
#endif
}

void SetBroadcastPermission(TIdSocketHandle& binding, bool on) {
  const int value = on ? 1 : 0;
  if (::setsockopt(binding.Handle, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) != 0) ThrowSocketError();
  binding.BroadcastEnabled = on;
}

ip_mreq Membership(const std::string& group, const TIdSocketHandle& binding) {
  ip_mreq request{};
  request.imr_multiaddr.s_addr = ::inet_addr(group.c_str());
  request.imr_interface.s_addr = binding.IP.empty() ? htonl(INADDR_ANY) : ::inet_addr(binding.IP.c_str());
  return request;
}

void LeaveGroup(const std::string& group, const TIdSocketHandle& binding) noexcept {
  if (!binding.HandleAllocated) return;
  const ip_mreq request = Membership(group, binding);
  ::setsockopt(binding.Handle, IPPROTO_IP, IP_DROP_MEMBERSHIP, &request, sizeof request);
}

// Best effort: one step above the normal priority, like the highest normal
// thread priority on Windows. On Linux the nice value of the thread is what
// counts for normal threads; without the right to raise it the thread simply
// keeps the normal priority.
void RaiseThreadPriority() noexcept {
  const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
  errno = 0;
  const int current = ::getpriority(PRIO_PROCESS, tid);
  if (errno != 0) return;
  ::setpriority(PRIO_PROCESS, tid, current > -18 ? current - 2 : -20);
}

// Receives one datagram without blocking. Returns false when nothing was
// there after all (poll() may report a datagram that the kernel then drops).
// Sets 'length' to the datagram's real length, also when it was longer than
// the buffer (MSG_TRUNC), so an oversized datagram is never mistaken for a
// complete one.
bool ReceiveOne(int fd, std::uint8_t* buffer, std::size_t size, std::size_t& length,
                sockaddr_storage& source) {
  for (;;) {
    socklen_t sourceLength = sizeof source;
    const ssize_t n = ::recvfrom(fd, buffer, size, MSG_TRUNC | MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&source), &sourceLength);
    if (n >= 0) {
      length = static_cast<std::size_t>(n);
      return true;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return false;
    ThrowSocketError();
  }
}

std::size_t BufferBytes(int bufferSize) { return bufferSize > 0 ? static_cast<std::size_t>(bufferSize) : 0; }

}  // namespace

// ---------------------------------------------------------------------------
// Listener thread of TIdUDPServer

class TIdUDPListenerThread {
 public:
  TIdUDPListenerThread(TIdUDPServer& server, TIdSocketHandle& binding)
      : server_(server),
        binding_(binding),
        size_(BufferBytes(server.BufferSize)),
        buffer_(new std::uint8_t[size_ + 1]),
        call_([this] { Deliver(); }) {
    data_.reserve(size_);
  }
  TIdUDPListenerThread(const TIdUDPListenerThread&) = delete;
  TIdUDPListenerThread& operator=(const TIdUDPListenerThread&) = delete;
  ~TIdUDPListenerThread() { Join(); }

  void Start() { thread_ = std::thread([this] { Run(); }); }
  void RequestStop() noexcept { stop_.store(true); }
  void Join() noexcept {
    try {
      if (thread_.joinable()) thread_.join();
    } catch (...) {
    }
  }

  TIdUDPServer& Server() { return server_; }
  TIdSocketHandle& Binding() { return binding_; }

 private:
  bool Stopped() const noexcept { return stop_.load(); }

  // Runs on the GUI thread, inside the hand-over.
  void Deliver() {
    if (server_.OnUDPRead) server_.OnUDPRead(this, data_, binding_);
  }

  void Run() {
    RaiseThreadPriority();
    pollfd waitFor{binding_.Handle, POLLIN, 0};
    // After a datagram the socket is read again at once: under load the
    // next one is usually there already, and the wait (which is only there
    // so the stop flag is noticed) would cost a system call per datagram.
    bool readFirst = false;
    while (!Stopped()) {
      if (!readFirst) {
        waitFor.revents = 0;
        const int ready = ::poll(&waitFor, 1, kWaitMs);
        if (ready < 0) {
          if (errno == EINTR) continue;
          return;  // the socket cannot be waited on any more: this listener ends
        }
        if (ready == 0) continue;
        if (Stopped()) break;
        if (waitFor.revents & POLLNVAL) return;
      }
      readFirst = false;
      try {
        std::size_t length = 0;
        sockaddr_storage source{};
        if (!ReceiveOne(binding_.Handle, buffer_.get(), size_, length, source)) continue;
        if (length > size_) throw EIdSocketError(10040);  // longer than the buffer: dropped whole
        data_.assign(buffer_.get(), buffer_.get() + length);
        AssignAddressText(source, binding_.PeerIP);
        binding_.PeerPort = AddressPort(source);
        // An empty read is also what a shut-down socket gives: wait first
        // before reading again.
        readFirst = length > 0;
        server_.handOver_.invoke(server_.gate_, call_);
      } catch (...) {
        // The datagram is given up; the listener goes on with the next one.
      }
    }
  }

  TIdUDPServer& server_;
  TIdSocketHandle& binding_;
  const std::size_t size_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  TIdBytes data_;
  const HandOver::Call call_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// ---------------------------------------------------------------------------
// TIdUDPServer

TIdUDPServer::TIdUDPServer(HandOver& handOver) : handOver_(handOver) {}

TIdUDPServer::~TIdUDPServer() { deactivate(); }

void TIdUDPServer::SetActive(bool value) {
  if (value == active_) return;
  if (value) {
    activate();
  } else {
    deactivate();
  }
}

void TIdUDPServer::closeSockets(std::size_t count) noexcept {
  for (std::size_t i = count; i > 0; --i) CloseHandle(*bindings_[i - 1]);
}

void TIdUDPServer::activate() {
  if (bindings_.empty()) {
    auto v4 = std::make_unique<TIdSocketHandle>();
    v4->Port = DefaultPort;
    bindings_.push_back(std::move(v4));
    if (PlatformOffersIPv6()) {
      auto v6 = std::make_unique<TIdSocketHandle>();
      v6->Port = DefaultPort;
      v6->IPVersion = TIdIPVersion::Id_IPv6;
      bindings_.push_back(std::move(v6));
    }
  }

  std::size_t opened = 0;
  try {
    for (auto& binding : bindings_) {
      AllocateAndBind(*binding);
      ++opened;
      SetBroadcastPermission(*binding, BroadcastEnabled);
      EnlargeReceiveBuffer(*binding);
    }
  } catch (...) {
    closeSockets(opened);
    throw;
  }

  handOver_.open(gate_);
  try {
    for (auto& binding : bindings_) {
      threads_.push_back(std::make_unique<TIdUDPListenerThread>(*this, *binding));
      threads_.back()->Start();
    }
  } catch (...) {
    deactivate();
    throw;
  }
  active_ = true;
}

void TIdUDPServer::deactivate() noexcept {
  // From here on no datagram reaches the read event; a hand-over that is
  // waiting is released unrun, so no thread waits for the GUI thread (which
  // is the one running this).
  handOver_.close(gate_);
  for (auto& thread : threads_) thread->RequestStop();
  for (auto& binding : bindings_) WakeReaders(*binding);
  for (auto& thread : threads_) thread->Join();
  threads_.clear();
  closeSockets(bindings_.size());
  active_ = false;
}

// ---------------------------------------------------------------------------
// Receiver thread of TIdIPMCastClient

class TIdIPMCastClient::ReceiverThread {
 public:
  explicit ReceiverThread(TIdIPMCastClient& client)
      : client_(client),
        size_(BufferBytes(client.BufferSize)),
        buffer_(new std::uint8_t[size_ + 1]),
        call_([this] { Deliver(); }) {
    data_.reserve(size_);
    for (auto& binding : client_.bindings_) waitFor_.push_back(pollfd{binding->Handle, POLLIN, 0});
  }
  ReceiverThread(const ReceiverThread&) = delete;
  ReceiverThread& operator=(const ReceiverThread&) = delete;
  ~ReceiverThread() { Join(); }

  void Start() { thread_ = std::thread([this] { Run(); }); }
  void RequestStop() noexcept { stop_.store(true); }
  void Join() noexcept {
    try {
      if (thread_.joinable()) thread_.join();
    } catch (...) {
    }
  }

 private:
  bool Stopped() const noexcept { return stop_.load(); }

  void Deliver() {
    if (client_.OnIPMCastRead) client_.OnIPMCastRead(&client_, data_, *current_);
  }

  void Run() {
    try {
      Receive();
    } catch (...) {
      // An empty or oversized datagram, a receive error or an error of the
      // read event ends multicast reception, silently.
    }
    client_.receiving_.store(false);
  }

  void Receive() {
    // As the listener: after a datagram its socket is read again before
    // waiting; only when it has nothing does the thread wait on all sockets.
    std::size_t readFirst = waitFor_.size();  // index of the socket to read at once, or none
    while (!Stopped()) {
      if (readFirst < waitFor_.size()) {
        const std::size_t i = readFirst;
        readFirst = waitFor_.size();
        if (ReceiveAndDeliver(i)) readFirst = i;
        continue;
      }
      for (auto& w : waitFor_) w.revents = 0;
      const int ready = ::poll(waitFor_.data(), waitFor_.size(), kWaitMs);
      if (ready < 0) {
        if (errno == EINTR) continue;
        ThrowSocketError();
      }
      if (ready == 0) continue;
      for (std::size_t i = 0; i < waitFor_.size() && !Stopped(); ++i) {
        if (waitFor_[i].revents == 0) continue;
        if (waitFor_[i].revents & POLLNVAL) throw EIdSocketError(10038);
        if (ReceiveAndDeliver(i)) readFirst = i;
      }
    }
  }

  // Receives one datagram from socket i and hands it over; false when there
  // was none after all. Throws what ends multicast reception.
  bool ReceiveAndDeliver(std::size_t i) {
    std::size_t length = 0;
    sockaddr_storage source{};
    if (!ReceiveOne(waitFor_[i].fd, buffer_.get(), size_, length, source)) return false;
    if (length > size_) throw EIdSocketError(10040);
    if (length == 0) throw EIdUDPReceiveErrorZeroBytes();
    data_.assign(buffer_.get(), buffer_.get() + length);
    current_ = client_.bindings_[i].get();
    AssignAddressText(source, current_->PeerIP);
    current_->PeerPort = AddressPort(source);
    client_.handOver_.invoke(client_.gate_, call_);
    return true;
  }

  TIdIPMCastClient& client_;
  const std::size_t size_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  TIdBytes data_;
  TIdSocketHandle* current_ = nullptr;
  std::vector<pollfd> waitFor_;
  const HandOver::Call call_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// ---------------------------------------------------------------------------
// TIdIPMCastClient

TIdIPMCastClient::TIdIPMCastClient(HandOver& handOver) : handOver_(handOver) {}

TIdIPMCastClient::~TIdIPMCastClient() { deactivate(); }

void TIdIPMCastClient::SetActive(bool value) {
  if (value == active_) return;
  if (value) {
    activate();
  } else {
    deactivate();
  }
}

void TIdIPMCastClient::closeSockets(std::size_t count) noexcept {
  for (std::size_t i = count; i > 0; --i) {
    LeaveGroup(MulticastGroup, *bindings_[i - 1]);
    CloseHandle(*bindings_[i - 1]);
  }
}

void TIdIPMCastClient::activate() {
  if (bindings_.empty()) {
    auto v4 = std::make_unique<TIdSocketHandle>();
    v4->Port = DefaultPort;
    bindings_.push_back(std::move(v4));
  }

  std::size_t joined = 0;
  try {
    for (auto& binding : bindings_) {
      binding->IPVersion = TIdIPVersion::Id_IPv4;  // the group is an IPv4 group
      AllocateAndBind(*binding);
      EnlargeReceiveBuffer(*binding);
      const ip_mreq request = Membership(MulticastGroup, *binding);
      if (::setsockopt(binding->Handle, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) != 0) {
        const int code = LastSocketError();
        CloseHandle(*binding);
        throw EIdSocketError(code);
      }
      ++joined;
    }
  } catch (...) {
    closeSockets(joined);
    throw;
  }

  handOver_.open(gate_);
  receiving_.store(true);
  try {
    thread_ = std::make_unique<ReceiverThread>(*this);
    thread_->Start();
  } catch (...) {
    deactivate();
    throw;
  }
  active_ = true;
}

void TIdIPMCastClient::deactivate() noexcept {
  handOver_.close(gate_);
  if (thread_) thread_->RequestStop();
  for (auto& binding : bindings_) {
    LeaveGroup(MulticastGroup, *binding);
    WakeReaders(*binding);
  }
  if (thread_) thread_->Join();
  thread_.reset();
  for (auto& binding : bindings_) CloseHandle(*binding);
  receiving_.store(false);
  active_ = false;
}

// ---------------------------------------------------------------------------
// TIdUDPClient

TIdUDPClient::~TIdUDPClient() { CloseHandle(binding_); }

namespace {

std::string Trimmed(const std::string& text) {
  // Like the trim of the original tool: every control character and space.
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
  return text.substr(first, last - first);
}

}  // namespace

void TIdUDPClient::Broadcast(const TIdBytes& AData, std::uint16_t APort, const std::string& AIP) {
  if (!binding_.HandleAllocated) {
    binding_.IP.clear();
    binding_.Port = 0;
    binding_.IPVersion = TIdIPVersion::Id_IPv4;
    AllocateAndBind(binding_);  // the system picks the source port, kept until destruction
    if (BroadcastEnabled) {
      try {
        SetBroadcastPermission(binding_, true);
      } catch (...) {
        CloseHandle(binding_);
        throw;
      }
    }
  }

  std::string ip = Trimmed(AIP);
  if (ip.empty()) ip = "255.255.255.255";
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_port = htons(APort);
  destination.sin_addr.s_addr = ::inet_addr(ip.c_str());
  // inet_addr() gives INADDR_NONE (= 255.255.255.255) for text it cannot
  // read; such text must not turn into a broadcast.
  if (destination.sin_addr.s_addr == INADDR_NONE && ip != "255.255.255.255") throw EIdSocketError(10022);

  SetBroadcastPermission(binding_, true);
  for (;;) {
    const ssize_t sent = ::sendto(binding_.Handle, AData.data(), AData.size(), 0,
                                  reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if (errno == EMSGSIZE) throw EIdPackageSizeTooBig();
      ThrowSocketError();
    }
    if (static_cast<std::size_t>(sent) != AData.size()) throw EIdNotAllBytesSent();
    break;
  }
  SetBroadcastPermission(binding_, BroadcastEnabled);
}

bool TIdUDPClient::BroadcastPermission() const {
  if (!binding_.HandleAllocated) return false;
  int value = 0;
  socklen_t length = sizeof value;
  if (::getsockopt(binding_.Handle, SOL_SOCKET, SO_BROADCAST, &value, &length) != 0) return false;
  return value != 0;
}

}  // namespace net
