// Open, close and handles: one shared entry per device number, teardown at
// the last close, failures that leave nothing behind, result codes per
// device number, and opens and closes from several threads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "DeviceTable.h"
#include "RecorderFixture.h"
#include "qio/protocol/ioctl.h"

namespace qio::library::testing {
namespace {

std::string DeviceKey(int n, const std::string& values) {
  char head[128];
  std::snprintf(head, sizeof head, "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZQS5162S\\Device%03d]\n",
                n);
  return head + values;
}

const std::string kCommonValues =
    "\"AllowConflicts\"=dword:1\n\"DeviceIndex\"=dword:0\n\"BaseAddress\"=dword:300\n\"IoPortCount\"=dword:40\n"
    "\"Irq\"=dword:5\n\"TimerClock\"=dword:14\n\"DigPortCfg\"=hex:00,00,00\n";

class DeviceTableTest : public RecorderTest {
 protected:
  std::string ExtraRegistry() const override {
    return "REGEDIT4\n" +
           DeviceKey(0, "\"BoardID\"=dword:a6\n" + kCommonValues + "\"CallName\"=\"NOPE1:\"\n") +
           DeviceKey(1, "\"BoardID\"=dword:a6\n" + kCommonValues + "\"CallName\"=\"NOPE2:\"\n") +
           DeviceKey(4, "\"BoardID\"=dword:a6\n" + kCommonValues) +
           DeviceKey(5, "\"BoardID\"=dword:a5\n" + kCommonValues + "\"CallName\"=\"REC1:\"\n");
  }
};

TEST_F(DeviceTableTest, EveryOpenOfOneDeviceGivesTheSameHandle) {
  std::uint32_t second = 0;
  ASSERT_EQ(DeviceOpen(kRecorderDevice, &second), ZQS_SUCCESS);
  EXPECT_EQ(second, handle_);
  EXPECT_NE(second, 0u);
  EXPECT_EQ(rec_open_count(), 1);  // one stream handle for both opens
  EXPECT_EQ(OpenDeviceCount(), 1u);

  std::uint32_t copy = handle_;
  ASSERT_EQ(DeviceClose(&handle_), ZQS_SUCCESS);
  EXPECT_EQ(handle_, 0u);
  std::uint8_t value = 0;
  EXPECT_EQ(DioReadPortByte(copy, 0, &value), ZQS_SUCCESS);  // still open for the other user
  EXPECT_EQ(rec_open_count(), 1);

  ASSERT_EQ(DeviceClose(&second), ZQS_SUCCESS);
  EXPECT_EQ(second, 0u);
  EXPECT_EQ(rec_open_count(), 0);
  EXPECT_EQ(OpenDeviceCount(), 0u);
  EXPECT_EQ(DioReadPortByte(copy, 0, &value), ZQS_ERROR_HANDLE);
}

TEST_F(DeviceTableTest, StaleAndMadeUpHandlesReturn3AndSendNothing) {
  const std::uint32_t old = handle_;
  ASSERT_EQ(DeviceClose(&handle_), ZQS_SUCCESS);
  ASSERT_EQ(DeviceOpen(kRecorderDevice, &handle_), ZQS_SUCCESS);
  EXPECT_NE(handle_, old);  // a new entry, a new handle
  rec_clear();

  std::uint8_t byte = 0;
  std::uint16_t type = 0x1234;
  for (std::uint32_t bad : {0u, old, handle_ + 1, handle_ ^ 0x1000u, 0xFFFFFFFFu, 0x00ABC001u}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(DioReadPortByte(bad, 0, &byte), ZQS_ERROR_HANDLE);
    EXPECT_EQ(DioWritePortByte(bad, 0, 0xFF, 0xFF), ZQS_ERROR_HANDLE);
    EXPECT_EQ(CheckEvent(bad, &type, 0), ZQS_ERROR_HANDLE);
    EXPECT_EQ(CounterReset(bad, 0), ZQS_ERROR_HANDLE);
    EXPECT_EQ(DeviceGetFeatures(bad, nullptr, 0), ZQS_ERROR_HANDLE);
    std::uint32_t copy = bad;
    EXPECT_EQ(DeviceClose(&copy), ZQS_ERROR_HANDLE);
    EXPECT_EQ(copy, bad);  // the variable is left alone
  }
  EXPECT_EQ(type, 0x1234);
  EXPECT_EQ(rec_count(), 0u);
  EXPECT_EQ(rec_open_count(), 1);  // the live device was not touched
  EXPECT_EQ(DioReadPortByte(handle_, 0, &byte), ZQS_SUCCESS);
}

TEST_F(DeviceTableTest, NullReferencesAreRefused) {
  EXPECT_EQ(DeviceOpen(kRecorderDevice, nullptr), ZQS_ERROR_BASE(kRecorderDevice) + ZQS_LOW_ARGUMENT);
  EXPECT_EQ(DeviceClose(nullptr), ZQS_ERROR_HANDLE);
  EXPECT_EQ(rec_open_count(), 1);
}

TEST_F(DeviceTableTest, IncompleteSettingsOrAnotherBoardGive2AndNoEntry) {
  const std::size_t handles = platform::OpenHandleCount();
  std::uint32_t h = 0xDEAD;
  EXPECT_EQ(DeviceOpen(4, &h), ZQS_ERROR_CONFIGURATION);  // no "CallName"
  EXPECT_EQ(h, 0u);
  h = 0xDEAD;
  EXPECT_EQ(DeviceOpen(5, &h), ZQS_ERROR_CONFIGURATION);  // "BoardID" 165
  EXPECT_EQ(h, 0u);
  EXPECT_EQ(DeviceOpen(77, &h), ZQS_ERROR_CONFIGURATION);  // no key at all
  EXPECT_EQ(OpenDeviceCount(), 1u);
  EXPECT_EQ(platform::OpenHandleCount(), handles);
}

TEST_F(DeviceTableTest, MissingStreamDeviceGives101AFor0And201AFor1LeavingNothing) {
  const std::size_t handles = platform::OpenHandleCount();
  std::uint32_t h = 0xDEAD;
  EXPECT_EQ(DeviceOpen(0, &h), 0x101Au);
  EXPECT_EQ(h, 0u);
  EXPECT_EQ(DeviceOpen(1, &h), 0x201Au);
  EXPECT_EQ(OpenDeviceCount(), 1u);
  EXPECT_EQ(platform::OpenHandleCount(), handles);  // no event handle left open
  // Nothing was entered: the next attempt fails the same way.
  EXPECT_EQ(DeviceOpen(0, &h), 0x101Au);
}

TEST_F(DeviceTableTest, SettingsAreReadAgainAtEveryOpenOfAnOpenDevice) {
  platform::RegKey key = 0;
  ASSERT_EQ(platform::RegOpenKey(platform::kLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\ZQS5162S\\Device003",
                                 &key),
            0u);
  ASSERT_EQ(platform::RegDeleteValue(key, "CallName"), 0u);
  platform::RegCloseKey(key);
  std::uint32_t h = 0xDEAD;
  EXPECT_EQ(DeviceOpen(kRecorderDevice, &h), ZQS_ERROR_CONFIGURATION);
  EXPECT_EQ(h, 0u);
  // The refused open did not count: one close tears the device down.
  ASSERT_EQ(DeviceClose(&handle_), ZQS_SUCCESS);
  EXPECT_EQ(rec_open_count(), 0);
}

TEST_F(DeviceTableTest, DriverRefusalsCarryTheDeviceNumber) {
  std::uint8_t byte = 0;
  rec_fail(0, 0x20000032);
  EXPECT_EQ(DioReadPortByte(handle_, 0, &byte), 0x4032u);
  rec_fail(0, 6);
  EXPECT_EQ(CounterReset(handle_, 1), 0x4000u + 102u);
  // A refusal without an error code of its own does not report a stale one.
  rec_fail(0, 0);
  EXPECT_EQ(CounterReset(handle_, 1), 0x4000u);
}

TEST_F(DeviceTableTest, LastCloseDisablesTheSourcesStillEnabled) {
  ASSERT_EQ(EnableEvent(handle_, 0x3405, 1, 1), ZQS_SUCCESS);
  ASSERT_EQ(EnableEvent(handle_, 0x5001, 1, 10), ZQS_SUCCESS);
  ASSERT_EQ(EnableEvent(handle_, 0x3400, 1, 1), ZQS_SUCCESS);
  ASSERT_EQ(EnableEvent(handle_, 0x3400, 0, 0), ZQS_SUCCESS);
  rec_clear();
  ASSERT_EQ(DeviceClose(&handle_), ZQS_SUCCESS);
  const std::vector<RecRequest> sent = Requests();
  ASSERT_EQ(sent.size(), 2u);
  for (const RecRequest& r : sent) {
    EXPECT_EQ(r.code, protocol::IOCTL_EVENT_ENABLE);
    EXPECT_EQ(r.inLength, 16u);
    EXPECT_EQ(r.in[0] | r.in[1] << 8, 0);  // enable 0
    EXPECT_EQ(r.in[4] | r.in[5] << 8, 0);  // trigger count 0
  }
  EXPECT_EQ(sent[0].in[2], 5);   // slot order: DI channel 5 first
  EXPECT_EQ(sent[1].in[2], 25);  // then counter 1's terminal count
  EXPECT_EQ(rec_open_count(), 0);
}

TEST_F(DeviceTableTest, OpensAndClosesFromManyThreadsKeepTheCountsRight) {
  const std::size_t handles = platform::OpenHandleCount();
  std::atomic<bool> wrongHandle{false};
  std::atomic<bool> badResult{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        std::uint32_t h = 0;
        if (DeviceOpen(kRecorderDevice, &h) != ZQS_SUCCESS || h != handle_) wrongHandle = true;
        std::uint8_t byte = 0;
        if (DioReadPortByte(h, 1, &byte) != ZQS_SUCCESS) badResult = true;
        if (DeviceClose(&h) != ZQS_SUCCESS || h != 0) badResult = true;
      }
    });
  }
  // Another device opened and closed meanwhile, through its own entries.
  threads.emplace_back([&] {
    for (int i = 0; i < 50; ++i) {
      std::uint32_t h = 0;
      if (DeviceOpen(0, &h) != 0x101Au) badResult = true;
    }
  });
  for (std::thread& t : threads) t.join();
  EXPECT_FALSE(wrongHandle);
  EXPECT_FALSE(badResult);
  EXPECT_EQ(OpenDeviceCount(), 1u);
  EXPECT_EQ(rec_open_count(), 1);
  ASSERT_EQ(DeviceClose(&handle_), ZQS_SUCCESS);
  EXPECT_EQ(rec_open_count(), 0);
  EXPECT_LT(platform::OpenHandleCount(), handles);  // the entry's 27 events and stream are gone
}

TEST_F(DeviceTableTest, CallsRacingTheLastCloseGetAnAnswerOr3) {
  const std::uint32_t h = handle_;
  std::atomic<bool> stop{false};
  std::atomic<bool> unexpected{false};
  std::vector<std::thread> users;
  for (int t = 0; t < 3; ++t) {
    users.emplace_back([&] {
      while (!stop) {
        std::uint8_t byte = 0;
        const std::uint32_t r = DioReadPortByte(h, 2, &byte);
        if (r != ZQS_SUCCESS && r != ZQS_ERROR_HANDLE) unexpected = true;
        if (r == ZQS_ERROR_HANDLE) break;
      }
    });
  }
  platform::Sleep(5);
  ASSERT_EQ(DeviceClose(&handle_), ZQS_SUCCESS);
  stop = true;
  for (std::thread& t : users) t.join();
  EXPECT_FALSE(unexpected);
  EXPECT_EQ(rec_open_count(), 0);
}

}  // namespace
}  // namespace qio::library::testing
