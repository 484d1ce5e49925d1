// Open and close end to end, with the board registered under device number 3
// (devices 0 to 2 are taken by other boards of the shared device list).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "BoardFixture.h"
#include "DeviceTable.h"
#include "qio/platform/kernel.h"

namespace qio::library::testing {
namespace {

constexpr std::uint32_t kDevice = 3;

class BoardOpenCloseTest : public BoardTest {
 protected:
  std::string ExtraRegistry() const override {
    return "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZQSDAQ\\Device000]\n"
           "\"BoardID\"=dword:1\n"
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZQSDAQ\\Device001]\n"
           "\"BoardID\"=dword:2\n"
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZQSDAQ\\Device002]\n"
           "\"BoardID\"=dword:3\n";
  }
  std::uint32_t DeviceNumber() const override { return kDevice; }
};

TEST_F(BoardOpenCloseTest, DriverRefusalsAreReportedUnderTheDeviceNumber) {
  ASSERT_EQ(CounterPulseStart(handle_, 0, 0.01f, 0, 0), ZQS_SUCCESS);
  EXPECT_EQ(CounterPulseStart(handle_, 0, 0.01f, 0, 0), 0x4032u);
  std::uint16_t value = 0;
  EXPECT_EQ(ReadPortByte(handle_, kBoardBase + 0x40, &value), 0x4040u);
  std::uint32_t h = 0;
  EXPECT_EQ(DeviceOpen(0, &h), ZQS_ERROR_CONFIGURATION);  // device 0 is another kind of board
}

TEST_F(BoardOpenCloseTest, EventsOfDevice3AreTheOnesTheDriverSignals) {
  // Runs past port C are refused here; the driver's wrap to port A is not reachable.
  EXPECT_EQ(DioEnableEventAndSpecifyDiPorts(handle_, ZQS_EVENT_DI(16), 2, 2), 0x400Au);
  ASSERT_EQ(DioEnableEventAndSpecifyDiPorts(handle_, ZQS_EVENT_DI(16), 1, 2), ZQS_SUCCESS);
  ASSERT_EQ(qio_sim_set_di(board_, 1, 0x5A), QIO_TARGET_OK);
  ASSERT_EQ(qio_sim_set_di(board_, 2, 0x01), QIO_TARGET_OK);  // channel 16: port C line 0
  std::uint16_t type = 0;
  ASSERT_EQ(CheckEvent(handle_, &type, 2000), ZQS_SUCCESS);
  EXPECT_EQ(type, ZQS_EVENT_DI(16));
  std::uint8_t latched[2] = {};
  ASSERT_EQ(DioGetLatestEventDiPortsState(handle_, ZQS_EVENT_DI(16), latched, 2), ZQS_SUCCESS);
  EXPECT_EQ(latched[0], 0x5A);  // B, then C
  EXPECT_EQ(latched[1], 0x01);
}

TEST_F(BoardOpenCloseTest, SecondOpenSharesTheDriverOpenAndTheFirstCloseKeepsIt) {
  std::uint32_t second = 0;
  ASSERT_EQ(DeviceOpen(kDevice, &second), ZQS_SUCCESS);
  EXPECT_EQ(second, handle_);
  ASSERT_EQ(EnableEvent(handle_, ZQS_EVENT_DI(1), 1, 1), ZQS_SUCCESS);
  ASSERT_EQ(DeviceClose(&second), ZQS_SUCCESS);
  // Still open in the driver: its event enables are kept.
  ASSERT_EQ(qio_sim_set_di(board_, 0, 0x02), QIO_TARGET_OK);
  std::uint16_t type = 0;
  ASSERT_EQ(CheckEvent(handle_, &type, 2000), ZQS_SUCCESS);
  EXPECT_EQ(type, ZQS_EVENT_DI(1));
}

TEST_F(BoardOpenCloseTest, LastCloseResetsTheCountersInTheDriver) {
  ASSERT_EQ(CounterPulseStart(handle_, 1, 0.01f, 0, 0), ZQS_SUCCESS);
  double hz = 0, high = 0;
  ASSERT_EQ(qio_sim_get_output(board_, 1, &hz, &high), QIO_TARGET_OK);
  EXPECT_GT(hz, 0.0);
  ASSERT_EQ(DeviceClose(&handle_), ZQS_SUCCESS);
  ASSERT_EQ(qio_sim_get_output(board_, 1, &hz, &high), QIO_TARGET_OK);
  EXPECT_DOUBLE_EQ(hz, 0.0);
}

TEST_F(BoardOpenCloseTest, ThreadsOpeningClosingAndWaitingLeaveNothingBehind) {
  const std::uint32_t h0 = handle_;
  std::atomic<bool> wrong{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20; ++i) {
        std::uint32_t h = 0;
        if (DeviceOpen(kDevice, &h) != ZQS_SUCCESS || h != h0) wrong = true;
        std::uint16_t type = 0;
        if (CheckEvent(h, &type, 0) != ZQS_SUCCESS || type != ZQS_EVENT_TIMEOUT) wrong = true;
        if (DeviceClose(&h) != ZQS_SUCCESS) wrong = true;
      }
    });
  }
  for (std::thread& t : threads) Join(t);
  EXPECT_FALSE(wrong);
  ASSERT_EQ(DeviceClose(&handle_), ZQS_SUCCESS);
  EXPECT_EQ(OpenDeviceCount(), 0u);
  std::uint8_t byte = 0;
  EXPECT_EQ(DioReadPortByte(h0, 0, &byte), ZQS_ERROR_HANDLE);
}

TEST_F(BoardOpenCloseTest, ReopenAfterLastCloseGivesAWorkingNewHandle) {
  const std::uint32_t old = handle_;
  ASSERT_EQ(DeviceClose(&handle_), ZQS_SUCCESS);
  ASSERT_EQ(DeviceOpen(kDevice, &handle_), ZQS_SUCCESS);
  EXPECT_NE(handle_, old);
  ASSERT_EQ(qio_sim_set_di(board_, 1, 0x77), QIO_TARGET_OK);
  std::uint8_t byte = 0;
  ASSERT_EQ(DioReadPortByte(handle_, 1, &byte), ZQS_SUCCESS);
  EXPECT_EQ(byte, 0x77);
  EXPECT_EQ(DioReadPortByte(old, 1, &byte), ZQS_ERROR_HANDLE);
}

}  // namespace
}  // namespace qio::library::testing
