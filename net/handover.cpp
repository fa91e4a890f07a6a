#include "net/handover.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace net {

namespace {
// How often a receiving thread looks at its item before parking on the
// condition variable. The GUI thread usually answers within microseconds
// when it is idle, so a short look avoids a sleep/wake pair per datagram.
constexpr int kSpinRounds = 200;
// Upper bound of calls one drain() runs. Calls queued while draining are run
// in the same drain, but a steady stream from several receiving threads must
// not keep the GUI thread inside drain() for ever; when the bound is hit the
// GUI thread is woken again so the rest runs after its other events.
constexpr std::size_t kMaxRunsPerDrain = 256;
}  // namespace

// Lives on the stack of the receiving thread for the duration of invoke().
struct HandOver::Item {
  enum State : int { Queued, Running, Done, Released };
  Gate* gate;
  const Call* call;
  std::atomic<int> state{Queued};  // written under the HandOver's mutex
  std::exception_ptr error;        // set before state becomes Done
  std::condition_variable finished;
};

HandOver::HandOver(Wake wake) : wake_(std::move(wake)) {}

bool HandOver::invoke(Gate& gate, const Call& call) {
  Item item;
  item.gate = &gate;
  item.call = &call;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!gate.open_) return false;
    queue_.push_back(&item);
  }
  if (wake_) {
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
  for (int i = 0; i < kSpinRounds && !finishedState(); ++i) std::this_thread::yield();

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
  std::size_t ran = 0;
  bool more = false;
  for (;;) {
    Item* item = nullptr;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      while (!queue_.empty()) {
        Item* front = queue_.front();
        queue_.pop_front();
        if (front->gate->open_) {
          front->state.store(Item::Running, std::memory_order_relaxed);
          item = front;
          break;
        }
        front->state.store(Item::Released, std::memory_order_release);
        front->finished.notify_one();
      }
      if (item == nullptr) break;
    }

    std::exception_ptr error;
    try {
      (*item->call)();
    } catch (...) {
      error = std::current_exception();
    }
    ++ran;

    {
      std::lock_guard<std::mutex> lock(mutex_);
      item->error = std::move(error);
      item->state.store(Item::Done, std::memory_order_release);
      item->finished.notify_one();  // under the lock: see invoke()
      if (ran >= kMaxRunsPerDrain) {
        more = !queue_.empty();
        break;
      }
    }
  }
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
}

std::size_t HandOver::pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

}  // namespace net
