// The board on the hosted target: the real port bus, the platform clock,
// the board's timer thread and interrupt delivery to a bound event.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "qio/platform/clock.h"
#include "qio/platform/interrupts.h"
#include "qio/platform/kernel.h"
#include "qio/platform/port_io.h"
#include "qio/sim/Board.h"

namespace qio::sim {
namespace {

using platform::Handle;

constexpr std::uint16_t kBase = 0x300;
constexpr unsigned kIrq = 5;

class BoardOnBus : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(board.Attach()); }
  void TearDown() override {
    platform::InterruptDisable(platform::SysIntrFromIrq(kIrq));
    if (event != platform::kNullHandle) platform::CloseHandle(event);
  }
  void BindInterrupt() {
    event = platform::CreateEvent(false, false);
    ASSERT_NE(event, platform::kNullHandle);
    ASSERT_TRUE(platform::InterruptInitialize(platform::SysIntrFromIrq(kIrq), event));
    deliveriesBefore = platform::InterruptDeliveries(kIrq);
  }
  std::uint64_t Deliveries() const { return platform::InterruptDeliveries(kIrq) - deliveriesBefore; }
  bool Signalled(std::uint32_t ms) { return platform::WaitForSingleObject(event, ms) == platform::kWaitObject0; }

  Board board{kBase, kIrq};
  Handle event = platform::kNullHandle;
  std::uint64_t deliveriesBefore = 0;
};

TEST_F(BoardOnBus, AnswersItsWindowAndNothingElse) {
  ASSERT_TRUE(board.SetDiLevels(1, 0x5A));
  EXPECT_EQ(platform::PortInByte(kBase + offset::PortData(1)), 0x5A);
  platform::PortOutWord(kBase + offset::LoadRegister(3), 0xBEEF);
  EXPECT_EQ(platform::PortInWord(kBase + offset::LoadRegister(3)), 0xBEEF);
  EXPECT_EQ(platform::PortInByte(kBase + kWindowLength), 0xFF);  // floating bus
  Board other(kBase + 0x20, 7);
  EXPECT_FALSE(other.Attach());  // overlaps
  board.Detach();
  EXPECT_EQ(platform::PortInByte(kBase + offset::PortData(1)), 0xFF);
  EXPECT_TRUE(board.Attach());
}

TEST_F(BoardOnBus, TraceShowsBusAccessesAtPlatformTime) {
  board.SetTraceEnabled(true);
  const std::uint64_t before = platform::NowNs();
  platform::PortOutByte(kBase + offset::CommandRegister(0), command::kLatch);
  platform::PortOutByte(kBase + offset::kCommandStrobe, 0x01);
  (void)platform::PortInWord(kBase + offset::HoldRegister(0));
  const auto trace = board.TakeTrace();
  ASSERT_EQ(trace.size(), 3u);
  EXPECT_EQ(trace[0].offset, offset::CommandRegister(0));
  EXPECT_TRUE(trace[0].isWrite);
  EXPECT_EQ(trace[1].value, 0x01u);
  EXPECT_FALSE(trace[2].isWrite);
  EXPECT_EQ(trace[2].width, 2);
  EXPECT_GE(trace[0].timeNs, before);
  EXPECT_LE(trace[2].timeNs, platform::NowNs());
}

TEST_F(BoardOnBus, TimerRaisesTheTerminalCountInterruptOnItsOwn) {
  BindInterrupt();
  // Block 0 counts the base clock down from 20000: a TC every millisecond.
  platform::PortOutWord(kBase + offset::ModeRegister(0), 0x0016);
  platform::PortOutWord(kBase + offset::LoadRegister(0), 20000);
  platform::PortOutWord(kBase + offset::kInterruptControl, interrupt::TerminalCount(0));
  platform::PortOutWord(kBase + offset::CommandRegister(0), command::kLoadAndArm);
  const std::uint64_t armed = platform::NowNs();
  platform::PortOutByte(kBase + offset::kCommandStrobe, 0x01);
  ASSERT_TRUE(Signalled(2000));
  EXPECT_GE(platform::NowNs() - armed, 1'000'000u);
  EXPECT_EQ(platform::PortInWord(kBase + offset::kInterruptControl) & 0x1F, 0x01);
  EXPECT_EQ(Deliveries(), 1u);
  // Acknowledge, clear; the next terminal count raises the next request.
  platform::PortOutByte(kBase + offset::kInterruptClear, 0);
  platform::InterruptDone(platform::SysIntrFromIrq(kIrq));
  ASSERT_TRUE(Signalled(2000));
  EXPECT_EQ(Deliveries(), 2u);
}

TEST_F(BoardOnBus, RequestRaisedWhileMaskedIsDeliveredAtTheAcknowledgement) {
  BindInterrupt();
  platform::PortOutWord(kBase + offset::kInterruptControl, interrupt::DiPort(0));
  ASSERT_TRUE(board.SetDiLevels(0, 0x01));
  ASSERT_TRUE(Signalled(2000));
  EXPECT_EQ(platform::PortInByte(kBase + offset::DiFlags(0)), 0x01);
  // Still masked: clear and raise another edge before acknowledging.
  platform::PortOutByte(kBase + offset::kInterruptClear, 0);
  ASSERT_TRUE(board.SetDiLevels(0, 0x03));
  EXPECT_FALSE(Signalled(50));
  EXPECT_EQ(platform::PortInByte(kBase + offset::DiFlags(0)), 0x02);
  platform::InterruptDone(platform::SysIntrFromIrq(kIrq));
  EXPECT_TRUE(Signalled(2000));
  EXPECT_EQ(board.InterruptRequests(), 2u);
}

TEST_F(BoardOnBus, SquareWaveDiInterruptsWithoutAnyBusAccess) {
  BindInterrupt();
  platform::PortOutWord(kBase + offset::kInterruptControl, interrupt::DiPort(2));
  ASSERT_TRUE(board.SetDiSquare(20, 200.0));  // port C line 4: a rise now, then every 5 ms
  ASSERT_TRUE(Signalled(2000));
  platform::PortOutByte(kBase + offset::kInterruptClear, 0);
  EXPECT_EQ(platform::PortInByte(kBase + offset::DiFlags(2)), 0x00);
  const std::uint64_t cleared = platform::NowNs();
  platform::InterruptDone(platform::SysIntrFromIrq(kIrq));
  ASSERT_TRUE(Signalled(2000));  // raised by the board's timer at the next rise
  EXPECT_GT(platform::NowNs(), cleared);
  EXPECT_EQ(platform::PortInByte(kBase + offset::DiFlags(2)), 0x10);
  EXPECT_EQ(Deliveries(), 2u);
}

TEST_F(BoardOnBus, EventCountingFollowsAThirtyMegahertzInput) {
  ASSERT_TRUE(board.SetCounterInput(0, 30e6, 50.0));
  platform::PortOutWord(kBase + offset::ModeRegister(0), 0x0218);
  platform::PortOutWord(kBase + offset::LoadRegister(0), 1);
  platform::PortOutWord(kBase + offset::CommandRegister(0), command::kLoadAndArm);
  platform::PortOutByte(kBase + offset::kCommandStrobe, 0x01);
  platform::Sleep(20);
  const std::uint64_t tcs = board.TerminalCounts(0);
  // At least 20 ms of edges, each 65536 a terminal count.
  EXPECT_GE(tcs, 20u * 30'000u / 65536u);
  EXPECT_LE(tcs, 10'000u);  // a generous upper bound on the test's run time
}

TEST_F(BoardOnBus, ConcurrentDriversTimerAndStimulus) {
  BindInterrupt();
  platform::PortOutWord(kBase + offset::ModeRegister(0), 0x0016);
  platform::PortOutWord(kBase + offset::LoadRegister(0), 200);  // TC every 10 us
  platform::PortOutWord(kBase + offset::kInterruptControl, 0x1F);
  platform::PortOutWord(kBase + offset::CommandRegister(0), command::kLoadAndArm);
  platform::PortOutByte(kBase + offset::kCommandStrobe, 0x01);
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  threads.emplace_back([&] {  // the interrupt service: acknowledge and clear
    while (!stop) {
      if (Signalled(5)) {
        (void)platform::PortInWord(kBase + offset::kInterruptControl);
        platform::PortOutByte(kBase + offset::kInterruptClear, 0);
        platform::InterruptDone(platform::SysIntrFromIrq(kIrq));
      }
    }
  });
  threads.emplace_back([&] {  // a driver latching counter 1
    platform::PortOutWord(kBase + offset::ModeRegister(1), 0x0218);
    while (!stop) {
      platform::PortOutByte(kBase + offset::CommandRegister(1), command::kLatch);
      platform::PortOutByte(kBase + offset::kCommandStrobe, 0x02);
      (void)platform::PortInWord(kBase + offset::HoldRegister(1));
    }
  });
  threads.emplace_back([&] {  // stimulus and observation
    for (unsigned i = 0; !stop; ++i) {
      board.SetDiLevels(i % 3, static_cast<std::uint8_t>(i));
      board.SetCounterInput(1, 1000.0 + i % 50, 50.0);
      (void)board.Output(0);
      (void)board.Pins(i % 3);
    }
  });
  platform::Sleep(200);
  stop = true;
  for (auto& thread : threads) thread.join();
  EXPECT_GT(board.InterruptRequests(), 0u);
  EXPECT_GT(Deliveries(), 0u);
}

}  // namespace
}  // namespace qio::sim
