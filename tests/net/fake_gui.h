// A stand-in for the GUI thread in the network tests: a thread that runs the
// hand-over's queued calls whenever it is woken (the real GUI posts itself a
// message from the wake function) and, like an idle event loop, every now and
// then anyway. Tasks given to run() execute on the same thread, so endpoint
// deactivation can be done where the program does it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

#include "net/handover.h"

// Polls pred until it holds or the limit has passed.
template <class Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

class FakeGui {
 public:
  FakeGui() : handOver_([this] { Wake(); }), thread_([this] { Loop(); }) {}
  ~FakeGui() { Stop(); }
  FakeGui(const FakeGui&) = delete;
  FakeGui& operator=(const FakeGui&) = delete;

  net::HandOver& handOver() { return handOver_; }
  std::thread::id id() const { return thread_.get_id(); }
  // How many handed-over calls have run.
  std::size_t callsRun() const { return callsRun_.load(); }

  // Runs f on the GUI thread and waits for it; rethrows what it throws.
  template <class F>
  auto Run(F f) -> decltype(f()) {
    std::packaged_task<decltype(f())()> task(std::move(f));
    auto result = task.get_future();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      task_ = [&task] { task(); };
    }
    cv_.notify_one();
    return result.get();
  }

  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) return;
      stop_ = true;
    }
    cv_.notify_one();
    thread_.join();
  }

 private:
  void Wake() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      woken_ = true;
    }
    cv_.notify_one();
  }

  void Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
      cv_.wait_for(lock, std::chrono::milliseconds(50), [this] { return woken_ || stop_ || task_; });
      if (stop_) break;
      woken_ = false;
      std::function<void()> task = std::move(task_);
      task_ = nullptr;
      lock.unlock();
      if (task) task();
      callsRun_ += handOver_.drain();
      lock.lock();
    }
  }

  net::HandOver handOver_;
  std::atomic<std::size_t> callsRun_{0};
  std::mutex mutex_;
  std::condition_variable cv_;
  bool woken_ = false;
  bool stop_ = false;
  std::function<void()> task_;
  std::thread thread_;
};
