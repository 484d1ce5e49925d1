// The platform clock in real time: monotonic nanoseconds, tick count, sleeps
// and a Condition's deadline waits.

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "qio/platform/clock.h"
#include "qio/platform/condition.h"

namespace qio::platform {
namespace {

constexpr std::uint64_t kMs = 1'000'000;

TEST(Clock, NowNsIsMonotonic) {
  std::uint64_t previous = NowNs();
  for (int i = 0; i < 10000; ++i) {
    const std::uint64_t now = NowNs();
    ASSERT_GE(now, previous);
    previous = now;
  }
}

TEST(Clock, SleepWaitsAtLeastTheTime) {
  const std::uint64_t start = NowNs();
  Sleep(25);
  const std::uint64_t elapsed = NowNs() - start;
  EXPECT_GE(elapsed, 25 * kMs);
  EXPECT_LT(elapsed, 2000 * kMs);
}

TEST(Clock, SleepNsWaitsAtLeastTheTime) {
  const std::uint64_t start = NowNs();
  SleepNs(3 * kMs);
  EXPECT_GE(NowNs() - start, 3 * kMs);
}

TEST(Clock, SleepZeroOnlyYields) {
  const std::uint64_t start = NowNs();
  for (int i = 0; i < 100; ++i) Sleep(0);
  SleepNs(0);
  EXPECT_LT(NowNs() - start, 1000 * kMs);
}

TEST(Clock, TickCountFollowsNowNs) {
  const std::uint64_t before = NowNs() / kMs;
  const std::uint32_t ticks = GetTickCount();
  const std::uint64_t after = NowNs() / kMs;
  EXPECT_GE(ticks, static_cast<std::uint32_t>(before));
  EXPECT_LE(ticks, static_cast<std::uint32_t>(after));
  Sleep(20);
  // Unsigned difference, as callers compute it across the 32-bit wrap.
  const std::uint32_t delta = GetTickCount() - ticks;
  EXPECT_GE(delta, 20u);
  EXPECT_LT(delta, 2000u);
}

class ConditionTest : public ::testing::Test {
 protected:
  std::mutex mutex;
  Condition cv;
};

TEST_F(ConditionTest, PastDeadlineReturnsFalseAtOnce) {
  std::unique_lock lock(mutex);
  const std::uint64_t start = NowNs();
  EXPECT_FALSE(cv.WaitUntil(lock, 0));
  EXPECT_FALSE(cv.WaitUntil(lock, start));
  EXPECT_LT(NowNs() - start, 500 * kMs);
  EXPECT_TRUE(lock.owns_lock());
}

TEST_F(ConditionTest, UnnotifiedWaitEndsAtTheDeadline) {
  std::unique_lock lock(mutex);
  const std::uint64_t start = NowNs();
  const std::uint64_t deadline = start + 30 * kMs;
  while (cv.WaitUntil(lock, deadline)) {
  }
  const std::uint64_t end = NowNs();
  EXPECT_GE(end, deadline);
  EXPECT_LT(end - start, 2000 * kMs);
  EXPECT_TRUE(lock.owns_lock());
}

TEST_F(ConditionTest, NotifyEndsTheWaitBeforeTheDeadline) {
  bool ready = false;
  std::thread notifier([&] {
    Sleep(10);
    std::scoped_lock lock(mutex);
    ready = true;
    cv.NotifyAll();
  });
  std::unique_lock lock(mutex);
  const std::uint64_t deadline = NowNs() + 5000 * kMs;
  bool inTime = true;
  while (!ready && inTime) inTime = cv.WaitUntil(lock, deadline);
  EXPECT_TRUE(ready);
  EXPECT_TRUE(inTime);
  EXPECT_LT(NowNs(), deadline);
  lock.unlock();
  notifier.join();
}

TEST_F(ConditionTest, FarDeadlineWaitsForTheNotification) {
  bool ready = false;
  std::thread notifier([&] {
    Sleep(10);
    std::scoped_lock lock(mutex);
    ready = true;
    cv.NotifyAll();
  });
  std::unique_lock lock(mutex);
  while (!ready) ASSERT_TRUE(cv.WaitUntil(lock, kNoDeadline));
  lock.unlock();
  notifier.join();
}

}  // namespace
}  // namespace qio::platform
