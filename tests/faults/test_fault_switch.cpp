// The platform's fault switch: which call fails, on which thread, and that a
// failed event, thread, registry or allocation call leaves nothing behind.
#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "qio/platform/errors.h"
#include "qio/platform/faults.h"
#include "qio/platform/kernel.h"
#include "qio/platform/registry.h"

namespace pf = qio::platform;
using pf::FaultKind;

namespace {

class FaultSwitchTest : public ::testing::Test {
 protected:
  void SetUp() override { pf::RegClearAll(); }
  void TearDown() override {
    pf::DisarmFaults();
    for (pf::Handle handle : handles_) pf::CloseHandle(handle);
    pf::JoinAllThreads(pf::kInfinite);
    pf::RegClearAll();
  }

  // Creates an unnamed event; kNullHandle (kept out of the list) on failure.
  pf::Handle NewEvent(std::string_view name = {}) {
    const pf::Handle handle = pf::CreateEvent(false, false, name);
    if (handle != pf::kNullHandle) handles_.push_back(handle);
    return handle;
  }

  std::vector<pf::Handle> handles_;
};

TEST_F(FaultSwitchTest, TheNthCallFailsOnceAndTheCallsAfterItSucceed) {
  pf::ArmFault(FaultKind::EventCreation, 3);
  std::vector<bool> created;
  std::vector<std::uint32_t> errors;
  for (int i = 0; i < 5; ++i) {
    pf::SetLastError(0);
    created.push_back(NewEvent() != pf::kNullHandle);
    errors.push_back(pf::GetLastError());
  }
  EXPECT_EQ(created, (std::vector<bool>{true, true, false, true, true}));
  EXPECT_EQ(errors[2], pf::kErrorNotEnoughMemory);
  EXPECT_EQ(pf::FaultCalls(FaultKind::EventCreation), 5u);
  EXPECT_EQ(pf::FaultsInjected(FaultKind::EventCreation), 1u);
  // Other kinds are not counted while only this one is armed.
  EXPECT_EQ(pf::FaultCalls(FaultKind::Allocation), 0u);
}

TEST_F(FaultSwitchTest, APersistentFaultFailsEveryCallFromTheNthOn) {
  pf::ArmFault(FaultKind::EventCreation, 2, pf::FaultScope::CallingThread, true);
  EXPECT_NE(NewEvent(), pf::kNullHandle);
  EXPECT_EQ(NewEvent(), pf::kNullHandle);
  EXPECT_EQ(NewEvent(), pf::kNullHandle);
  EXPECT_EQ(pf::FaultsInjected(FaultKind::EventCreation), 2u);
  pf::DisarmFaults();
  EXPECT_NE(NewEvent(), pf::kNullHandle);
  // Disarmed: nothing more is counted, the last counts stay readable.
  EXPECT_EQ(pf::FaultCalls(FaultKind::EventCreation), 3u);
}

TEST_F(FaultSwitchTest, ByDefaultOnlyTheArmingThreadIsCounted) {
  pf::ArmFault(FaultKind::EventCreation, 1);
  pf::Handle other = pf::kNullHandle;
  std::thread([&] { other = pf::CreateEvent(false, false); }).join();
  EXPECT_NE(other, pf::kNullHandle);
  pf::CloseHandle(other);
  EXPECT_EQ(pf::FaultCalls(FaultKind::EventCreation), 0u);
  EXPECT_EQ(NewEvent(), pf::kNullHandle);

  pf::ArmFault(FaultKind::EventCreation, 1, pf::FaultScope::AnyThread);
  std::thread([&] { other = pf::CreateEvent(false, false); }).join();
  EXPECT_EQ(other, pf::kNullHandle);
  EXPECT_NE(NewEvent(), pf::kNullHandle);
}

TEST_F(FaultSwitchTest, ExactlyOneOfManyConcurrentCallsFails) {
  constexpr int kThreads = 4;
  constexpr int kEach = 200;
  pf::ArmFault(FaultKind::EventCreation, 317, pf::FaultScope::AnyThread);
  std::atomic<int> failed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kEach; ++i) {
        const pf::Handle event = pf::CreateEvent(false, false);
        if (event == pf::kNullHandle) {
          ++failed;
        } else {
          pf::CloseHandle(event);
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failed.load(), 1);
  EXPECT_EQ(pf::FaultCalls(FaultKind::EventCreation), std::uint64_t{kThreads * kEach});
  EXPECT_EQ(pf::FaultsInjected(FaultKind::EventCreation), 1u);
}

TEST_F(FaultSwitchTest, AFailedNamedEventLeavesNoName) {
  const std::size_t handles = pf::OpenHandleCount();
  pf::ArmFault(FaultKind::EventCreation, 1);
  EXPECT_EQ(NewEvent("ZQS_TEST_FAULT"), pf::kNullHandle);
  pf::DisarmFaults();
  EXPECT_EQ(pf::OpenEvent("ZQS_TEST_FAULT"), pf::kNullHandle);
  EXPECT_EQ(pf::GetLastError(), pf::kErrorFileNotFound);
  EXPECT_EQ(pf::OpenHandleCount(), handles);
}

std::uint32_t CountCalls(void* argument) {
  ++*static_cast<std::atomic<int>*>(argument);
  return 7;
}

TEST_F(FaultSwitchTest, AFailedThreadCreationStartsNothing) {
  std::atomic<int> runs{0};
  const std::size_t handles = pf::OpenHandleCount();
  pf::ArmFault(FaultKind::ThreadCreation, 1);
  pf::SetLastError(0);
  EXPECT_EQ(pf::CreateThread(CountCalls, &runs), pf::kNullHandle);
  EXPECT_EQ(pf::GetLastError(), pf::kErrorNotEnoughMemory);
  EXPECT_EQ(pf::LiveThreadCount(), 0u);
  EXPECT_EQ(pf::OpenHandleCount(), handles);
  // The next one runs.
  const pf::Handle thread = pf::CreateThread(CountCalls, &runs);
  ASSERT_NE(thread, pf::kNullHandle);
  EXPECT_EQ(pf::WaitForSingleObject(thread, 5000), pf::kWaitObject0);
  pf::CloseHandle(thread);
  EXPECT_EQ(runs.load(), 1);
}

TEST_F(FaultSwitchTest, AFailedRegistryWriteChangesNothing) {
  pf::RegKey key = 0;
  pf::ArmFault(FaultKind::RegistryWrite, 1);
  EXPECT_EQ(pf::RegCreateKey(pf::kLocalMachine, "Fault\\Key", &key, nullptr), pf::kErrorNotEnoughMemory);
  EXPECT_NE(pf::RegOpenKey(pf::kLocalMachine, "Fault", &key), pf::kErrorSuccess);

  pf::ArmFault(FaultKind::RegistryWrite, 2);
  ASSERT_EQ(pf::RegCreateKey(pf::kLocalMachine, "Fault\\Key", &key, nullptr), pf::kErrorSuccess);
  EXPECT_EQ(pf::RegSetDword(key, "Value", 5), pf::kErrorNotEnoughMemory);
  std::uint32_t value = 0;
  EXPECT_EQ(pf::RegQueryDword(key, "Value", &value), pf::kErrorFileNotFound);
  EXPECT_EQ(pf::RegSetDword(key, "Value", 5), pf::kErrorSuccess);
  EXPECT_EQ(pf::FaultCalls(FaultKind::RegistryWrite), 3u);
  pf::RegCloseKey(key);
}

int* volatile sink = nullptr;

// Armed, only the code under test runs (a test macro may allocate itself);
// the outcomes are checked after disarming.
TEST_F(FaultSwitchTest, AnAllocationFaultThrowsOrGivesNull) {
  bool threw = false;
  pf::ArmFault(FaultKind::Allocation, 1);
  try {
    sink = new int(1);  // through a volatile, so that the compiler keeps the allocation
    delete sink;
  } catch (const std::bad_alloc&) {
    threw = true;
  }
  pf::DisarmFaults();
  EXPECT_TRUE(threw);

  pf::ArmFault(FaultKind::Allocation, 1);
  sink = new (std::nothrow) int(1);
  pf::DisarmFaults();
  EXPECT_EQ(sink, nullptr);
  delete sink;

  std::vector<std::string> strings;
  threw = false;
  pf::ArmFault(FaultKind::Allocation, 2);
  try {
    strings.reserve(4);           // the first allocation
    strings.emplace_back(64, 'x');  // the second: the string's characters
  } catch (const std::bad_alloc&) {
    threw = true;
  }
  pf::DisarmFaults();
  EXPECT_TRUE(threw);
  EXPECT_TRUE(strings.empty());
}

TEST_F(FaultSwitchTest, InjectedFaultsCountAsResourceFailures) {
  const std::uint64_t before = pf::ResourceFailureCount();
  NewEvent();
  EXPECT_EQ(pf::ResourceFailureCount(), before);
  pf::ArmFault(FaultKind::EventCreation, 1);
  NewEvent();
  EXPECT_EQ(pf::ResourceFailureCount(), before + 1);
}

// Every allocation of a named CreateEvent failing in turn: the event is
// either made whole or not at all, and its name follows.
TEST_F(FaultSwitchTest, EveryAllocationOfANamedEventCanFailCleanly) {
  const std::size_t handles = pf::OpenHandleCount();
  int refused = 0;
  for (std::uint64_t n = 1;; ++n) {
    pf::ArmFault(FaultKind::Allocation, n);
    const pf::Handle event = pf::CreateEvent(false, false, "ZQS_TEST_EVERY_ALLOCATION");
    const std::uint32_t error = pf::GetLastError();
    pf::DisarmFaults();
    const bool fired = pf::FaultsInjected(FaultKind::Allocation) != 0;
    if (event == pf::kNullHandle) {
      ++refused;
      EXPECT_TRUE(fired);
      EXPECT_EQ(error, pf::kErrorNotEnoughMemory);
      EXPECT_EQ(pf::OpenEvent("ZQS_TEST_EVERY_ALLOCATION"), pf::kNullHandle) << "step " << n;
    } else {
      EXPECT_TRUE(pf::SetEvent(event));
      const pf::Handle opened = pf::OpenEvent("ZQS_TEST_EVERY_ALLOCATION");
      EXPECT_NE(opened, pf::kNullHandle) << "step " << n;
      EXPECT_EQ(pf::WaitForSingleObject(opened, 0), pf::kWaitObject0);
      pf::CloseHandle(opened);
      pf::CloseHandle(event);
    }
    EXPECT_EQ(pf::OpenHandleCount(), handles) << "step " << n;
    if (!fired || HasFailure()) break;
  }
  EXPECT_GE(refused, 2);  // the event object and its name at least
}

TEST_F(FaultSwitchTest, EveryAllocationOfAThreadCanFailCleanly) {
  std::atomic<int> runs{0};
  int started = 0;
  const std::size_t handles = pf::OpenHandleCount();
  for (std::uint64_t n = 1;; ++n) {
    pf::ArmFault(FaultKind::Allocation, n);
    const pf::Handle thread = pf::CreateThread(CountCalls, &runs);
    pf::DisarmFaults();
    const bool fired = pf::FaultsInjected(FaultKind::Allocation) != 0;
    if (thread != pf::kNullHandle) {
      ++started;
      EXPECT_EQ(pf::WaitForSingleObject(thread, 5000), pf::kWaitObject0) << "step " << n;
      std::uint32_t code = 0;
      EXPECT_TRUE(pf::GetExitCodeThread(thread, &code));
      EXPECT_EQ(code, 7u);
      pf::CloseHandle(thread);
    } else {
      EXPECT_TRUE(fired);
    }
    EXPECT_EQ(pf::JoinAllThreads(5000), 0u) << "step " << n;
    EXPECT_EQ(pf::OpenHandleCount(), handles) << "step " << n;
    if (!fired || HasFailure()) break;
  }
  EXPECT_EQ(runs.load(), started);
  EXPECT_GE(started, 1);
}

}  // namespace
