// Waiting for one or any of several objects: time-outs, lowest index wins,
// which signal a wait consumes, concurrent waiters, and failures.

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>
#include <vector>

#include "qio/platform/clock.h"
#include "qio/platform/errors.h"
#include "qio/platform/kernel.h"

namespace qio::platform {
namespace {

constexpr std::uint64_t kMs = 1'000'000;

class WaitTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (Handle h : owned_) EXPECT_TRUE(CloseHandle(h));
    for (auto& t : threads_) t.join();
  }

  Handle Event(bool manualReset = false, bool initialState = false) {
    const Handle h = CreateEvent(manualReset, initialState);
    EXPECT_NE(h, kNullHandle);
    owned_.push_back(h);
    return h;
  }

  static bool Signalled(Handle event) { return WaitForSingleObject(event, 0) == kWaitObject0; }

  // Polls until the counter reaches the value or two seconds pass.
  static bool Reaches(const std::atomic<int>& counter, int value) {
    const std::uint64_t deadline = NowNs() + 2000 * kMs;
    while (counter.load() < value && NowNs() < deadline) Sleep(1);
    return counter.load() >= value;
  }

  std::vector<Handle> owned_;
  std::vector<std::thread> threads_;
};

TEST_F(WaitTest, SingleWaitTimesOut) {
  const Handle event = Event();
  const std::uint64_t start = NowNs();
  EXPECT_EQ(WaitForSingleObject(event, 30), kWaitTimeout);
  const std::uint64_t elapsed = NowNs() - start;
  EXPECT_GE(elapsed, 30 * kMs);
  EXPECT_LT(elapsed, 2000 * kMs);
}

TEST_F(WaitTest, MultipleWaitTimesOut) {
  const std::array<Handle, 3> events{Event(), Event(true), Event()};
  const std::uint64_t start = NowNs();
  EXPECT_EQ(WaitForMultipleObjects(events, 20), kWaitTimeout);
  EXPECT_GE(NowNs() - start, 20 * kMs);
  EXPECT_EQ(WaitForMultipleObjects(events, 0), kWaitTimeout);
}

TEST_F(WaitTest, LowestSignalledIndexWinsAndOnlyItIsConsumed) {
  const std::array<Handle, 4> events{Event(), Event(), Event(), Event()};
  ASSERT_TRUE(SetEvent(events[3]));
  ASSERT_TRUE(SetEvent(events[1]));
  ASSERT_TRUE(SetEvent(events[2]));
  EXPECT_EQ(WaitForMultipleObjects(events, 0), kWaitObject0 + 1);
  EXPECT_FALSE(Signalled(events[1]));
  EXPECT_EQ(WaitForMultipleObjects(events, 0), kWaitObject0 + 2);
  EXPECT_EQ(WaitForMultipleObjects(events, 0), kWaitObject0 + 3);
  EXPECT_EQ(WaitForMultipleObjects(events, 0), kWaitTimeout);
}

TEST_F(WaitTest, ManualResetEventInTheListIsNotConsumed) {
  const std::array<Handle, 2> events{Event(true), Event()};
  ASSERT_TRUE(SetEvent(events[0]));
  ASSERT_TRUE(SetEvent(events[1]));
  EXPECT_EQ(WaitForMultipleObjects(events, 0), kWaitObject0);
  EXPECT_EQ(WaitForMultipleObjects(events, 0), kWaitObject0);
  EXPECT_TRUE(Signalled(events[1]));  // never reported, so never consumed
}

TEST_F(WaitTest, SixtyFourObjectsAreAccepted) {
  std::vector<Handle> events;
  for (std::size_t i = 0; i < kMaximumWaitObjects; ++i) events.push_back(Event());
  EXPECT_EQ(WaitForMultipleObjects(events, 0), kWaitTimeout);
  ASSERT_TRUE(SetEvent(events.back()));
  EXPECT_EQ(WaitForMultipleObjects(events, 10), kWaitObject0 + 63);
}

TEST_F(WaitTest, EmptyOrOversizedListFails) {
  SetLastError(kErrorSuccess);
  EXPECT_EQ(WaitForMultipleObjects({}, 0), kWaitFailed);
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  std::vector<Handle> events(kMaximumWaitObjects + 1, Event(false, true));
  SetLastError(kErrorSuccess);
  EXPECT_EQ(WaitForMultipleObjects(events, 0), kWaitFailed);
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_TRUE(Signalled(events[0]));  // the failed wait took nothing
}

TEST_F(WaitTest, BadHandleInTheListFailsAndConsumesNothing) {
  const Handle event = Event(false, true);
  const Handle closed = CreateEvent(false, false);
  ASSERT_TRUE(CloseHandle(closed));
  for (Handle bad : {kNullHandle, closed, kCurrentThread, Handle{0x40000001}}) {
    SCOPED_TRACE(bad);
    const std::array<Handle, 2> list{event, bad};
    SetLastError(kErrorSuccess);
    EXPECT_EQ(WaitForMultipleObjects(list, 0), kWaitFailed);
    EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
    EXPECT_EQ(WaitForSingleObject(bad, 0), kWaitFailed);
  }
  EXPECT_TRUE(Signalled(event));
}

TEST_F(WaitTest, BlockedWaitReportsTheObjectThatWasSet) {
  const std::array<Handle, 3> events{Event(), Event(), Event()};
  std::atomic<std::uint32_t> result{kWaitFailed};
  threads_.emplace_back([&] { result = WaitForMultipleObjects(events, 5000); });
  Sleep(20);
  ASSERT_TRUE(SetEvent(events[2]));
  threads_.back().join();
  threads_.pop_back();
  EXPECT_EQ(result.load(), kWaitObject0 + 2);
  EXPECT_FALSE(Signalled(events[2]));  // consumed by the waiter
  EXPECT_EQ(WaitForMultipleObjects(events, 0), kWaitTimeout);
}

TEST_F(WaitTest, EachSetOfAnAutoResetEventReleasesExactlyOneWaiter) {
  constexpr int kWaiters = 6;
  const Handle event = Event();
  std::atomic<int> released{0};
  std::atomic<int> failed{0};
  for (int i = 0; i < kWaiters; ++i) {
    threads_.emplace_back([&] {
      if (WaitForSingleObject(event, 5000) == kWaitObject0) {
        ++released;
      } else {
        ++failed;
      }
    });
  }
  Sleep(20);
  for (int i = 1; i <= kWaiters; ++i) {
    ASSERT_TRUE(SetEvent(event));
    ASSERT_TRUE(Reaches(released, i));
    Sleep(5);
    EXPECT_EQ(released.load(), i);
  }
  for (auto& t : threads_) t.join();
  threads_.clear();
  EXPECT_EQ(failed.load(), 0);
  EXPECT_FALSE(Signalled(event));  // no set left over
}

// Waits with 1 ms time-outs against a stream of sets: the grant and the
// time-out often land together, and the granted thread may see the grant
// before the setter has notified it (the notification comes after the lock).
// Every set is taken exactly once, by a wait or by the final check, and no
// waiter leaves while its notification is still owed (ASan would see the
// setter touch a dead frame).
TEST_F(WaitTest, SetsRacingTimeOutsAreTakenExactlyOnce) {
  constexpr int kWaiters = 3;
  constexpr int kSets = 3000;
  const Handle event = Event();
  std::atomic<bool> stop{false};
  std::atomic<int> taken{0};
  for (int i = 0; i < kWaiters; ++i) {
    threads_.emplace_back([&] {
      while (!stop.load()) {
        if (WaitForSingleObject(event, 1) == kWaitObject0) ++taken;
      }
    });
  }
  // An auto-reset event holds one signal: each set waits until the last one
  // has been taken.
  const std::uint64_t deadline = NowNs() + 20'000 * kMs;
  int sets = 0;
  while (sets < kSets && NowNs() < deadline) {
    if (taken.load() == sets) {
      ASSERT_TRUE(SetEvent(event));
      ++sets;
    } else {
      std::this_thread::yield();
    }
  }
  while (taken.load() < sets && NowNs() < deadline) Sleep(1);
  stop.store(true);
  for (auto& t : threads_) t.join();
  threads_.clear();
  EXPECT_EQ(taken.load(), sets);
  EXPECT_FALSE(Signalled(event));  // nothing taken twice, nothing left
  EXPECT_EQ(sets, kSets);
}

TEST_F(WaitTest, ManualResetEventReleasesEveryWaiter) {
  constexpr int kWaiters = 6;
  const Handle event = Event(true);
  std::atomic<int> released{0};
  for (int i = 0; i < kWaiters; ++i) {
    threads_.emplace_back([&] {
      if (WaitForSingleObject(event, 5000) == kWaitObject0) ++released;
    });
  }
  Sleep(20);
  ASSERT_TRUE(SetEvent(event));
  for (auto& t : threads_) t.join();
  threads_.clear();
  EXPECT_EQ(released.load(), kWaiters);
  EXPECT_TRUE(Signalled(event));
}

TEST_F(WaitTest, WaitAnyWaitersShareSignalsWithoutDoubling) {
  // Two waiters on {a, b}; three sets of a and b release exactly three waits.
  const std::array<Handle, 2> events{Event(), Event()};
  std::atomic<int> released{0};
  std::atomic<bool> stop{false};
  for (int i = 0; i < 2; ++i) {
    threads_.emplace_back([&] {
      while (!stop.load()) {
        if (WaitForMultipleObjects(events, 20) != kWaitTimeout) ++released;
      }
    });
  }
  EXPECT_TRUE(SetEvent(events[0]));
  EXPECT_TRUE(Reaches(released, 1));
  EXPECT_TRUE(SetEvent(events[1]));
  EXPECT_TRUE(Reaches(released, 2));
  EXPECT_TRUE(SetEvent(events[0]));
  EXPECT_TRUE(Reaches(released, 3));
  Sleep(50);
  stop = true;
  for (auto& t : threads_) t.join();
  threads_.clear();
  EXPECT_EQ(released.load(), 3);
}

// A waiter that has not begun its wait when the handle is closed sees a bad
// handle instead; such a round proves nothing and is run again.
constexpr int kCloseRounds = 5;

TEST_F(WaitTest, ClosingTheWaitedHandleKeepsTheWaiterOnTheObject) {
  std::uint32_t result = kWaitFailed;
  for (int round = 0; round < kCloseRounds && result == kWaitFailed; ++round) {
    const Handle waited = CreateEvent(false, false, "EVT_CLOSED_WHILE_WAITED");
    const Handle other = OpenEvent("EVT_CLOSED_WHILE_WAITED");
    std::atomic<std::uint32_t> seen{kWaitFailed};
    std::thread waiter([&] { seen = WaitForSingleObject(waited, 5000); });
    Sleep(30);
    EXPECT_TRUE(CloseHandle(waited));
    Sleep(10);
    EXPECT_TRUE(SetEvent(other));  // the same event, through its other handle
    waiter.join();
    ASSERT_TRUE(CloseHandle(other));
    result = seen.load();
  }
  EXPECT_EQ(result, kWaitObject0);
}

TEST_F(WaitTest, ClosingTheOnlyHandleLetsTheWaiterTimeOut) {
  std::uint32_t result = kWaitFailed;
  for (int round = 0; round < kCloseRounds && result == kWaitFailed; ++round) {
    const Handle waited = CreateEvent(false, false);
    std::atomic<std::uint32_t> seen{kWaitFailed};
    std::thread waiter([&] { seen = WaitForSingleObject(waited, 80); });
    Sleep(20);
    EXPECT_TRUE(CloseHandle(waited));
    waiter.join();
    result = seen.load();
  }
  EXPECT_EQ(result, kWaitTimeout);
}

TEST_F(WaitTest, ThreadHandleIsSignalledWhenTheThreadEnds) {
  const Handle release = Event(true);
  const Handle thread = CreateThread(
      [](void* arg) -> std::uint32_t {
        return WaitForSingleObject(*static_cast<Handle*>(arg), 5000) == kWaitObject0 ? 7 : 1;
      },
      const_cast<Handle*>(&release));
  ASSERT_NE(thread, kNullHandle);
  owned_.push_back(thread);
  EXPECT_EQ(WaitForSingleObject(thread, 20), kWaitTimeout);
  ASSERT_TRUE(SetEvent(release));
  EXPECT_EQ(WaitForSingleObject(thread, 5000), kWaitObject0);
  const std::array<Handle, 2> list{Event(), thread};
  EXPECT_EQ(WaitForSingleObject(thread, 0), kWaitObject0);  // stays signalled
  EXPECT_EQ(WaitForMultipleObjects(list, 0), kWaitObject0 + 1);
  std::uint32_t code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(JoinAllThreads(5000), 0u);
}

}  // namespace
}  // namespace qio::platform
