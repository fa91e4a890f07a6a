// The three UDP endpoints of the tool, on the platform's datagram sockets:
//   TIdUDPServer      listener for announcements broadcast to a port
//   TIdIPMCastClient  receiver for announcements sent to an IPv4 group
//   TIdUDPClient      sender of broadcasts (configuration-set packets)
// Received datagrams reach their read event on the GUI thread through a
// HandOver; the endpoints themselves hold no GUI code.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/errors.h"
#include "net/handover.h"

namespace net {

using TIdBytes = std::vector<std::uint8_t>;

enum class TIdIPVersion { Id_IPv4, Id_IPv6 };

// One socket of an endpoint.
struct TIdSocketHandle {
  std::string IP;              // local address; empty = wildcard; after bind the bound address ("0.0.0.0" / "::")
  std::uint16_t Port = 0;      // local port; after bind the bound port
  TIdIPVersion IPVersion = TIdIPVersion::Id_IPv4;
  int Handle = -1;             // socket descriptor
  bool HandleAllocated = false;
  bool BroadcastEnabled = false;  // the socket's broadcast permission as last set
  std::string PeerIP;          // source of the datagram most recently received
  std::uint16_t PeerPort = 0;
};

class TIdUDPServer;
class TIdIPMCastClient;

// A listener thread of TIdUDPServer (one per binding).
class TIdUDPListenerThread;

class TIdUDPServer {
 public:
  using ReadEvent = std::function<void(TIdUDPListenerThread* AThread, const TIdBytes& AData,
                                       TIdSocketHandle& ABinding)>;

  explicit TIdUDPServer(HandOver& handOver);
  ~TIdUDPServer();  // deactivates
  TIdUDPServer(const TIdUDPServer&) = delete;
  TIdUDPServer& operator=(const TIdUDPServer&) = delete;

  std::uint16_t DefaultPort = 0;
  bool BroadcastEnabled = false;
  int BufferSize = 8192;
  ReadEvent OnUDPRead;

  // Empty until activation creates the default binding(s).
  std::vector<std::unique_ptr<TIdSocketHandle>>& Bindings() { return bindings_; }

  bool Active() const { return active_; }
  // Throws EIdException subclasses when activation fails. Both directions are
  // GUI-thread calls; deactivation lets go of a waiting hand-over, so it never
  // waits for the GUI thread, but it must not be called from inside this
  // endpoint's own read event (the thread that delivered it cannot end
  // before the read event has returned).
  void SetActive(bool value);

 private:
  void activate();
  void deactivate() noexcept;
  void closeSockets(std::size_t count) noexcept;
  HandOver& handOver_;
  Gate gate_;
  bool active_ = false;
  std::vector<std::unique_ptr<TIdSocketHandle>> bindings_;
  std::vector<std::unique_ptr<TIdUDPListenerThread>> threads_;
  friend class TIdUDPListenerThread;
};

class TIdIPMCastClient {
 public:
  using ReadEvent = std::function<void(TIdIPMCastClient* Sender, const TIdBytes& AData,
                                       TIdSocketHandle& ABinding)>;

  explicit TIdIPMCastClient(HandOver& handOver);
  ~TIdIPMCastClient();  // deactivates
  TIdIPMCastClient(const TIdIPMCastClient&) = delete;
  TIdIPMCastClient& operator=(const TIdIPMCastClient&) = delete;

  std::string MulticastGroup;
  std::uint16_t DefaultPort = 0;
  int BufferSize = 8192;
  ReadEvent OnIPMCastRead;

  std::vector<std::unique_ptr<TIdSocketHandle>>& Bindings() { return bindings_; }

  bool Active() const { return active_; }
  void SetActive(bool value);  // as TIdUDPServer::SetActive

  // True while the receiver thread runs; false once an error ended it.
  bool Receiving() const { return receiving_.load(); }

 private:
  class ReceiverThread;
  void activate();
  void deactivate() noexcept;
  void closeSockets(std::size_t count) noexcept;
  HandOver& handOver_;
  Gate gate_;
  bool active_ = false;
  std::atomic<bool> receiving_{false};
  std::vector<std::unique_ptr<TIdSocketHandle>> bindings_;
  std::unique_ptr<ReceiverThread> thread_;
  friend class ReceiverThread;
};

class TIdUDPClient {
 public:
  TIdUDPClient() = default;
  ~TIdUDPClient();  // closes the socket
  TIdUDPClient(const TIdUDPClient&) = delete;
  TIdUDPClient& operator=(const TIdUDPClient&) = delete;

  std::uint16_t Port = 0;          // default destination of plain sends (unused by the tool)
  bool BroadcastEnabled = false;   // permission outside of Broadcast()

  // Sends AData as one datagram to AIP:APort; an empty (trimmed) AIP means
  // 255.255.255.255. Permission to broadcast is on for this one send only.
  void Broadcast(const TIdBytes& AData, std::uint16_t APort, const std::string& AIP = "");

  // For inspection: the socket's binding (empty Handle until the first broadcast).
  const TIdSocketHandle& Binding() const { return binding_; }
  // Reads the socket's broadcast permission back from the socket.
  bool BroadcastPermission() const;

 private:
  TIdSocketHandle binding_;
};

}  // namespace net
