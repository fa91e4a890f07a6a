#include "net/handover.h"

#include <algorithm>
#include <atomic>
#include <chrono>

#include "net/socket.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace net {

namespace {

using Clock = std::chrono::steady_clock;

// How long a receiving thread looks at its item before parking on the
// condition variable, and how long a drain that has just run a call stays
// for the next one before it gives the GUI thread back to its event loop.
// The GUI thread usually runs a call within microseconds, and under a stream
// the next datagram follows as quickly, so looking saves a sleep and a
// wake-up per datagram (which costs tens of microseconds where an idle
// processor has to be woken). Looking pays only while the other side runs
// on another processor: each side looks only then, and a receiving thread
// looks only briefly at a call the GUI thread has not taken up yet (the GUI
// thread may be asleep or busy with other events). On a busy machine, where
// both threads share one processor, neither looks: looking would only take
// the processor from the thread it waits for.
constexpr auto kSpinTime = std::chrono::microseconds(100);
constexpr auto kQueuedSpinTime = std::chrono::microseconds(5);
constexpr auto kLingerTime = std::chrono::microseconds(60);
// Upper bound of calls one drain() runs. Calls queued while draining are run
// in the same drain, but a steady stream from several receiving threads must
// not keep the GUI thread inside drain() for ever; when the bound is hit the
// GUI thread is woken again so the rest runs after its other events. A drain
// that has run for kMaxDrainTime no longer stays for calls not yet queued.
constexpr std::size_t kMaxRunsPerDrain = 256;
constexpr auto kMaxDrainTime = std::chrono::milliseconds(4);

inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  _mm_pause();
#else
  std::atomic_signal_fence(std::memory_order_seq_cst);
#endif
}

}  // namespace

// Lives on the stack of the receiving thread for the duration of invoke().
struct HandOver::Item {
  enum State : int { Queued, Running, Done, Released };
  Gate* gate;
  const Call* call;
  std::atomic<int> state{Queued};  // written under the HandOver's mutex
  int receiverProcessor = -1;      // where the receiving thread queued it
  std::atomic<int> runnerProcessor{-1};  // where the GUI thread runs it
  std::exception_ptr error;        // set before state becomes Done
  std::condition_variable finished;
};

HandOver::HandOver(Wake wake) : wake_(std::move(wake)) {}

bool HandOver::invoke(Gate& gate, const Call& call) {
  Item item;
  item.gate = &gate;
  item.call = &call;
  item.receiverProcessor = sock::CurrentProcessor();
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!gate.open_) return false;
    queue_.push_back(&item);
    queued_.store(queue_.size(), std::memory_order_release);
    wake = !draining_;
  }
  if (wake && wake_) {
    try {
      wake_();
    } catch (...) {
      // The item stays queued; the GUI thread's next drain (it drains
      // whenever it goes idle) still runs it.
    }
  }

  auto finishedState = [&item] {
    const int s = item.state.load(std::memory_order_acquire);
    return s == Item::Done || s == Item::Released;
  };
  const auto spinStart = Clock::now();
  for (int i = 1; !finishedState(); ++i) {
    CpuRelax();
    if (i % 16 != 0) continue;
    const int s = item.state.load(std::memory_order_acquire);
    const auto looked = Clock::now() - spinStart;
    if (s == Item::Queued ? looked >= kQueuedSpinTime
                          : looked >= kSpinTime ||
                                item.runnerProcessor.load(std::memory_order_relaxed) == item.receiverProcessor)
      break;
  }

  std::unique_lock<std::mutex> lock(mutex_);
  // Taking the mutex also waits out a notify that the GUI thread may still be
  // making on item.finished, so the item can safely leave scope afterwards.
  item.finished.wait(lock, finishedState);
  const bool ran = item.state.load(std::memory_order_relaxed) == Item::Done;
  lock.unlock();
  if (ran && item.error) std::rethrow_exception(item.error);
  return ran;
}

std::size_t HandOver::drain() {
  const auto start = Clock::now();
  std::size_t ran = 0;
  bool more = false;
  int lastReceiver = -1;  // the processor of the receiving thread let go last
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    Item* item = nullptr;
    while (!queue_.empty()) {
      Item* front = queue_.front();
      queue_.pop_front();
      queued_.store(queue_.size(), std::memory_order_release);
      if (front->gate->open_) {
        front->runnerProcessor.store(sock::CurrentProcessor(), std::memory_order_relaxed);
        front->state.store(Item::Running, std::memory_order_release);
        item = front;
        break;
      }
      front->state.store(Item::Released, std::memory_order_release);
      front->finished.notify_one();
    }

    if (item == nullptr) {
      // Nothing queued. After a call, the receiving thread it let go is
      // probably about to queue its next datagram: stay a moment for it,
      // unless this drain has already run long enough.
      if (ran == 0 || Clock::now() - start >= kMaxDrainTime) break;
      if (lastReceiver == sock::CurrentProcessor()) break;  // it needs this processor
      draining_ = true;
      lock.unlock();
      const auto lingerEnd = Clock::now() + kLingerTime;
      for (int i = 1; queued_.load(std::memory_order_acquire) == 0; ++i) {
        CpuRelax();
        if (i % 16 == 0 && Clock::now() >= lingerEnd) break;
      }
      lock.lock();
      if (queue_.empty()) break;
      continue;
    }

    // While the call runs, nobody looks at the queue: a call queued meanwhile
    // (by another receiving thread) wakes the GUI thread as usual.
    draining_ = false;
    lock.unlock();
    std::exception_ptr error;
    try {
      (*item->call)();
    } catch (...) {
      error = std::current_exception();
    }
    ++ran;

    lock.lock();
    lastReceiver = item->receiverProcessor;
    item->error = std::move(error);
    item->state.store(Item::Done, std::memory_order_release);
    item->finished.notify_one();  // under the lock: see invoke()
    if (ran >= kMaxRunsPerDrain) {
      more = !queue_.empty();
      break;
    }
    // The queue is looked at again before this drain returns.
    draining_ = true;
  }
  draining_ = false;
  lock.unlock();
  if (more && wake_) {
    try {
      wake_();
    } catch (...) {
    }
  }
  return ran;
}

void HandOver::open(Gate& gate) {
  std::lock_guard<std::mutex> lock(mutex_);
  gate.open_ = true;
}

void HandOver::close(Gate& gate) {
  std::lock_guard<std::mutex> lock(mutex_);
  gate.open_ = false;
  auto released = std::remove_if(queue_.begin(), queue_.end(), [&gate](Item* item) {
    if (item->gate != &gate) return false;
    item->state.store(Item::Released, std::memory_order_release);
    item->finished.notify_one();
    return true;
  });
  queue_.erase(released, queue_.end());
  queued_.store(queue_.size(), std::memory_order_release);
}

std::size_t HandOver::pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

}  // namespace net
