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
#include "net/socket.h"

namespace net {

using TIdBytes = std::vector<std::uint8_t>;

enum class TIdIPVersion { Id_IPv4, Id_IPv6 };

// One socket of an endpoint.
struct TIdSocketHandle {
  std::string IP;              // local address; empty = wildcard; after bind the bound address ("0.0.0.0" / "::")
  std::uint16_t Port = 0;      // local port; after bind the bound port
  TIdIPVersion IPVersion = TIdIPVersion::Id_IPv4;
  sock::Handle Handle = sock::kNone;  // the platform's socket handle
  bool HandleAllocated = false;
  bool BroadcastEnabled = false;  // the socket's broadcast permission as last set
  std::string PeerIP;          // source of the datagram most recently received
  std::uint16_t PeerPort = 0;
  sock::Arrival PeerAdapter;   // the adapter it came in on (index 0: not told)
};

class TIdUDPServer;
class TIdIPMCastClient;

// A listener thread of TIdUDPServer (one per binding).
class TIdUDPListenerThread;

// What the two receiving endpoints share: their bindings, the Active switch
// with the activation and deactivation around their own steps, and the gate
// through which their receiving threads hand datagrams to the GUI thread.
class ReceivingEndpoint {
 public:
  ReceivingEndpoint(const ReceivingEndpoint&) = delete;
  ReceivingEndpoint& operator=(const ReceivingEndpoint&) = delete;

  std::uint16_t DefaultPort = 0;
  int BufferSize = 8192;  // the largest datagram received

  // Empty until activation creates the default binding(s).
  std::vector<std::unique_ptr<TIdSocketHandle>>& Bindings() { return bindings_; }

  bool Active() const { return active_; }
  // Throws EIdException subclasses when activation fails. Both directions are
  // GUI-thread calls; deactivation lets go of a waiting hand-over, so it never
  // waits for the GUI thread, but it must not be called from inside this
  // endpoint's own read event (the thread that delivered it cannot end
  // before the read event has returned).
  void SetActive(bool value);

  // A thread that takes datagrams off the endpoint's sockets.
  class ReceivingThread;

 protected:
  explicit ReceivingEndpoint(HandOver& handOver);
  ~ReceivingEndpoint();  // the derived endpoint deactivates first

  // The endpoint's own steps of activation: the bindings made when there
  // are none, opening one binding's socket (on failure the socket may be
  // left allocated: it is closed with the others), and its threads.
  virtual void AddDefaultBindings() = 0;
  virtual void OpenBinding(TIdSocketHandle& binding) = 0;
  virtual void StartThreads() = 0;
  // Undoes what OpenBinding did besides opening the socket; never fails.
  virtual void ReleaseBinding(TIdSocketHandle&) noexcept {}
  // After the threads have ended at deactivation.
  virtual void ThreadsEnded() noexcept {}

  void AddBinding(TIdIPVersion version);
  // Starts a receiving thread that the endpoint owns until deactivation.
  void StartThread(std::unique_ptr<ReceivingThread> thread);
  void Deactivate() noexcept;

  HandOver& handOver_;
  Gate gate_;
  std::vector<std::unique_ptr<TIdSocketHandle>> bindings_;

 private:
  void Activate();
  void CloseSockets() noexcept;
  bool active_ = false;
  std::vector<std::unique_ptr<ReceivingThread>> threads_;
};

class TIdUDPServer : public ReceivingEndpoint {
 public:
  using ReadEvent = std::function<void(TIdUDPListenerThread* AThread, const TIdBytes& AData,
                                       TIdSocketHandle& ABinding)>;

  explicit TIdUDPServer(HandOver& handOver);
  ~TIdUDPServer();  // deactivates

  bool BroadcastEnabled = false;
  ReadEvent OnUDPRead;

 private:
  void AddDefaultBindings() override;
  void OpenBinding(TIdSocketHandle& binding) override;
  void StartThreads() override;
  friend class TIdUDPListenerThread;
};

class TIdIPMCastClient : public ReceivingEndpoint {
 public:
  using ReadEvent = std::function<void(TIdIPMCastClient* Sender, const TIdBytes& AData,
                                       TIdSocketHandle& ABinding)>;

  explicit TIdIPMCastClient(HandOver& handOver);
  ~TIdIPMCastClient();  // deactivates

  std::string MulticastGroup;
  ReadEvent OnIPMCastRead;

  // True while the receiver thread runs; false once an error ended it.
  bool Receiving() const { return receiving_.load(); }

 private:
  class ReceiverThread;
  void AddDefaultBindings() override;
  void OpenBinding(TIdSocketHandle& binding) override;
  void StartThreads() override;
  void ReleaseBinding(TIdSocketHandle& binding) noexcept override;
  void ThreadsEnded() noexcept override { receiving_.store(false); }
  std::atomic<bool> receiving_{false};
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
  // Ports the source port must not be (the tool's own). The source port is
  // the system's choice; when it offers one of these, the socket is bound
  // again.
  std::vector<std::uint16_t> ReservedPorts;

  // Sends AData as one datagram to AIP:APort; an empty (trimmed) AIP means
  // 255.255.255.255. Permission to broadcast is on for this one send only.
  // AThrough names the adapter it leaves by (the one the datagram being
  // answered came in on); without one, the system's route decides.
  void Broadcast(const TIdBytes& AData, std::uint16_t APort, const std::string& AIP = "",
                 const sock::Arrival& AThrough = {});

  // For inspection: the socket's binding (empty Handle until the first broadcast).
  const TIdSocketHandle& Binding() const { return binding_; }
  // Reads the socket's broadcast permission back from the socket.
  bool BroadcastPermission() const;

 private:
  void OpenSender();
  TIdSocketHandle binding_;
};

}  // namespace net
