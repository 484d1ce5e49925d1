// Threads: exit codes, priorities (also through the pseudo handle), closing a
// running thread's handle, JoinAllThreads and the thread-local last error.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "qio/platform/clock.h"
#include "qio/platform/errors.h"
#include "qio/platform/kernel.h"

namespace qio::platform {
namespace {

constexpr std::uint64_t kMs = 1'000'000;

// A thread that waits for `release` and then returns `exitCode`.
struct Gate {
  Handle release = kNullHandle;
  std::uint32_t exitCode = 0;
  std::atomic<int> priorityInside{-1};
  std::atomic<bool> done{false};
};

std::uint32_t GatedProc(void* arg) {
  auto* gate = static_cast<Gate*>(arg);
  WaitForSingleObject(gate->release, 5000);
  gate->priorityInside = GetThreadPriority(GetCurrentThread());
  gate->done = true;
  return gate->exitCode;
}

class ThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gate.release = CreateEvent(true, false);
    ASSERT_NE(gate.release, kNullHandle);
  }
  void TearDown() override {
    SetEvent(gate.release);
    EXPECT_EQ(JoinAllThreads(5000), 0u);
    EXPECT_TRUE(CloseHandle(gate.release));
  }

  Gate gate;
};

TEST_F(ThreadTest, ExitCodeIsStillActiveUntilTheProcReturns) {
  gate.exitCode = 0x1234;
  const Handle thread = CreateThread(GatedProc, &gate);
  ASSERT_NE(thread, kNullHandle);
  std::uint32_t code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, kStillActive);
  EXPECT_EQ(LiveThreadCount(), 1u);
  ASSERT_TRUE(SetEvent(gate.release));
  ASSERT_EQ(WaitForSingleObject(thread, 5000), kWaitObject0);
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 0x1234u);
  EXPECT_EQ(LiveThreadCount(), 0u);
  EXPECT_TRUE(CloseHandle(thread));
}

TEST_F(ThreadTest, ArgumentReachesTheProc) {
  int value = 41;
  const Handle thread = CreateThread(
      [](void* arg) -> std::uint32_t { return static_cast<std::uint32_t>(++*static_cast<int*>(arg)); }, &value);
  ASSERT_EQ(WaitForSingleObject(thread, 5000), kWaitObject0);
  std::uint32_t code = 0;
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(value, 42);
  EXPECT_TRUE(CloseHandle(thread));
}

TEST_F(ThreadTest, BadArgumentsAndHandlesAreRefused) {
  SetLastError(kErrorSuccess);
  EXPECT_EQ(CreateThread(nullptr, nullptr), kNullHandle);
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);

  std::uint32_t code = 99;
  const Handle thread = CreateThread(GatedProc, &gate);
  EXPECT_FALSE(GetExitCodeThread(thread, nullptr));
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  for (Handle bad : {kNullHandle, gate.release, Handle{0x20FFFFFF}, Handle{0x80000002}}) {
    SCOPED_TRACE(bad);
    SetLastError(kErrorSuccess);
    EXPECT_FALSE(GetExitCodeThread(bad, &code));
    EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
    EXPECT_EQ(GetThreadPriority(bad), -1);
    EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
    EXPECT_FALSE(SetThreadPriority(bad, 100));
    EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
  }
  EXPECT_EQ(code, 99u);
  EXPECT_TRUE(CloseHandle(thread));
  EXPECT_FALSE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
}

TEST_F(ThreadTest, PriorityIsStoredAndSeenFromInside) {
  const Handle thread = CreateThread(GatedProc, &gate);
  EXPECT_EQ(GetThreadPriority(thread), kThreadPriorityNormal);
  ASSERT_TRUE(SetThreadPriority(thread, 93));
  EXPECT_EQ(GetThreadPriority(thread), 93);
  ASSERT_TRUE(SetEvent(gate.release));
  ASSERT_EQ(WaitForSingleObject(thread, 5000), kWaitObject0);
  EXPECT_EQ(gate.priorityInside.load(), 93);
  EXPECT_TRUE(CloseHandle(thread));
}

TEST_F(ThreadTest, PriorityOutOfRangeIsRefusedAndKept) {
  const Handle thread = CreateThread(GatedProc, &gate);
  ASSERT_TRUE(SetThreadPriority(thread, 0));
  ASSERT_TRUE(SetThreadPriority(thread, 255));
  for (int bad : {-1, 256, 1000}) {
    SetLastError(kErrorSuccess);
    EXPECT_FALSE(SetThreadPriority(thread, bad));
    EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
    EXPECT_FALSE(SetThreadPriority(kCurrentThread, bad));
    EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  }
  EXPECT_EQ(GetThreadPriority(thread), 255);
  EXPECT_EQ(GetThreadPriority(kCurrentThread), kThreadPriorityNormal);
  EXPECT_TRUE(CloseHandle(thread));
}

struct SelfPriority {
  std::atomic<int> before{-1};
  std::atomic<int> after{-1};
};

TEST_F(ThreadTest, PseudoHandleReachesThePlatformThreadItself) {
  SelfPriority seen;
  const Handle thread = CreateThread(
      [](void* arg) -> std::uint32_t {
        auto* s = static_cast<SelfPriority*>(arg);
        s->before = GetThreadPriority(GetCurrentThread());
        SetThreadPriority(GetCurrentThread(), 17);
        s->after = GetThreadPriority(kCurrentThread);
        return 0;
      },
      &seen);
  ASSERT_EQ(WaitForSingleObject(thread, 5000), kWaitObject0);
  EXPECT_EQ(seen.before.load(), kThreadPriorityNormal);
  EXPECT_EQ(seen.after.load(), 17);
  EXPECT_EQ(GetThreadPriority(thread), 17);  // the same priority through the real handle
  EXPECT_EQ(GetThreadPriority(kCurrentThread), kThreadPriorityNormal);  // the caller's own is untouched
  EXPECT_TRUE(CloseHandle(thread));
}

TEST_F(ThreadTest, PseudoHandlePriorityIsPerForeignThread) {
  EXPECT_EQ(GetCurrentThread(), kCurrentThread);
  ASSERT_TRUE(SetThreadPriority(GetCurrentThread(), 100));
  int other = -1;
  std::thread foreign([&] {
    other = GetThreadPriority(kCurrentThread);
    SetThreadPriority(kCurrentThread, 5);
  });
  foreign.join();
  EXPECT_EQ(other, kThreadPriorityNormal);
  EXPECT_EQ(GetThreadPriority(kCurrentThread), 100);
  std::uint32_t code = 0;
  EXPECT_TRUE(GetExitCodeThread(kCurrentThread, &code));
  EXPECT_EQ(code, kStillActive);
}

TEST_F(ThreadTest, ClosingTheHandleOfARunningThreadIsHarmless) {
  gate.exitCode = 3;
  const Handle thread = CreateThread(GatedProc, &gate);
  ASSERT_TRUE(CloseHandle(thread));
  EXPECT_EQ(LiveThreadCount(), 1u);
  EXPECT_FALSE(gate.done.load());
  ASSERT_TRUE(SetEvent(gate.release));
  EXPECT_EQ(JoinAllThreads(5000), 0u);
  EXPECT_TRUE(gate.done.load());
  EXPECT_EQ(LiveThreadCount(), 0u);
}

TEST_F(ThreadTest, JoinAllThreadsTimesOutThenJoins) {
  const std::size_t handlesBefore = OpenHandleCount();
  std::vector<Handle> threads;
  for (int i = 0; i < 3; ++i) threads.push_back(CreateThread(GatedProc, &gate));
  const std::uint64_t start = NowNs();
  EXPECT_EQ(JoinAllThreads(30), 3u);
  EXPECT_GE(NowNs() - start, 30 * kMs);
  EXPECT_EQ(LiveThreadCount(), 3u);
  ASSERT_TRUE(SetEvent(gate.release));
  EXPECT_EQ(JoinAllThreads(5000), 0u);
  EXPECT_EQ(LiveThreadCount(), 0u);
  for (Handle t : threads) {
    std::uint32_t code = kStillActive;
    EXPECT_TRUE(GetExitCodeThread(t, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(CloseHandle(t));
  }
  EXPECT_EQ(OpenHandleCount(), handlesBefore);
}

TEST_F(ThreadTest, JoinAllThreadsFromAPlatformThreadDoesNotWaitForItself) {
  std::atomic<std::size_t> seen{99};
  const Handle thread = CreateThread(
      [](void* arg) -> std::uint32_t {
        *static_cast<std::atomic<std::size_t>*>(arg) = JoinAllThreads(5000);
        return 0;
      },
      &seen);
  ASSERT_EQ(WaitForSingleObject(thread, 5000), kWaitObject0);
  EXPECT_EQ(seen.load(), 1u);  // itself, still running when it asked
  EXPECT_TRUE(CloseHandle(thread));
}

TEST_F(ThreadTest, ManyShortThreadsAreAllReaped) {
  std::atomic<std::int32_t> counter{0};
  for (int i = 0; i < 40; ++i) {
    const Handle t = CreateThread(
        [](void* arg) -> std::uint32_t {
          InterlockedIncrement(*static_cast<std::atomic<std::int32_t>*>(arg));
          return 0;
        },
        &counter);
    ASSERT_NE(t, kNullHandle);
    ASSERT_TRUE(CloseHandle(t));
  }
  EXPECT_EQ(JoinAllThreads(5000), 0u);
  EXPECT_EQ(counter.load(), 40);
}

struct Shared {
  CriticalSection lock;
  int plain = 0;
  std::atomic<std::int32_t> atomic{0};
};

TEST_F(ThreadTest, CriticalSectionSerialisesPlatformThreads) {
  Shared shared;
  std::vector<Handle> threads;
  for (int i = 0; i < 4; ++i) {
    threads.push_back(CreateThread(
        [](void* arg) -> std::uint32_t {
          auto* s = static_cast<Shared*>(arg);
          for (int n = 0; n < 2000; ++n) {
            std::scoped_lock outer(s->lock);
            std::scoped_lock inner(s->lock);  // recursive, as on the target
            ++s->plain;
            InterlockedDecrement(s->atomic);
          }
          return 0;
        },
        &shared));
  }
  EXPECT_EQ(JoinAllThreads(5000), 0u);
  EXPECT_EQ(shared.plain, 8000);
  EXPECT_EQ(shared.atomic.load(), -8000);
  for (Handle t : threads) EXPECT_TRUE(CloseHandle(t));
}

TEST(LastError, IsPerThreadAndZeroForANewThread) {
  SetLastError(42);
  std::uint32_t inside = 0xFFFF;
  std::uint32_t afterSet = 0;
  std::thread other([&] {
    inside = GetLastError();
    SetLastError(7);
    afterSet = GetLastError();
  });
  other.join();
  EXPECT_EQ(inside, 0u);
  EXPECT_EQ(afterSet, 7u);
  EXPECT_EQ(GetLastError(), 42u);
}

}  // namespace
}  // namespace qio::platform
