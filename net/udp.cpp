#include "net/udp.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "net/adapter.h"
#include "net/open_socket.h"

namespace net {

namespace {

constexpr int kWaitMs = 1000;  // how long a receiving thread waits before it looks at its stop flag
// How long one call of the listener's read event goes on taking waiting
// datagrams on the GUI thread (see TakeWaitingOnGuiThread).
constexpr auto kGuiTakeTime = std::chrono::milliseconds(1);

[[noreturn]] void ThrowSocketError() { throw EIdSocketError(LastSocketError()); }

sock::Family FamilyOf(const TIdSocketHandle& binding) {
  return binding.IPVersion == TIdIPVersion::Id_IPv6 ? sock::Family::IPv6 : sock::Family::IPv4;
}

void CloseHandle(TIdSocketHandle& binding) noexcept {
  if (binding.HandleAllocated) sock::Close(binding.Handle);
  binding.Handle = sock::kNone;
  binding.HandleAllocated = false;
}

// Opens the binding's socket as 'settings' says, at the binding's address
// (empty: the wildcard address) and port, without any address reuse.
// Afterwards the binding holds what the socket is bound to. On failure
// nothing stays open: a failed bind throws EIdCouldNotBindSocket, any other
// step EIdSocketError.
void AllocateAndBind(TIdSocketHandle& binding, sock::SocketSettings settings = {}) {
  settings.family = FamilyOf(binding);
  settings.address = binding.IP;
  settings.port = binding.Port;
  const sock::Opened opened = sock::OpenSocket(settings);
  if (!opened.ok()) {
    if (opened.failedAt == sock::OpenStep::Bind) throw EIdCouldNotBindSocket();
    throw EIdSocketError(opened.error);
  }
  binding.Handle = opened.handle;
  binding.HandleAllocated = true;
  binding.BroadcastEnabled = settings.broadcast;

  sock::Address bound;
  if (sock::LocalAddress(opened.handle, bound)) {
    sock::AddressText(bound, binding.IP);
    binding.Port = sock::AddressPort(bound);
  }
}

// Best effort: a receive buffer that holds a few seconds' worth of
// announcements, so a GUI thread that is busy for a while (a message box,
// a long repaint) loses none. It changes nothing else about the socket.
constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;

void SetBroadcastPermission(TIdSocketHandle& binding, bool on) {
  if (!sock::SetOption(binding.Handle, sock::Option::Broadcast, on ? 1 : 0)) ThrowSocketError();
  binding.BroadcastEnabled = on;
}

// The interface of a binding's group membership: its local address (the
// wildcard: the default multicast interface), as the join took it.
std::uint32_t InterfaceOf(const TIdSocketHandle& binding) {
  return binding.IP.empty() ? 0 : sock::InetAddr(binding.IP);
}

std::size_t BufferBytes(int bufferSize) { return bufferSize > 0 ? static_cast<std::size_t>(bufferSize) : 0; }

}  // namespace

// ---------------------------------------------------------------------------
// What both receiving endpoints' threads do: own a thread with a stop flag,
// take a datagram off a socket into one reused buffer, and hand it over.

class ReceivingEndpoint::ReceivingThread {
 public:
  ReceivingThread(const ReceivingThread&) = delete;
  ReceivingThread& operator=(const ReceivingThread&) = delete;
  // The owner joins the thread before it destroys the object.
  virtual ~ReceivingThread() { Join(); }

  void Start() { thread_ = std::thread([this] { Run(); }); }
  void RequestStop() noexcept { stop_.store(true); }
  void Join() noexcept {
    try {
      if (thread_.joinable()) thread_.join();
    } catch (...) {
    }
  }

 protected:
  ReceivingThread(ReceivingEndpoint& endpoint)
      : endpoint_(endpoint),
        size_(BufferBytes(endpoint.BufferSize)),
        buffer_(new std::uint8_t[size_ + 1]),
        call_([this] { Deliver(); }) {
    data_.reserve(size_);
  }

  bool Stopped() const noexcept { return stop_.load(); }

  // Takes one datagram off the socket without blocking into data_; false
  // when none was there after all (a wait may report a datagram that the
  // system then drops). A datagram longer than the buffer is dropped whole,
  // never cut short: it throws, as does a failed receive.
  bool Take(const TIdSocketHandle& binding) {
    std::size_t length = 0;
    switch (sock::Receive(binding.Handle, buffer_.get(), size_, length, source_, &arrival_)) {
      case sock::Received::Nothing: return false;
      case sock::Received::Oversized: throw EIdSocketError(10040);
      case sock::Received::Failed: ThrowSocketError();
      case sock::Received::Datagram: break;
    }
    data_.assign(buffer_.get(), buffer_.get() + length);
    return true;
  }

  // The binding's PeerIP, PeerPort and PeerAdapter become those of the
  // datagram taken last.
  void Publish(TIdSocketHandle& binding) {
    sock::AddressText(source_, binding.PeerIP);
    binding.PeerPort = sock::AddressPort(source_);
    binding.PeerAdapter = arrival_;
  }

  // Hands the datagram taken last to the GUI thread and waits until the
  // read event has run there (rethrowing what it threw) or the endpoint's
  // gate has closed.
  void HandOverDatagram() { endpoint_.handOver_.invoke(endpoint_.gate_, call_); }

  // Tell the hand-over that the thread is about to wait for a datagram, or
  // that one was waiting already when its last call ended (see the
  // hand-over's processor sharing); BackloggedOnGuiThread(): the GUI thread
  // found one waiting during a call.
  void Waiting() { endpoint_.handOver_.receiverWaits(sharing_); }
  void Backlogged() { endpoint_.handOver_.receiverBusy(sharing_); }
  void BackloggedOnGuiThread() { endpoint_.handOver_.busy(); }

  virtual void Run() = 0;
  // Runs on the GUI thread, inside the hand-over.
  virtual void Deliver() = 0;

  TIdBytes data_;

 private:
  ReceivingEndpoint& endpoint_;
  const std::size_t size_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  sock::Address source_;
  sock::Arrival arrival_;
  const HandOver::Call call_;
  HandOver::Sharing sharing_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// ---------------------------------------------------------------------------
// ReceivingEndpoint

ReceivingEndpoint::ReceivingEndpoint(HandOver& handOver) : handOver_(handOver) {}

ReceivingEndpoint::~ReceivingEndpoint() = default;

void ReceivingEndpoint::SetActive(bool value) {
  if (value == active_) return;
  if (value) {
    Activate();
  } else {
    Deactivate();
  }
}

void ReceivingEndpoint::AddBinding(TIdIPVersion version) {
  auto binding = std::make_unique<TIdSocketHandle>();
  binding->Port = DefaultPort;
  binding->IPVersion = version;
  bindings_.push_back(std::move(binding));
}

void ReceivingEndpoint::Activate() {
  if (bindings_.empty()) AddDefaultBindings();
  try {
    for (auto& binding : bindings_) OpenBinding(*binding);
  } catch (...) {
    CloseSockets();  // those opened before, in reverse order
    throw;
  }

  handOver_.open(gate_);
  try {
    StartThreads();
  } catch (...) {
    Deactivate();
    throw;
  }
  active_ = true;
}

void ReceivingEndpoint::StartThread(std::unique_ptr<ReceivingThread> thread) {
  threads_.push_back(std::move(thread));
  threads_.back()->Start();
}

void ReceivingEndpoint::CloseSockets() noexcept {
  for (std::size_t i = bindings_.size(); i > 0; --i) {
    TIdSocketHandle& binding = *bindings_[i - 1];
    if (!binding.HandleAllocated) continue;
    ReleaseBinding(binding);
    CloseHandle(binding);
  }
}

void ReceivingEndpoint::Deactivate() noexcept {
  // From here on no datagram reaches the read event; a hand-over that is
  // waiting is released unrun, so no thread waits for the GUI thread (which
  // is the one running this).
  handOver_.close(gate_);
  for (auto& thread : threads_) thread->RequestStop();
  // The handles stay valid until the threads have been joined, so a thread
  // can never touch a handle the system has already handed out again.
  for (auto& binding : bindings_) {
    if (!binding->HandleAllocated) continue;
    ReleaseBinding(*binding);
    sock::Wake(binding->Handle);
  }
  for (auto& thread : threads_) thread->Join();
  threads_.clear();
  ThreadsEnded();
  for (auto& binding : bindings_) CloseHandle(*binding);
  active_ = false;
}

// ---------------------------------------------------------------------------
// Listener thread of TIdUDPServer

class TIdUDPListenerThread : public ReceivingEndpoint::ReceivingThread {
 public:
  TIdUDPListenerThread(TIdUDPServer& server, TIdSocketHandle& binding)
      : ReceivingThread(server), server_(server), binding_(binding) {}
  ~TIdUDPListenerThread() override { Join(); }

  TIdUDPServer& Server() { return server_; }
  TIdSocketHandle& Binding() { return binding_; }

 private:
  void Deliver() override {
    if (server_.OnUDPRead) server_.OnUDPRead(this, data_, binding_);
    TakeWaitingOnGuiThread();
  }

  // Under a flood the next datagram is already waiting when the read event
  // returns. Handing each one over would cost a wake-up on both sides per
  // datagram, so the GUI thread takes the waiting ones off the socket
  // itself while this listener waits for its call to end: still one at a
  // time and in order, each with the binding's source set before its read
  // event, and an error of the read event gives up only that datagram, as
  // on the listener. It stops at an empty socket, at an empty datagram (a
  // shut-down socket reads as one), when the listener is asked to stop, and
  // after kGuiTakeTime, so that the GUI thread's other events are not held
  // up; the listener then goes on as before.
  void TakeWaitingOnGuiThread() {
    const auto end = std::chrono::steady_clock::now() + kGuiTakeTime;
    bool tookAny = false;
    while (!data_.empty() && !Stopped() && std::chrono::steady_clock::now() < end) {
      try {
        if (!Take(binding_)) return;
      } catch (...) {
        return;  // left to the listener, which drops or meets it
      }
      if (!tookAny) BackloggedOnGuiThread();
      tookAny = true;
      Publish(binding_);
      try {
        if (server_.OnUDPRead) server_.OnUDPRead(this, data_, binding_);
      } catch (...) {
        // Given up, as the listener gives up a datagram whose read event fails.
      }
    }
  }

  void Run() override {
    sock::RaiseThreadPriority();
    // After a datagram the socket is read again at once: under load the
    // next one is usually there already, and the wait (which is only there
    // so the stop flag is noticed) would cost a system call per datagram.
    bool readFirst = false;
    while (!Stopped()) {
      if (!readFirst) {
        Waiting();
        bool readable = false;
        const int ready = sock::WaitReadable(&binding_.Handle, &readable, 1, kWaitMs);
        if (ready < 0) return;  // the socket cannot be waited on any more: this listener ends
        if (ready == 0) continue;
        if (Stopped()) break;
      }
      const bool readAgain = readFirst;  // right after a call, without a wait
      readFirst = false;
      try {
        if (!Take(binding_)) continue;
        if (readAgain) Backlogged();
        Publish(binding_);
        HandOverDatagram();
        // An empty read is also what a shut-down socket gives: wait first
        // before reading again. (The read event may have taken further
        // datagrams on the GUI thread: data_ is the last one.)
        readFirst = !data_.empty();
      } catch (...) {
        // The datagram is given up; the listener goes on with the next one.
      }
    }
  }

  TIdUDPServer& server_;
  TIdSocketHandle& binding_;
};

// ---------------------------------------------------------------------------
// TIdUDPServer

TIdUDPServer::TIdUDPServer(HandOver& handOver) : ReceivingEndpoint(handOver) {}

TIdUDPServer::~TIdUDPServer() { Deactivate(); }

void TIdUDPServer::AddDefaultBindings() {
  AddBinding(TIdIPVersion::Id_IPv4);
  if (sock::OffersIPv6()) AddBinding(TIdIPVersion::Id_IPv6);
}

void TIdUDPServer::OpenBinding(TIdSocketHandle& binding) {
  sock::SocketSettings settings;
  settings.broadcast = BroadcastEnabled;
  settings.receiveBuffer = kReceiveBufferBytes;
  AllocateAndBind(binding, settings);
  // Best effort: without it an answer leaves by the system's route.
  sock::EnableArrival(binding.Handle, FamilyOf(binding));
}

void TIdUDPServer::StartThreads() {
  for (auto& binding : bindings_) StartThread(std::make_unique<TIdUDPListenerThread>(*this, *binding));
}

// ---------------------------------------------------------------------------
// Receiver thread of TIdIPMCastClient: one for all its sockets.

class TIdIPMCastClient::ReceiverThread : public ReceivingEndpoint::ReceivingThread {
 public:
  explicit ReceiverThread(TIdIPMCastClient& client)
      : ReceivingThread(client), client_(client), count_(client.bindings_.size()), readable_(new bool[count_]) {
    for (auto& binding : client_.bindings_) handles_.push_back(binding->Handle);
  }
  ~ReceiverThread() override { Join(); }

 private:
  void Deliver() override {
    if (client_.OnIPMCastRead) client_.OnIPMCastRead(&client_, data_, *current_);
  }

  void Run() override {
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
    std::size_t readFirst = count_;  // index of the socket to read at once, or none
    while (!Stopped()) {
      if (readFirst < count_) {
        const std::size_t i = readFirst;
        readFirst = count_;
        if (ReceiveAndDeliver(i, true)) readFirst = i;
        continue;
      }
      Waiting();
      const int ready = sock::WaitReadable(handles_.data(), readable_.get(), count_, kWaitMs);
      if (ready < 0) ThrowSocketError();
      if (ready == 0) continue;
      for (std::size_t i = 0; i < count_ && !Stopped(); ++i) {
        if (readable_[i] && ReceiveAndDeliver(i)) readFirst = i;
      }
    }
  }

  // Receives one datagram from socket i and hands it over; false when there
  // was none after all. readAgain: the socket is read again right after a
  // call, without a wait. Throws what ends multicast reception.
  bool ReceiveAndDeliver(std::size_t i, bool readAgain = false) {
    TIdSocketHandle& binding = *client_.bindings_[i];
    if (!Take(binding)) return false;
    if (readAgain) Backlogged();
    if (data_.empty()) throw EIdUDPReceiveErrorZeroBytes();
    Publish(binding);
    current_ = &binding;
    HandOverDatagram();
    return true;
  }

  TIdIPMCastClient& client_;
  const std::size_t count_;
  std::vector<sock::Handle> handles_;
  std::unique_ptr<bool[]> readable_;
  TIdSocketHandle* current_ = nullptr;
};

// ---------------------------------------------------------------------------
// TIdIPMCastClient

TIdIPMCastClient::TIdIPMCastClient(HandOver& handOver) : ReceivingEndpoint(handOver) {}

TIdIPMCastClient::~TIdIPMCastClient() { Deactivate(); }

void TIdIPMCastClient::AddDefaultBindings() { AddBinding(TIdIPVersion::Id_IPv4); }

void TIdIPMCastClient::OpenBinding(TIdSocketHandle& binding) {
  binding.IPVersion = TIdIPVersion::Id_IPv4;  // the group is an IPv4 group
  sock::SocketSettings settings;
  settings.receiveBuffer = kReceiveBufferBytes;
  settings.group = sock::InetAddr(MulticastGroup);
  AllocateAndBind(binding, settings);
  sock::EnableArrival(binding.Handle, FamilyOf(binding));
}

void TIdIPMCastClient::ReleaseBinding(TIdSocketHandle& binding) noexcept {
  sock::LeaveGroup(binding.Handle, sock::InetAddr(MulticastGroup), InterfaceOf(binding));
}

void TIdIPMCastClient::StartThreads() {
  receiving_.store(true);
  StartThread(std::make_unique<ReceiverThread>(*this));
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

// The sender's socket, opened at its first broadcast: IPv4, on the wildcard
// address at the port the system picks, never one of ReservedPorts (see
// SocketSettings::avoidPorts), kept until destruction.
void TIdUDPClient::OpenSender() {
  sock::SocketSettings settings;
  settings.broadcast = BroadcastEnabled;
  settings.avoidPorts = ReservedPorts;
  TIdSocketHandle candidate;  // IPv4, wildcard address, port 0: the system's choice
  AllocateAndBind(candidate, settings);
  binding_ = candidate;
}

void TIdUDPClient::Broadcast(const TIdBytes& AData, std::uint16_t APort, const std::string& AIP,
                             const sock::Arrival& AThrough) {
  if (!binding_.HandleAllocated) OpenSender();

  std::string ip = Trimmed(AIP);
  if (ip.empty()) ip = "255.255.255.255";
  const std::uint32_t address = sock::InetAddr(ip);
  // inet_addr() gives INADDR_NONE (= 255.255.255.255) for text it cannot
  // read; such text must not turn into a broadcast.
  if (address == sock::kNoAddress && ip != "255.255.255.255") throw EIdSocketError(10022);
  const sock::Address destination = sock::IPv4Address(address, APort);

  SetBroadcastPermission(binding_, true);
  switch (sock::SendThrough(binding_.Handle, AData.data(), AData.size(), destination, AThrough)) {
    case sock::Sent::Whole: break;
    case sock::Sent::TooBig: throw EIdPackageSizeTooBig();
    case sock::Sent::Part: throw EIdNotAllBytesSent();
    case sock::Sent::WouldBlock:
    case sock::Sent::Failed: ThrowSocketError();
  }
  SetBroadcastPermission(binding_, BroadcastEnabled);
}

bool TIdUDPClient::BroadcastPermission() const {
  if (!binding_.HandleAllocated) return false;
  int value = 0;
  return sock::GetOption(binding_.Handle, sock::Option::Broadcast, value) && value != 0;
}

}  // namespace net
