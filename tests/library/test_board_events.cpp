// Events end to end: a DI edge on the board wakes CheckEvent with the
// channel's type and latches the chosen ports; the last close wakes waiters.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "BoardFixture.h"
#include "DeviceTable.h"

namespace qio::library::testing {
namespace {

using BoardEventTest = BoardTest;

TEST_F(BoardEventTest, NothingPendingTimesOut) {
  std::uint16_t type = 0;
  ASSERT_EQ(CheckEvent(handle_, &type, 0), ZQS_SUCCESS);
  EXPECT_EQ(type, ZQS_EVENT_TIMEOUT);
  ASSERT_EQ(CheckEvent(handle_, &type, 30), ZQS_SUCCESS);
  EXPECT_EQ(type, ZQS_EVENT_TIMEOUT);
}

TEST_F(BoardEventTest, DiEdgeReportsTheChannelAndTheLatchedPorts) {
  ASSERT_EQ(qio_sim_set_di(board_, 1, 0x3C), QIO_TARGET_OK);
  ASSERT_EQ(qio_sim_set_di(board_, 2, 0x81), QIO_TARGET_OK);
  ASSERT_EQ(DioEnableEventAndSpecifyDiPorts(handle_, ZQS_EVENT_DI(5), 1, 2), ZQS_SUCCESS);
  ASSERT_EQ(qio_sim_set_di(board_, 0, 0x20), QIO_TARGET_OK);  // rising edge on channel 5
  std::uint16_t type = 0;
  ASSERT_EQ(CheckEvent(handle_, &type, 2000), ZQS_SUCCESS);
  EXPECT_EQ(type, ZQS_EVENT_DI(5));

  std::uint8_t latched[3] = {0xEE, 0xEE, 0xEE};
  ASSERT_EQ(DioGetLatestEventDiPortsState(handle_, ZQS_EVENT_DI(5), latched, 3), ZQS_SUCCESS);
  EXPECT_EQ(latched[0], 0x3C);
  EXPECT_EQ(latched[1], 0x81);
  EXPECT_EQ(latched[2], 0xEE);  // two ports latched, two delivered

  // Later pin changes do not touch the snapshot until the next edge.
  ASSERT_EQ(qio_sim_set_di(board_, 1, 0x00), QIO_TARGET_OK);
  ASSERT_EQ(DioGetLatestEventDiPortsState(handle_, ZQS_EVENT_DI(5), latched, 1), ZQS_SUCCESS);
  EXPECT_EQ(latched[0], 0x3C);
  ASSERT_EQ(CheckEvent(handle_, &type, 0), ZQS_SUCCESS);
  EXPECT_EQ(type, ZQS_EVENT_TIMEOUT);
}

TEST_F(BoardEventTest, ADiSquareWaveWakesTheWaiterAtEachRisingEdgeExactly) {
  // 100 Hz on channel 9 (B1).
  ASSERT_EQ(DioEnableEventAndSpecifyDiPorts(handle_, ZQS_EVENT_DI(9), 0, 3), ZQS_SUCCESS);
  const std::uint64_t start = qio_target_now_ns(target_);
  ASSERT_EQ(qio_sim_set_di_square(board_, 9, 100.0), QIO_TARGET_OK);
  std::vector<std::uint64_t> arrivals;
  for (int i = 0; i < 5; ++i) {
    std::uint16_t type = 0;
    ASSERT_EQ(CheckEvent(handle_, &type, 1000), ZQS_SUCCESS);
    ASSERT_EQ(type, ZQS_EVENT_DI(9));
    arrivals.push_back(qio_target_now_ns(target_) - start);
  }
  // The interrupt thread serves each edge at its instant; the square wave
  // starts with a rising edge.
  const std::vector<std::uint64_t> expected{0, 10'000'000, 20'000'000, 30'000'000, 40'000'000};
  EXPECT_EQ(arrivals, expected);
  // A time-out ends exactly at its deadline.
  ASSERT_EQ(DioDisableEvent(handle_, ZQS_EVENT_DI(9)), ZQS_SUCCESS);
  std::uint16_t type = 0;
  const std::uint64_t before = qio_target_now_ns(target_);
  ASSERT_EQ(CheckEvent(handle_, &type, 250), ZQS_SUCCESS);
  EXPECT_EQ(type, ZQS_EVENT_TIMEOUT);
  EXPECT_EQ(qio_target_now_ns(target_) - before, 250'000'000u);
}

TEST_F(BoardEventTest, TriggerCountSignalsEveryNthEdge) {
  ASSERT_EQ(EnableEvent(handle_, ZQS_EVENT_DI(3), 1, 2), ZQS_SUCCESS);
  std::uint16_t type = 0;
  for (int edge = 1; edge <= 4; ++edge) {
    ASSERT_EQ(qio_sim_set_di(board_, 0, 0x08), QIO_TARGET_OK);
    // An edge that comes before the driver has cleared the last interrupt is
    // folded into it, as on the board; wait for the clear.
    ASSERT_TRUE(WaitFor([&] { return (qio_target_port_in(target_, kBoardBase + 0x22, 2) & 0x04) == 0; }));
    ASSERT_EQ(CheckEvent(handle_, &type, edge % 2 == 0 ? 2000 : 0), ZQS_SUCCESS);
    EXPECT_EQ(type, edge % 2 == 0 ? ZQS_EVENT_DI(3) : ZQS_EVENT_TIMEOUT) << "edge " << edge;
    ASSERT_EQ(qio_sim_set_di(board_, 0, 0x00), QIO_TARGET_OK);
  }
}

TEST_F(BoardEventTest, DisabledChannelStaysQuiet) {
  ASSERT_EQ(DioEnableEventAndSpecifyDiPorts(handle_, ZQS_EVENT_DI(0), 0, 1), ZQS_SUCCESS);
  ASSERT_EQ(DioDisableEvent(handle_, ZQS_EVENT_DI(0)), ZQS_SUCCESS);
  ASSERT_EQ(qio_sim_set_di(board_, 0, 0x01), QIO_TARGET_OK);
  std::uint16_t type = 0;
  ASSERT_EQ(CheckEvent(handle_, &type, 100), ZQS_SUCCESS);
  EXPECT_EQ(type, ZQS_EVENT_TIMEOUT);
}

TEST_F(BoardEventTest, LastCloseFromAnotherThreadWakesTheWaiter) {
  std::atomic<std::uint32_t> result{0xFFFFFFFF};
  std::atomic<std::uint16_t> reported{0};
  std::thread waiter([&, h = handle_] {
    std::uint16_t type = 0;
    result = CheckEvent(h, &type, ZQS_INFINITE);
    reported = type;
  });
  ASSERT_TRUE(WaitOutside([&] { return CallsInProgress(handle_) == 1; }));
  std::thread closer([&] { DeviceClose(&handle_); });
  Join(closer);
  Join(waiter);
  EXPECT_EQ(result.load(), ZQS_SUCCESS);
  EXPECT_EQ(reported.load(), ZQS_EVENT_DEVICE_CLOSED);
  EXPECT_EQ(handle_, 0u);
}

TEST_F(BoardEventTest, EnablesDoNotSurviveTheLastClose) {
  ASSERT_EQ(DioEnableEventAndSpecifyDiPorts(handle_, ZQS_EVENT_DI(9), 1, 1), ZQS_SUCCESS);
  ASSERT_EQ(DeviceClose(&handle_), ZQS_SUCCESS);
  ASSERT_EQ(DeviceOpen(0, &handle_), ZQS_SUCCESS);
  ASSERT_EQ(qio_sim_set_di(board_, 1, 0x02), QIO_TARGET_OK);
  std::uint16_t type = 0;
  ASSERT_EQ(CheckEvent(handle_, &type, 100), ZQS_SUCCESS);
  EXPECT_EQ(type, ZQS_EVENT_TIMEOUT);
}

// An edge that was signalled but never taken while its source was enabled is
// not reported as a new event once the source is enabled again, in the same
// session or after a close and an open.
TEST_F(BoardEventTest, AnUntakenSignalDoesNotOutliveItsEnable) {
  ASSERT_EQ(DioEnableEventAndSpecifyDiPorts(handle_, ZQS_EVENT_DI(0), 0, 1), ZQS_SUCCESS);
  ASSERT_EQ(qio_sim_set_di(board_, 0, 0x01), QIO_TARGET_OK);
  ASSERT_EQ(qio_target_sleep(target_, 10), QIO_TARGET_OK);
  ASSERT_EQ(DioDisableEvent(handle_, ZQS_EVENT_DI(0)), ZQS_SUCCESS);
  ASSERT_EQ(EnableEvent(handle_, ZQS_EVENT_DI(0), 1, 1), ZQS_SUCCESS);
  std::uint16_t type = 0;
  ASSERT_EQ(CheckEvent(handle_, &type, 0), ZQS_SUCCESS);
  EXPECT_EQ(type, ZQS_EVENT_TIMEOUT) << "an edge from before the enable";

  ASSERT_EQ(qio_sim_set_di(board_, 0, 0x00), QIO_TARGET_OK);
  ASSERT_EQ(qio_sim_set_di(board_, 0, 0x01), QIO_TARGET_OK);
  ASSERT_EQ(qio_target_sleep(target_, 10), QIO_TARGET_OK);
  ASSERT_EQ(DeviceClose(&handle_), ZQS_SUCCESS);
  ASSERT_EQ(DeviceOpen(0, &handle_), ZQS_SUCCESS);
  ASSERT_EQ(EnableEvent(handle_, ZQS_EVENT_DI(0), 1, 1), ZQS_SUCCESS);
  ASSERT_EQ(CheckEvent(handle_, &type, 0), ZQS_SUCCESS);
  EXPECT_EQ(type, ZQS_EVENT_TIMEOUT) << "an edge of the previous session";

  // The same for a terminal count: counter 1 at 1 MHz, then stopped.
  ASSERT_EQ(qio_sim_set_counter_input(board_, 1, 1e6, 50.0), QIO_TARGET_OK);
  ASSERT_EQ(EnableEvent(handle_, ZQS_EVENT_TERMINAL_COUNT1, 1, 1), ZQS_SUCCESS);
  ASSERT_EQ(CounterEventStart(handle_, 1, 0), ZQS_SUCCESS);
  ASSERT_EQ(qio_target_sleep(target_, 100), QIO_TARGET_OK);
  ASSERT_EQ(CounterReset(handle_, 1), ZQS_SUCCESS);
  ASSERT_EQ(EnableEvent(handle_, ZQS_EVENT_TERMINAL_COUNT1, 0, 0), ZQS_SUCCESS);
  ASSERT_EQ(EnableEvent(handle_, ZQS_EVENT_TERMINAL_COUNT1, 1, 1), ZQS_SUCCESS);
  ASSERT_EQ(CheckEvent(handle_, &type, 0), ZQS_SUCCESS);
  EXPECT_EQ(type, ZQS_EVENT_TIMEOUT) << "a terminal count from before the enable";

  // A source enabled again while still enabled (a new trigger count) keeps
  // what is pending, and edges after an enable are reported as always.
  ASSERT_EQ(qio_sim_set_di(board_, 0, 0x00), QIO_TARGET_OK);
  ASSERT_EQ(qio_sim_set_di(board_, 0, 0x01), QIO_TARGET_OK);
  ASSERT_EQ(qio_target_sleep(target_, 10), QIO_TARGET_OK);
  ASSERT_EQ(EnableEvent(handle_, ZQS_EVENT_DI(0), 1, 2), ZQS_SUCCESS);
  ASSERT_EQ(CheckEvent(handle_, &type, 0), ZQS_SUCCESS);
  EXPECT_EQ(type, ZQS_EVENT_DI(0));
}

TEST_F(BoardEventTest, CounterTypesAreRefusedThePortSelectionButEnabled) {
  ASSERT_EQ(DioEnableEventAndSpecifyDiPorts(handle_, ZQS_EVENT_TERMINAL_COUNT1, 0, 1), ZQS_SUCCESS);
  std::uint8_t latched[1] = {};
  EXPECT_EQ(DioGetLatestEventDiPortsState(handle_, ZQS_EVENT_TERMINAL_COUNT1, latched, 1),
            ZQS_ERROR_BASE(0) + ZQS_LOW_DI_CHANNEL);
}

class BoardEventRealTime : public BoardTest {
 protected:
  unsigned BootFlags() const override { return 0; }
};

TEST_F(BoardEventRealTime, DiEdgeWakesTheWaiterOnTheRealClock) {
  ASSERT_EQ(DioEnableEventAndSpecifyDiPorts(handle_, ZQS_EVENT_DI(5), 1, 2), ZQS_SUCCESS);
  ASSERT_EQ(qio_sim_set_di(board_, 0, 0x20), QIO_TARGET_OK);
  std::uint16_t type = 0;
  ASSERT_EQ(CheckEvent(handle_, &type, 5000), ZQS_SUCCESS);
  EXPECT_EQ(type, ZQS_EVENT_DI(5));
  const std::uint64_t before = qio_target_now_ns(target_);
  ASSERT_EQ(CheckEvent(handle_, &type, 30), ZQS_SUCCESS);
  EXPECT_EQ(type, ZQS_EVENT_TIMEOUT);
  EXPECT_GE(qio_target_now_ns(target_) - before, 30'000'000u);
}

// The waiter that the prescaler's terminal count wakes finds the counted run
// over: both counters take a new function at once, on either clock.
class CountedRunEnd : public BoardTest, public ::testing::WithParamInterface<unsigned> {
 protected:
  unsigned BootFlags() const override { return GetParam(); }
};

TEST_P(CountedRunEnd, TheTerminalCountsWaiterFindsBothCountersFree) {
  ASSERT_EQ(EnableEvent(handle_, ZQS_EVENT_TERMINAL_COUNT0, 1, 1), ZQS_SUCCESS);
  for (int round = 0; round < 20; ++round) {
    ASSERT_EQ(CounterPWMSetting(handle_, 1, 0.002f, 0.001f, 3, 0), ZQS_SUCCESS);
    ASSERT_EQ(CounterPWMEnable(handle_, 1), ZQS_SUCCESS);
    std::uint16_t type = 0;
    ASSERT_EQ(CheckEvent(handle_, &type, 5000), ZQS_SUCCESS);
    ASSERT_EQ(type, ZQS_EVENT_TERMINAL_COUNT0) << "round " << round;
    ASSERT_EQ(CounterEventStart(handle_, 1, 0), ZQS_SUCCESS) << "round " << round;
    ASSERT_EQ(CounterReset(handle_, 1), ZQS_SUCCESS);
    ASSERT_EQ(CounterReset(handle_, 0), ZQS_SUCCESS);
  }
}

INSTANTIATE_TEST_SUITE_P(BothClocks, CountedRunEnd, ::testing::Values(0u, unsigned{QIO_TARGET_VIRTUAL_TIME}),
                         [](const ::testing::TestParamInfo<unsigned>& clock) {
                           return std::string(clock.param != 0 ? "VirtualTime" : "RealTime");
                         });

// A shutdown of the target with a device still open ends a CheckEvent in
// progress on it as closed, instead of leaving it to its whole time-out.
class ShutdownWithAnOpenDevice : public BoardTest {
 protected:
  unsigned BootFlags() const override { return 0; }
};

TEST_F(ShutdownWithAnOpenDevice, EndsAWaitInCheckEventAsClosed) {
  std::atomic<std::uint32_t> result{~0u};
  std::atomic<unsigned> type{0};
  std::atomic<bool> returned{false};
  std::thread waiter([&] {
    std::uint16_t taken = 0;
    result = CheckEvent(handle_, &taken, 20000);
    type = taken;
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_FALSE(returned.load());
  qio_target_shutdown(target_);
  target_ = nullptr;
  const auto begin = std::chrono::steady_clock::now();
  waiter.join();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10));
  EXPECT_EQ(result.load(), ZQS_SUCCESS);
  EXPECT_EQ(type.load(), ZQS_EVENT_DEVICE_CLOSED);
  // Later waits on the dead device do not wait either.
  std::uint16_t again = 0;
  ASSERT_EQ(CheckEvent(handle_, &again, 20000), ZQS_SUCCESS);
  EXPECT_EQ(again, ZQS_EVENT_DEVICE_CLOSED);
}

}  // namespace
}  // namespace qio::library::testing
