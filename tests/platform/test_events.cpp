// Events and the handle table: auto- and manual-reset, named create-or-open,
// lifetime of names, and bad handles of every sort.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "qio/platform/errors.h"
#include "qio/platform/kernel.h"

namespace qio::platform {
namespace {

constexpr std::uint32_t kJunkError = 0xDEAD;

// Every case must leave the handle table as it found it.
class EventTest : public ::testing::Test {
 protected:
  void SetUp() override { baseline_ = OpenHandleCount(); }
  void TearDown() override { EXPECT_EQ(OpenHandleCount(), baseline_); }

  static bool Signalled(Handle event) { return WaitForSingleObject(event, 0) == kWaitObject0; }

  static void ExpectInvalidHandle(bool result) {
    EXPECT_FALSE(result);
    EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
  }

 private:
  std::size_t baseline_ = 0;
};

TEST_F(EventTest, AutoResetEventIsConsumedByOneWait) {
  SetLastError(kJunkError);
  const Handle event = CreateEvent(false, false);
  ASSERT_NE(event, kNullHandle);
  EXPECT_EQ(GetLastError(), kErrorSuccess);
  EXPECT_FALSE(Signalled(event));
  ASSERT_TRUE(SetEvent(event));
  ASSERT_TRUE(SetEvent(event));  // a second set of a signalled event adds nothing
  EXPECT_TRUE(Signalled(event));
  EXPECT_FALSE(Signalled(event));
  EXPECT_TRUE(CloseHandle(event));
}

TEST_F(EventTest, InitialStateIsHonoured) {
  const Handle autoSet = CreateEvent(false, true);
  const Handle manualSet = CreateEvent(true, true);
  const Handle manualClear = CreateEvent(true, false);
  EXPECT_TRUE(Signalled(autoSet));
  EXPECT_FALSE(Signalled(autoSet));
  EXPECT_TRUE(Signalled(manualSet));
  EXPECT_FALSE(Signalled(manualClear));
  for (Handle h : {autoSet, manualSet, manualClear}) EXPECT_TRUE(CloseHandle(h));
}

TEST_F(EventTest, ManualResetEventStaysSignalledUntilReset) {
  const Handle event = CreateEvent(true, false);
  ASSERT_TRUE(SetEvent(event));
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(Signalled(event));
  ASSERT_TRUE(ResetEvent(event));
  EXPECT_FALSE(Signalled(event));
  ASSERT_TRUE(ResetEvent(event));  // resetting a clear event is fine
  EXPECT_FALSE(Signalled(event));
  EXPECT_TRUE(CloseHandle(event));
}

TEST_F(EventTest, ResetClearsAPendingAutoResetSignal) {
  const Handle event = CreateEvent(false, true);
  ASSERT_TRUE(ResetEvent(event));
  EXPECT_FALSE(Signalled(event));
  EXPECT_TRUE(CloseHandle(event));
}

TEST_F(EventTest, NamedCreateOpensTheExistingEvent) {
  const Handle first = CreateEvent(true, false, "EVT_SHARED_000");
  ASSERT_NE(first, kNullHandle);
  EXPECT_EQ(GetLastError(), kErrorSuccess);
  // Different flags: ignored, the existing manual-reset event is returned.
  const Handle second = CreateEvent(false, true, "EVT_SHARED_000");
  ASSERT_NE(second, kNullHandle);
  EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
  EXPECT_NE(first, second);
  EXPECT_FALSE(Signalled(second));  // initialState of the second call ignored
  ASSERT_TRUE(SetEvent(first));
  EXPECT_TRUE(Signalled(second));
  EXPECT_TRUE(Signalled(second));  // still manual-reset
  EXPECT_TRUE(CloseHandle(first));
  EXPECT_TRUE(CloseHandle(second));
}

TEST_F(EventTest, NamesAreCaseSensitive) {
  const Handle upper = CreateEvent(false, false, "ZQS_EVT_CASE");
  const Handle lower = CreateEvent(false, false, "zqs_evt_case");
  EXPECT_EQ(GetLastError(), kErrorSuccess);
  ASSERT_TRUE(SetEvent(upper));
  EXPECT_FALSE(Signalled(lower));
  EXPECT_TRUE(Signalled(upper));
  EXPECT_TRUE(CloseHandle(upper));
  EXPECT_TRUE(CloseHandle(lower));
}

TEST_F(EventTest, OpenEventFindsOnlyExistingNames) {
  SetLastError(kErrorSuccess);
  EXPECT_EQ(OpenEvent("NO_SUCH_EVENT"), kNullHandle);
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  EXPECT_EQ(OpenEvent(""), kNullHandle);
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);

  const Handle created = CreateEvent(false, false, "EVT_OPEN");
  const Handle opened = OpenEvent("EVT_OPEN");
  ASSERT_NE(opened, kNullHandle);
  ASSERT_TRUE(SetEvent(opened));
  EXPECT_TRUE(Signalled(created));
  EXPECT_TRUE(CloseHandle(created));
  EXPECT_TRUE(CloseHandle(opened));
}

TEST_F(EventTest, NameLivesUntilTheLastHandleCloses) {
  const Handle created = CreateEvent(true, false, "EVT_LIFETIME");
  const Handle opened = OpenEvent("EVT_LIFETIME");
  ASSERT_TRUE(SetEvent(created));
  ASSERT_TRUE(CloseHandle(created));
  // The opener keeps the event and its name alive.
  const Handle reopened = OpenEvent("EVT_LIFETIME");
  ASSERT_NE(reopened, kNullHandle);
  EXPECT_TRUE(Signalled(reopened));
  ASSERT_TRUE(CloseHandle(opened));
  ASSERT_TRUE(CloseHandle(reopened));
  EXPECT_EQ(OpenEvent("EVT_LIFETIME"), kNullHandle);
  EXPECT_EQ(GetLastError(), kErrorFileNotFound);
  // A new event of that name starts afresh.
  const Handle fresh = CreateEvent(false, false, "EVT_LIFETIME");
  EXPECT_EQ(GetLastError(), kErrorSuccess);
  EXPECT_FALSE(Signalled(fresh));
  EXPECT_TRUE(CloseHandle(fresh));
}

TEST_F(EventTest, OverlongNameIsRefused) {
  const std::string name(261, 'N');
  EXPECT_EQ(CreateEvent(false, false, name), kNullHandle);
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  EXPECT_EQ(OpenEvent(name), kNullHandle);
  EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  const Handle longest = CreateEvent(false, false, std::string(260, 'N'));
  EXPECT_NE(longest, kNullHandle);
  EXPECT_TRUE(CloseHandle(longest));
}

TEST_F(EventTest, ConcurrentCreatesOfOneNameMakeOneEvent) {
  constexpr int kThreads = 8;
  std::vector<Handle> handles(kThreads);
  std::vector<std::uint32_t> errors(kThreads);
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      while (!go.load()) std::this_thread::yield();
      handles[i] = CreateEvent(false, false, "EVT_RACE");
      errors[i] = GetLastError();
    });
  }
  go = true;
  for (auto& t : threads) t.join();
  int created = 0;
  for (int i = 0; i < kThreads; ++i) {
    ASSERT_NE(handles[i], kNullHandle);
    if (errors[i] == kErrorSuccess) {
      ++created;
    } else {
      EXPECT_EQ(errors[i], kErrorAlreadyExists);
    }
  }
  EXPECT_EQ(created, 1);
  ASSERT_TRUE(SetEvent(handles[0]));
  EXPECT_TRUE(Signalled(handles[kThreads - 1]));
  for (Handle h : handles) EXPECT_TRUE(CloseHandle(h));
}

class BadHandleTest : public EventTest {};

TEST_F(BadHandleTest, NullMadeUpAndClosedHandlesFail) {
  const Handle closed = CreateEvent(false, false);
  ASSERT_TRUE(CloseHandle(closed));
  for (Handle bad : {kNullHandle, Handle{0x12345678}, Handle{0x1FFFFFFF}, Handle{0x80000002}, closed}) {
    SCOPED_TRACE(bad);
    ExpectInvalidHandle(SetEvent(bad));
    ExpectInvalidHandle(ResetEvent(bad));
    ExpectInvalidHandle(CloseHandle(bad));
    EXPECT_EQ(WaitForSingleObject(bad, 0), kWaitFailed);
    EXPECT_EQ(GetLastError(), kErrorInvalidHandle);
  }
}

TEST_F(BadHandleTest, DoubleCloseFails) {
  const Handle event = CreateEvent(false, false, "EVT_DOUBLE_CLOSE");
  EXPECT_TRUE(CloseHandle(event));
  ExpectInvalidHandle(CloseHandle(event));
}

TEST_F(BadHandleTest, ThreadHandleIsNoEvent) {
  const Handle thread = CreateThread([](void*) -> std::uint32_t { return 0; }, nullptr);
  ASSERT_NE(thread, kNullHandle);
  ExpectInvalidHandle(SetEvent(thread));
  ExpectInvalidHandle(ResetEvent(thread));
  ExpectInvalidHandle(SetEvent(kCurrentThread));
  EXPECT_EQ(WaitForSingleObject(thread, 5000), kWaitObject0);
  EXPECT_TRUE(CloseHandle(thread));
  EXPECT_EQ(JoinAllThreads(5000), 0u);
}

TEST_F(BadHandleTest, PseudoHandleCloseChangesNothing) {
  const std::size_t before = OpenHandleCount();
  EXPECT_TRUE(CloseHandle(kCurrentThread));
  EXPECT_EQ(OpenHandleCount(), before);
}

TEST_F(BadHandleTest, StaleHandleStaysInvalidAfterItsSlotIsReused) {
  std::vector<Handle> stale;
  for (int i = 0; i < 16; ++i) {
    const Handle h = CreateEvent(false, false);
    ASSERT_TRUE(CloseHandle(h));
    stale.push_back(h);
  }
  // Enough churn to make the table hand out every freed slot again.
  std::vector<Handle> live;
  for (int round = 0; round < 4; ++round) {
    for (int i = 0; i < 1500; ++i) live.push_back(CreateEvent(false, false));
    for (Handle h : live) ASSERT_TRUE(CloseHandle(h));
    live.clear();
  }
  const Handle current = CreateEvent(false, false);
  for (Handle h : stale) {
    EXPECT_NE(h, current);
    ExpectInvalidHandle(SetEvent(h));
  }
  EXPECT_TRUE(CloseHandle(current));
}

TEST_F(BadHandleTest, OpenHandleCountTracksEveryHandle) {
  const std::size_t before = OpenHandleCount();
  const Handle a = CreateEvent(false, false, "EVT_COUNT");
  const Handle b = OpenEvent("EVT_COUNT");
  const Handle c = CreateEvent(true, false);
  EXPECT_EQ(OpenHandleCount(), before + 3);
  ASSERT_TRUE(CloseHandle(b));
  EXPECT_EQ(OpenHandleCount(), before + 2);
  ASSERT_TRUE(CloseHandle(a));
  ASSERT_TRUE(CloseHandle(c));
  EXPECT_EQ(OpenHandleCount(), before);
}

}  // namespace
}  // namespace qio::platform
