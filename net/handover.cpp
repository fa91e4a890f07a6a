#include "net/handover.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "net/socket.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace net {

namespace {

using Clock = std::chrono::steady_clock;

// How long a receiving thread looks at its item before parking on the
// condition variable. The GUI thread usually answers within microseconds,
// so a short look avoids a sleep/wake pair per datagram; a yield now and
// then, while the GUI thread has not yet taken the call, lets a GUI thread
// that shares the processor run. The looks are short: under a flood both
// threads are busy, and a GUI thread that never rests loses its claim to a
// processor that it shares with other busy threads, which delays its timers.
constexpr auto kSpinTime = std::chrono::microseconds(20);
constexpr int kPausesPerYield = 16;
// How long a drain that has just run a call stays for the next queued call
// before it gives the GUI thread back to its event loop: a receiving thread
// on another processor queues its next datagram within a few microseconds.
constexpr auto kLingerTime = std::chrono::microseconds(20);
// Upper bounds of the calls one drain() runs and of its time. Calls queued
// while draining are run in the same drain, but a steady stream from several
// receiving threads, or calls that each take a while, must not keep the GUI
// thread inside drain() for long; when a bound is hit the GUI thread is woken
// again so the rest runs after its other events. A drain that has run for
// kMaxDrainTime neither starts another call nor stays for calls not yet
// queued.
constexpr std::size_t kMaxRunsPerDrain = 256;
constexpr auto kMaxDrainTime = std::chrono::milliseconds(2);
// How long after the last sign of a flood the threads share a processor
// again; and how long they share one at most before they run anywhere for
// a calm while, so that the system may move the GUI thread away from a
// processor that something else keeps busy (the next sharing takes the
// processor the GUI thread has run a call on since).
constexpr auto kCalmTime = std::chrono::milliseconds(250);
constexpr auto kShareTime = std::chrono::seconds(10);

std::int64_t Nanoseconds(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

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
  std::atomic<int> runner{-1};     // the processor the GUI thread runs the call on
  int submitter = -1;              // the processor the receiving thread queued it from
  std::exception_ptr error;        // set before state becomes Done
  // Set (under the mutex) when the receiving thread waits on `finished`;
  // only then is it notified. Otherwise the GUI thread never touches the
  // item again once it has set the final state, so a receiving thread that
  // sees that state while it looks may leave at once, without the mutex.
  bool parked = false;
  std::condition_variable finished;

  // GUI thread, under the mutex: the final state, and a wake-up if needed.
  // Unless its thread waits, the item may be gone as soon as the state is
  // set; a waiting thread needs the mutex to leave, so its item stays.
  void Finish(State final) {
    const bool wakeUp = parked;
    state.store(final, std::memory_order_release);
    if (wakeUp) finished.notify_one();
  }
};

HandOver::HandOver(Wake wake) : wake_(std::move(wake)) {}

HandOver::~HandOver() { StopSharing(); }

bool HandOver::invoke(Gate& gate, const Call& call) {
  Item item;
  item.gate = &gate;
  item.call = &call;
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!gate.open_) return false;
    item.submitter = sock::CurrentProcessor();
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
  const auto spinEnd = Clock::now() + kSpinTime;
  const int here = sock::CurrentProcessor();
  for (int i = 1; !finishedState(); ++i) {
    if (i % kPausesPerYield != 0) {
      CpuRelax();
      continue;
    }
    if (Clock::now() >= spinEnd) break;
    // A call that the GUI thread runs on this very processor cannot end while
    // this thread looks: it waits without taking the processor.
    const int runner = item.runner.load(std::memory_order_relaxed);
    if (here >= 0 && runner == here) break;
    // Once the GUI thread runs the call elsewhere, a yield could only hand
    // this processor to some other thread for a whole time slice.
    if (runner < 0 || here < 0) std::this_thread::yield();
  }

  if (!finishedState()) {
    std::unique_lock<std::mutex> lock(mutex_);
    item.parked = true;
    item.finished.wait(lock, finishedState);
  }
  if (item.state.load(std::memory_order_acquire) != Item::Done) return false;
  if (item.error) std::rethrow_exception(item.error);
  return true;
}

std::size_t HandOver::drain() {
  const auto start = Clock::now();
  std::size_t ran = 0;
  bool more = false;
  int lastSubmitter = -1;  // the processor the last call was queued from
  if (gui_.load(std::memory_order_relaxed) == 0) gui_.store(sock::CurrentThread(), std::memory_order_relaxed);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    Item* item = nullptr;
    while (!queue_.empty()) {
      Item* front = queue_.front();
      queue_.pop_front();
      queued_.store(queue_.size(), std::memory_order_release);
      if (front->gate->open_) {
        const int here = sock::CurrentProcessor();
        front->runner.store(here, std::memory_order_relaxed);
        guiProcessor_.store(here, std::memory_order_relaxed);
        front->state.store(Item::Running, std::memory_order_relaxed);
        item = front;
        break;
      }
      front->Finish(Item::Released);
    }

    if (item == nullptr) {
      // Nothing queued. After a call, the receiving thread it let go is
      // probably about to queue its next datagram: stay a moment for it,
      // unless this drain has already run long enough.
      if (ran == 0 || Clock::now() - start >= kMaxDrainTime) break;
      draining_ = true;
      lock.unlock();
      const auto lingerEnd = Clock::now() + kLingerTime;
      const int here = sock::CurrentProcessor();
      for (int i = 1; queued_.load(std::memory_order_acquire) == 0; ++i) {
        if (i % kPausesPerYield != 0) {
          CpuRelax();
          continue;
        }
        if (Clock::now() >= lingerEnd) break;
        // The receiving thread of the last call may share this processor;
        // otherwise a yield would only hand it to some other thread.
        if (here < 0 || lastSubmitter == here) std::this_thread::yield();
      }
      lock.lock();
      if (queue_.empty()) break;
      continue;
    }

    // While the call runs, nobody looks at the queue: a call queued meanwhile
    // (by another receiving thread) wakes the GUI thread as usual.
    draining_ = false;
    lastSubmitter = item->submitter;
    lock.unlock();
    std::exception_ptr error;
    try {
      (*item->call)();
    } catch (...) {
      error = std::current_exception();
    }
    ++ran;

    lock.lock();
    item->error = std::move(error);
    item->Finish(Item::Done);
    if (ran >= kMaxRunsPerDrain || Clock::now() - start >= kMaxDrainTime) {
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
  // The GUI thread may run anywhere again; receiving threads that stay
  // share a processor with it again after a calm while.
  StopSharing();
  std::lock_guard<std::mutex> lock(mutex_);
  gate.open_ = false;
  auto released = std::remove_if(queue_.begin(), queue_.end(), [&gate](Item* item) {
    if (item->gate != &gate) return false;
    item->Finish(Item::Released);
    return true;
  });
  queue_.erase(released, queue_.end());
  queued_.store(queue_.size(), std::memory_order_release);
}

void HandOver::receiverWaits(Sharing& mine) {
  using std::chrono::nanoseconds;
  const std::int64_t now = Nanoseconds(Clock::now());
  if (shared_.load(std::memory_order_acquire) < 0) {
    if (now - lastBusy_.load(std::memory_order_relaxed) >= nanoseconds(kCalmTime).count()) Share(now);
  } else if (now - sharedSince_.load(std::memory_order_relaxed) >= nanoseconds(kShareTime).count()) {
    lastBusy_.store(now, std::memory_order_relaxed);
    StopSharing();
  }
  Follow(mine);
}

void HandOver::receiverBusy(Sharing& mine) {
  busy();
  Follow(mine);
}

void HandOver::busy() {
  lastBusy_.store(Nanoseconds(Clock::now()), std::memory_order_relaxed);
  if (shared_.load(std::memory_order_acquire) >= 0) StopSharing();
}

void HandOver::Share(std::int64_t now) {
  const sock::ThreadId gui = gui_.load(std::memory_order_relaxed);
  const int processor = guiProcessor_.load(std::memory_order_relaxed);
  if (gui == 0 || processor < 0) return;  // no call has run yet
  std::lock_guard<std::mutex> lock(sharingMutex_);
  if (shared_.load(std::memory_order_relaxed) >= 0 || !sock::RunOnlyOn(gui, processor)) return;
  sharedSince_.store(now, std::memory_order_relaxed);
  shared_.store(processor, std::memory_order_release);
  generation_.fetch_add(1, std::memory_order_acq_rel);
}

void HandOver::StopSharing() {
  std::lock_guard<std::mutex> lock(sharingMutex_);
  if (shared_.load(std::memory_order_relaxed) < 0) return;
  sock::RunAnywhere(gui_.load(std::memory_order_relaxed));
  shared_.store(-1, std::memory_order_release);
  generation_.fetch_add(1, std::memory_order_acq_rel);
}

void HandOver::Follow(Sharing& mine) {
  if (mine.generation == generation_.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> lock(sharingMutex_);
  const int processor = shared_.load(std::memory_order_relaxed);
  const sock::ThreadId self = sock::CurrentThread();
  if (processor >= 0) {
    sock::RunOnlyOn(self, processor);
  } else {
    sock::RunAnywhere(self);
  }
  mine.generation = generation_.load(std::memory_order_relaxed);
}

std::size_t HandOver::pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

}  // namespace net
