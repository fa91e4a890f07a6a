// Hand-over of calls from receiving threads to the GUI thread.
#include "net/handover.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#ifdef __linux__
#include <sched.h>
#endif

#include "fake_gui.h"

namespace {

using namespace std::chrono_literals;

struct CustomError : std::runtime_error {
  explicit CustomError(int v) : std::runtime_error("custom"), value(v) {}
  int value;
};

TEST(net_HandOver, RunsQueuedCallsInQueueOrderOnTheDrainingThread) {
  std::atomic<int> wakes{0};
  net::HandOver handOver([&wakes] { ++wakes; });
  net::Gate gate;
  handOver.open(gate);

  // Three receiving threads queue one after the other; this thread drains.
  std::vector<int> order;
  std::vector<std::thread::id> ranOn;
  std::vector<std::thread> senders;
  std::vector<int> results(3, -1);
  std::atomic<int> returned{0};
  for (int i = 0; i < 3; ++i) {
    senders.emplace_back([&, i] {
      results[i] = handOver.invoke(gate, [&, i] {
        order.push_back(i);
        ranOn.push_back(std::this_thread::get_id());
      });
      ++returned;
    });
    // The call is queued under the lock and the wake follows just after it:
    // wait for both, not for a count read at one moment.
    const int queued = i + 1;
    ASSERT_TRUE(WaitFor([&] {
      return handOver.pending() == static_cast<std::size_t>(queued) && wakes.load() == queued;
    })) << "pending " << handOver.pending() << ", wakes " << wakes.load();
  }
  // Every sender waits for its call to run: none comes back before the drain.
  EXPECT_FALSE(WaitFor([&] { return returned.load() > 0; }, 100ms)) << returned.load() << " returned unrun";
  EXPECT_EQ(handOver.drain(), 3u);
  for (auto& t : senders) t.join();
  EXPECT_EQ(returned.load(), 3);
  EXPECT_EQ(wakes.load(), 3) << "one wake per queued call, none from the drain";
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  for (auto id : ranOn) EXPECT_EQ(id, std::this_thread::get_id());
  EXPECT_EQ(results, (std::vector<int>{1, 1, 1}));
  EXPECT_EQ(handOver.pending(), 0u);
  EXPECT_EQ(handOver.drain(), 0u);
}

TEST(net_HandOver, ManyThreadsOneCallAtATimeEachThreadInItsOwnOrder) {
  FakeGui gui;
  net::Gate gate;
  gui.Run([&] { gui.handOver().open(gate); });

  constexpr int kThreads = 4;
  constexpr int kCalls = 500;
  std::atomic<int> running{0};
  std::atomic<int> overlap{0};
  std::atomic<int> offGui{0};
  std::vector<std::vector<int>> seen(kThreads);  // written on the GUI thread only
  std::vector<std::thread> senders;
  for (int t = 0; t < kThreads; ++t) {
    senders.emplace_back([&, t] {
      for (int n = 0; n < kCalls; ++n) {
        gui.handOver().invoke(gate, [&, t, n] {
          if (running.fetch_add(1) != 0) ++overlap;
          if (std::this_thread::get_id() != gui.id()) ++offGui;
          seen[t].push_back(n);
          running.fetch_sub(1);
        });
      }
    });
  }
  for (auto& s : senders) s.join();
  EXPECT_EQ(overlap.load(), 0);
  EXPECT_EQ(offGui.load(), 0);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), static_cast<std::size_t>(kCalls));
    for (int n = 0; n < kCalls; ++n) ASSERT_EQ(seen[t][n], n);
  }
}

TEST(net_HandOver, ErrorsOfTheCallAreRethrownOnTheReceivingThread) {
  FakeGui gui;
  net::Gate gate;
  gui.Run([&] { gui.handOver().open(gate); });

  std::thread::id threwOn;
  try {
    gui.handOver().invoke(gate, [&] {
      threwOn = std::this_thread::get_id();
      throw CustomError(42);
    });
    ADD_FAILURE() << "no exception";
  } catch (const CustomError& e) {
    EXPECT_EQ(e.value, 42);
  }
  EXPECT_EQ(threwOn, gui.id());

  EXPECT_THROW(gui.handOver().invoke(gate, [] { throw 7; }), int);
  // The hand-over goes on working after an error.
  bool ran = false;
  EXPECT_TRUE(gui.handOver().invoke(gate, [&] { ran = true; }));
  EXPECT_TRUE(ran);
}

TEST(net_HandOver, ClosedGateReleasesWaitingAndLaterCallsUnrun) {
  net::HandOver handOver([] {});
  net::Gate gate;
  net::Gate other;

  // A gate starts closed.
  bool ran = false;
  EXPECT_FALSE(handOver.invoke(gate, [&] { ran = true; }));
  EXPECT_EQ(handOver.pending(), 0u);

  handOver.open(gate);
  handOver.open(other);
  std::atomic<int> result{-1};
  std::thread waiting([&] { result = handOver.invoke(gate, [&] { ran = true; }) ? 1 : 0; });
  bool otherRan = false;
  std::thread otherThread([&] { handOver.invoke(other, [&] { otherRan = true; }); });
  ASSERT_TRUE(WaitFor([&] { return handOver.pending() == 2; }));

  handOver.close(gate);  // no drain in between: the waiting call is let go
  waiting.join();
  EXPECT_EQ(result.load(), 0);
  EXPECT_EQ(handOver.pending(), 1u);

  // Later calls of the closed gate are refused at once.
  EXPECT_FALSE(handOver.invoke(gate, [&] { ran = true; }));
  EXPECT_EQ(handOver.drain(), 1u);  // only the other gate's call
  otherThread.join();
  EXPECT_FALSE(ran);
  EXPECT_TRUE(otherRan);

  // Reopened, the gate delivers again.
  handOver.open(gate);
  std::thread again([&] { result = handOver.invoke(gate, [&] { ran = true; }) ? 1 : 0; });
  ASSERT_TRUE(WaitFor([&] { return handOver.pending() == 1; }));
  EXPECT_EQ(handOver.drain(), 1u);
  again.join();
  EXPECT_TRUE(ran);
  EXPECT_EQ(result.load(), 1);
}

TEST(net_HandOver, CallsQueuedWhileDrainingRunInTheSameDrain) {
  net::HandOver handOver([] {});
  net::Gate gate;
  handOver.open(gate);

  std::vector<int> order;
  std::thread second;
  std::thread first([&] {
    handOver.invoke(gate, [&] {
      order.push_back(1);
      // While the first call runs, another thread queues its call.
      second = std::thread([&] { handOver.invoke(gate, [&] { order.push_back(2); }); });
      ASSERT_TRUE(WaitFor([&] { return handOver.pending() == 1; }));
    });
  });
  ASSERT_TRUE(WaitFor([&] { return handOver.pending() == 1; }));
  EXPECT_EQ(handOver.drain(), 2u);
  first.join();
  second.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(net_HandOver, ACallMayDrainAgainAsAModalMessageLoopDoes) {
  net::HandOver handOver([] {});
  net::Gate gate;
  handOver.open(gate);

  std::vector<std::string> events;
  std::thread second;
  std::thread first([&] {
    handOver.invoke(gate, [&] {
      events.push_back("first begins");
      second = std::thread([&] { handOver.invoke(gate, [&] { events.push_back("second"); }); });
      ASSERT_TRUE(WaitFor([&] { return handOver.pending() == 1; }));
      // A message box inside the handler runs the wake-up message: the next
      // datagram is handled before this one has finished.
      EXPECT_EQ(handOver.drain(), 1u);
      events.push_back("first ends");
    });
  });
  ASSERT_TRUE(WaitFor([&] { return handOver.pending() == 1; }));
  EXPECT_EQ(handOver.drain(), 1u);
  first.join();
  second.join();
  EXPECT_EQ(events, (std::vector<std::string>{"first begins", "second", "first ends"}));
}

TEST(net_HandOver, CloseWhileACallOfTheSameGateRunsLetsThatCallFinish) {
  // The gate is closed from inside a running call (as when a handler ends
  // the program): the running call completes normally, the queued one of
  // the same gate is let go.
  net::HandOver handOver([] {});
  net::Gate gate;
  handOver.open(gate);

  std::atomic<int> queuedResult{-1};
  std::thread queued;
  bool queuedRan = false;
  std::thread running([&] {
    EXPECT_TRUE(handOver.invoke(gate, [&] {
      queued = std::thread([&] { queuedResult = handOver.invoke(gate, [&] { queuedRan = true; }) ? 1 : 0; });
      ASSERT_TRUE(WaitFor([&] { return handOver.pending() == 1; }));
      handOver.close(gate);
    }));
  });
  ASSERT_TRUE(WaitFor([&] { return handOver.pending() == 1; }));
  EXPECT_EQ(handOver.drain(), 1u);
  running.join();
  queued.join();
  EXPECT_EQ(queuedResult.load(), 0);
  EXPECT_FALSE(queuedRan);
}

TEST(net_HandOver, ASenderLetGoWhileItStillLooksLeavesWithoutTheGuiThreadTouchingItsCall) {
  // A GUI thread that drains without pause answers each call within the
  // receiving thread's short look, so the receiving thread returns without
  // parking and at once queues its next call from the same stack place. Once
  // it has set the final state the GUI thread must not touch that call any
  // more (the ThreadSanitizer run sees it if it does); every call runs once,
  // in order, and reports that it ran.
  net::HandOver handOver([] {});
  net::Gate gate;
  handOver.open(gate);
  std::atomic<bool> stop{false};
  std::thread gui([&] {
    while (!stop.load()) handOver.drain();
  });
  constexpr int kCalls = 20000;
  int ran = 0;
  int next = 0;
  bool inOrder = true;
  int returnedTrue = 0;
  const auto end = std::chrono::steady_clock::now() + 20s;
  for (int n = 0; n < kCalls && std::chrono::steady_clock::now() < end; ++n) {
    returnedTrue += handOver.invoke(gate, [&, n] {
      ++ran;
      inOrder = inOrder && next++ == n;
    });
  }
  stop = true;
  gui.join();
  EXPECT_GT(ran, 1000) << "too few calls for the check to mean anything";
  EXPECT_EQ(returnedTrue, ran);
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(handOver.pending(), 0u);
}

#ifdef __linux__
// The processors a thread may run on.
cpu_set_t AffinityOf(net::sock::ThreadId thread) {
  cpu_set_t set;
  CPU_ZERO(&set);
  sched_getaffinity(static_cast<pid_t>(thread), sizeof set, &set);
  return set;
}

TEST(net_HandOver, GuiAndReceivingThreadShareOneProcessorUntilAFlood) {
  const cpu_set_t all = AffinityOf(net::sock::CurrentThread());
  if (CPU_COUNT(&all) < 2) GTEST_SKIP() << "one processor only";
  FakeGui gui;
  net::Gate gate;
  net::sock::ThreadId guiThread = 0;
  gui.Run([&] {
    gui.handOver().open(gate);
    guiThread = net::sock::CurrentThread();
  });
  net::HandOver& handOver = gui.handOver();

  // The receiving thread does what it is asked, one request at a time:
  // 1 wait, 2 busy, 3 end.
  std::atomic<int> kind{0}, asked{0}, served{0};
  std::atomic<net::sock::ThreadId> receiver{0};
  std::thread receiving([&] {
    receiver = net::sock::CurrentThread();
    net::HandOver::Sharing mine;
    handOver.invoke(gate, [] {});  // the GUI thread has run a call: its processor is known
    for (;;) {
      if (asked.load() == served.load()) {
        std::this_thread::yield();
        continue;
      }
      if (kind == 3) return;
      if (kind == 1) handOver.receiverWaits(mine);
      if (kind == 2) handOver.receiverBusy(mine);
      ++served;
    }
  });
  auto order = [&](int what) {
    kind = what;
    const int n = ++asked;
    return WaitFor([&] { return served.load() == n; });
  };

  // Calm: both kept to the processor the GUI thread ran the call on.
  ASSERT_TRUE(order(1));
  const int shared = handOver.sharedProcessor();
  ASSERT_GE(shared, 0);
  for (net::sock::ThreadId t : {guiThread, receiver.load()}) {
    const cpu_set_t set = AffinityOf(t);
    EXPECT_EQ(CPU_COUNT(&set), 1);
    EXPECT_TRUE(CPU_ISSET(shared, &set));
  }
  // A datagram waiting after a call: both may run anywhere again.
  ASSERT_TRUE(order(2));
  EXPECT_EQ(handOver.sharedProcessor(), -1);
  for (net::sock::ThreadId t : {guiThread, receiver.load()}) {
    const cpu_set_t set = AffinityOf(t);
    EXPECT_TRUE(CPU_EQUAL(&set, &all));
  }
  // After a calm while they share again; closing the gate lets the GUI thread go.
  ASSERT_TRUE(WaitFor([&] { return order(1) && handOver.sharedProcessor() >= 0; }));
  gui.Run([&] { handOver.close(gate); });
  EXPECT_EQ(handOver.sharedProcessor(), -1);
  const cpu_set_t guiSet = AffinityOf(guiThread);
  EXPECT_TRUE(CPU_EQUAL(&guiSet, &all));
  kind = 3;
  ++asked;
  receiving.join();
}
#endif

}  // namespace
