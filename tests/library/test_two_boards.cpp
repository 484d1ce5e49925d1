// Two boards on their own interrupt lines, used at the same time through the
// library: whatever device 1 does reaches only the board at 0x340, its events
// and its closes do not reach the application waiting on device 0, and each
// board measures its own inputs.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "BoardFixture.h"
#include "qio/protocol/board_registers.h"

namespace qio::library::testing {
namespace {

class TwoBoardTest : public BoardTest {
 protected:
  std::string ExtraRegistry() const override { return SecondBoardKey(7, "01,00,00"); }

  void SetUp() override {
    BoardTest::SetUp();
    if (HasFatalFailure()) return;
    second_ = qio_target_board(target_, 0x340);
    ASSERT_NE(second_, nullptr);
  }

  static std::size_t TraceLength(QioSimBoard* board) {
    std::vector<QioPortAccess> all(4096);
    std::size_t count = 0;
    EXPECT_EQ(qio_sim_trace_read(board, all.data(), all.size(), &count), QIO_TARGET_OK);
    return count;
  }

  QioSimBoard* second_ = nullptr;
};

// Every kind of request on device 1 lands in the second board's window and
// leaves the first board's registers untouched, and the other way round.
TEST_F(TwoBoardTest, RequestsOnOneDeviceReachOnlyItsOwnBoard) {
  std::uint32_t other = 0;
  ASSERT_EQ(DeviceOpen(1, &other), ZQS_SUCCESS);
  ASSERT_NE(other, handle_);
  ASSERT_EQ(qio_sim_trace_enable(board_, 1), QIO_TARGET_OK);
  ASSERT_EQ(qio_sim_trace_enable(second_, 1), QIO_TARGET_OK);

  EXPECT_EQ(DioWritePortByte(other, 0, 0xFF, 0xA5), ZQS_SUCCESS);
  EXPECT_EQ(CounterEventStart(other, 1, 0), ZQS_SUCCESS);
  EXPECT_EQ(EnableEvent(other, ZQS_EVENT_TERMINAL_COUNT1, 1, 1), ZQS_SUCCESS);
  EXPECT_EQ(FreqOutStart(other, 0, 4, ZQS_FREQOUT_SOURCE(4)), ZQS_SUCCESS);
  EXPECT_EQ(CounterReset(other, 1), ZQS_SUCCESS);
  EXPECT_EQ(TraceLength(board_), 0u) << "device 1 reached the board at 0x300";
  EXPECT_GT(TraceLength(second_), 0u);
  std::uint8_t pins = 0;
  ASSERT_EQ(qio_sim_get_pins(second_, 0, &pins), QIO_TARGET_OK);
  EXPECT_EQ(pins, 0xA5);
  double hz = -1;
  ASSERT_EQ(qio_sim_get_freqout(second_, 0, &hz), QIO_TARGET_OK);
  EXPECT_DOUBLE_EQ(hz, 250'000.0);
  ASSERT_EQ(qio_sim_get_freqout(board_, 0, &hz), QIO_TARGET_OK);
  EXPECT_DOUBLE_EQ(hz, 0.0);

  EXPECT_EQ(CounterEventStart(handle_, 0, 0), ZQS_SUCCESS);
  EXPECT_EQ(CounterReset(handle_, 0), ZQS_SUCCESS);
  EXPECT_EQ(TraceLength(second_), 0u) << "device 0 reached the board at 0x340";
  EXPECT_GT(TraceLength(board_), 0u);
  ASSERT_EQ(DeviceClose(&other), ZQS_SUCCESS);
}

// Each board measures its own CLK0, on the virtual clock to the hertz.
TEST_F(TwoBoardTest, EachBoardMeasuresItsOwnInput) {
  std::uint32_t other = 0;
  ASSERT_EQ(DeviceOpen(1, &other), ZQS_SUCCESS);
  ASSERT_EQ(qio_sim_set_counter_input(board_, 0, 1000.0, 50.0), QIO_TARGET_OK);
  ASSERT_EQ(qio_sim_set_counter_input(second_, 0, 20'000.0, 50.0), QIO_TARGET_OK);
  ASSERT_EQ(CounterFreqStart(handle_, 0, 1000, 0), ZQS_SUCCESS);
  ASSERT_EQ(CounterFreqStart(other, 0, 1000, 0), ZQS_SUCCESS);
  ASSERT_EQ(qio_target_sleep(target_, 2001), QIO_TARGET_OK);
  float first = -1, second = -1;
  ASSERT_EQ(CounterFreqRead(handle_, 0, &first), ZQS_SUCCESS);
  ASSERT_EQ(CounterFreqRead(other, 0, &second), ZQS_SUCCESS);
  EXPECT_FLOAT_EQ(first, 1000.0f);
  EXPECT_FLOAT_EQ(second, 20'000.0f);
  // A reset of device 1's counter leaves device 0's measurement running.
  ASSERT_EQ(CounterReset(other, 0), ZQS_SUCCESS);
  ASSERT_EQ(qio_target_sleep(target_, 1000), QIO_TARGET_OK);
  ASSERT_EQ(CounterFreqRead(handle_, 0, &first), ZQS_SUCCESS);
  EXPECT_FLOAT_EQ(first, 1000.0f);
  ASSERT_EQ(DeviceClose(&other), ZQS_SUCCESS);
}

// A thread waits on device 0's DI events while device 1 is opened, run and
// closed again and again: the waiter sees only its own board's events, never
// a close of the other device, and the other device's terminal counts come
// to the other device.
TEST_F(TwoBoardTest, OpenCloseCyclesOfOneBoardDoNotReachTheOthersWaiter) {
  ASSERT_EQ(EnableEvent(handle_, ZQS_EVENT_DI(0), 1, 1), ZQS_SUCCESS);
  std::atomic<bool> stop{false};
  std::vector<std::uint16_t> seen;
  std::thread waiter([&] {
    while (!stop.load()) {
      std::uint16_t type = 0;
      if (CheckEvent(handle_, &type, 50) != ZQS_SUCCESS) break;
      if (type != ZQS_EVENT_TIMEOUT) seen.push_back(type);
    }
    qio_target_detach_thread();
  });
  for (int cycle = 0; cycle < 20; ++cycle) {
    std::uint32_t other = 0;
    ASSERT_EQ(DeviceOpen(1, &other), ZQS_SUCCESS);
    ASSERT_EQ(qio_sim_set_counter_input(second_, 1, 1'000'000.0, 50.0), QIO_TARGET_OK);
    ASSERT_EQ(CounterEventStart(other, 1, 0), ZQS_SUCCESS);
    ASSERT_EQ(EnableEvent(other, ZQS_EVENT_TERMINAL_COUNT1, 1, 1), ZQS_SUCCESS);
    std::uint16_t type = 0;
    ASSERT_EQ(CheckEvent(other, &type, 1000), ZQS_SUCCESS);
    EXPECT_EQ(type, ZQS_EVENT_TERMINAL_COUNT1);
    ASSERT_EQ(qio_sim_set_di(board_, 0, 0x01), QIO_TARGET_OK);  // one edge on device 0's line DI0
    ASSERT_EQ(qio_sim_set_di(board_, 0, 0x00), QIO_TARGET_OK);
    ASSERT_EQ(qio_target_sleep(target_, 5), QIO_TARGET_OK);
    ASSERT_EQ(CounterReset(other, 1), ZQS_SUCCESS);
    ASSERT_EQ(DeviceClose(&other), ZQS_SUCCESS);
  }
  ASSERT_EQ(qio_target_sleep(target_, 100), QIO_TARGET_OK);
  stop.store(true);
  Join(waiter);
  EXPECT_EQ(seen, std::vector<std::uint16_t>(20, ZQS_EVENT_DI(0)));
}

// Both boards count on counter 1 at different rates, with terminal-count
// events enabled on both and the interrupt services of both lines running:
// each tally grows with its own board's edges only.
TEST_F(TwoBoardTest, BothInterruptServicesKeepTheirOwnTallies) {
  std::uint32_t other = 0;
  ASSERT_EQ(DeviceOpen(1, &other), ZQS_SUCCESS);
  ASSERT_EQ(CounterEventStart(handle_, 1, 0), ZQS_SUCCESS);
  ASSERT_EQ(CounterEventStart(other, 1, 0), ZQS_SUCCESS);
  ASSERT_EQ(EnableEvent(handle_, ZQS_EVENT_TERMINAL_COUNT1, 1, 1), ZQS_SUCCESS);
  ASSERT_EQ(EnableEvent(other, ZQS_EVENT_TERMINAL_COUNT1, 1, 1), ZQS_SUCCESS);
  // 65536 edges per terminal count: 2^16 Hz and 2^17 Hz for exactly 1 s.
  ASSERT_EQ(qio_sim_set_counter_input(board_, 1, 65536.0, 50.0), QIO_TARGET_OK);
  ASSERT_EQ(qio_sim_set_counter_input(second_, 1, 131072.0, 50.0), QIO_TARGET_OK);
  ASSERT_EQ(qio_target_sleep(target_, 1000), QIO_TARGET_OK);
  ASSERT_EQ(qio_sim_set_counter_input(board_, 1, 0.0, 50.0), QIO_TARGET_OK);
  ASSERT_EQ(qio_sim_set_counter_input(second_, 1, 0.0, 50.0), QIO_TARGET_OK);
  ASSERT_EQ(qio_target_sleep(target_, 10), QIO_TARGET_OK);
  std::uint16_t tally = 0xFFFF;
  std::uint32_t count = 0;
  ASSERT_EQ(CounterEventRead(handle_, 1, &tally, &count), ZQS_SUCCESS);
  EXPECT_EQ(tally, 1);
  ASSERT_EQ(CounterEventRead(other, 1, &tally, &count), ZQS_SUCCESS);
  EXPECT_EQ(tally, 2);
  std::uint16_t type = 0;
  ASSERT_EQ(CheckEvent(other, &type, 0), ZQS_SUCCESS);
  EXPECT_EQ(type, ZQS_EVENT_TERMINAL_COUNT1);
  ASSERT_EQ(DeviceClose(&other), ZQS_SUCCESS);
}

}  // namespace
}  // namespace qio::library::testing
