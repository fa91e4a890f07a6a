// Synchronous hand-over of received datagrams from receiving threads to the
// GUI thread.
//
// A receiving thread calls invoke(): the call is queued, the GUI thread is
// woken through the wake function given at construction (the GUI side posts
// itself a message from it), and the receiving thread blocks until the GUI
// thread has run the call to its end. What the call throws is carried back
// and rethrown on the receiving thread.
//
// The GUI thread calls drain() whenever it handles the wake-up message and
// whenever its event loop goes idle; drain() runs queued calls one at a time
// in queue order.
//
// Under a stream of datagrams neither side pays a sleep and a wake-up per
// datagram: the receiving thread looks at its item for a short while before
// it parks, and a drain that has just let a receiving thread go stays a few
// microseconds for its next datagram before it returns to the event loop;
// while it stays, a queued call needs no wake-up message. A receiving thread
// does not look at a call the GUI thread runs on its own processor: the call
// could not end while it looked. Either side gives up its processor while it
// looks only when the other side may be waiting for that processor: a yield
// to any other busy thread there (a flood's sender, say) would cost it a
// whole time slice. Both waits are bounded, and a drain also
// ends after a bounded time, so other GUI events are never held up for long.
//
// While datagrams come one at a time, the GUI thread and the receiving
// threads are kept to one processor, the one the GUI thread last ran a call
// on: a hand-over is then a switch between two threads of one processor,
// where waking the GUI thread on another, idle processor costs tens of
// microseconds more per answer (more on a virtual machine). As soon as a
// receiving thread finds a datagram already waiting when its call has
// ended (a flood), every thread may run anywhere again, so that the
// receiving thread and the GUI thread each have a processor; after a calm
// while they share one again. Now and then they let go for a calm while
// even without a flood, so that the system may move the GUI thread away
// from a processor that something else keeps busy. Where the system cannot
// keep a thread to one processor, nothing of this happens.
//
// Each endpoint owns a Gate; closing the gate (on the GUI thread, when the
// endpoint is deactivated) releases every waiting and every later invoke() of
// that gate without running its call.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>

#include "net/socket.h"

namespace net {

class HandOver;

// One per endpoint. Open while the endpoint may deliver datagrams.
class Gate {
 public:
  Gate() = default;
  Gate(const Gate&) = delete;
  Gate& operator=(const Gate&) = delete;

 private:
  friend class HandOver;
  bool open_ = false;  // guarded by the HandOver's mutex
};

class HandOver {
 public:
  using Wake = std::function<void()>;
  using Call = std::function<void()>;

  explicit HandOver(Wake wake);
  ~HandOver();  // lets the GUI thread run anywhere again
  HandOver(const HandOver&) = delete;
  HandOver& operator=(const HandOver&) = delete;

  // Receiving thread. Returns true when the call ran (rethrowing what it
  // threw), false when the gate was or became closed before it ran.
  bool invoke(Gate& gate, const Call& call);

  // GUI thread. Runs the queued calls, one at a time, in queue order,
  // including calls queued while draining. Returns how many ran.
  std::size_t drain();

  // GUI thread. open(): the gate's calls are accepted from now on.
  // close(): queued and later calls of the gate are released unrun.
  void open(Gate& gate);
  void close(Gate& gate);

  // Number of calls waiting to run.
  std::size_t pending() const;

  // Receiving threads, each with its own Sharing. receiverWaits(): the
  // thread's socket had no datagram, it is about to wait for one.
  // receiverBusy(): a datagram was already waiting when its last call ended.
  struct Sharing {
    int generation = 0;  // of the arrangement the thread last followed
  };
  void receiverWaits(Sharing& mine);
  void receiverBusy(Sharing& mine);
  // Any thread: a datagram was found waiting. As receiverBusy(), but the
  // calling thread follows no arrangement (the receiving threads do at
  // their next call).
  void busy();
  // The processor the GUI thread and the receiving threads share, -1: none.
  int sharedProcessor() const { return shared_.load(std::memory_order_acquire); }

 private:
  struct Item;
  Wake wake_;
  mutable std::mutex mutex_;
  std::deque<Item*> queue_;
  // True while a drain will look at the queue again before it returns
  // (guarded by mutex_); a call queued then needs no wake-up.
  bool draining_ = false;
  // queue_.size(), readable without the mutex by a lingering drain.
  std::atomic<std::size_t> queued_{0};

  // Sharing a processor (see above). Changed under sharingMutex_; each
  // change counts up generation_, and each receiving thread follows it the
  // next time it waits or is busy.
  void Share(std::int64_t now);
  void StopSharing();
  void Follow(Sharing& mine);
  std::mutex sharingMutex_;
  std::atomic<int> shared_{-1};
  std::atomic<int> generation_{0};
  std::atomic<sock::ThreadId> gui_{0};     // the GUI thread, once it has drained
  std::atomic<int> guiProcessor_{-1};      // where it last ran a call
  std::atomic<std::int64_t> lastBusy_{0};  // nanoseconds of the steady clock
  std::atomic<std::int64_t> sharedSince_{0};
};

}  // namespace net
