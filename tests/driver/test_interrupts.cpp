// Event sources, DI event channels and the interrupt service thread, against
// a fake board whose status and flag registers the test sets.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "driver/core/InterruptService.h"
#include "driver_calls.h"
#include "qio/platform/clock.h"
#include "qio/platform/interrupts.h"
#include "qio/platform/kernel.h"
#include "qio/protocol/events.h"
#include "qio/protocol/ioctl.h"

namespace qio::test {
namespace {

using namespace protocol;

bool Signalled(platform::Handle event) { return platform::WaitForSingleObject(event, 0) == platform::kWaitObject0; }

class EventSourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(board.mapped());
    driver::CreateNamedEvents(*ctx);
    ASSERT_NE(ctx->eventHandles[0], platform::kNullHandle);
  }
  void TearDown() override { driver::CloseNamedEvents(*ctx); }

  Reply Enable(std::uint16_t source, std::uint16_t trigger) {
    return Send(ctx.get(), IOCTL_EVENT_ENABLE, EventEnable(1, source, trigger).get(), 0);
  }
  Reply Disable(std::uint16_t source) { return Send(ctx.get(), IOCTL_EVENT_ENABLE, EventEnable(0, source, 0).get(), 0); }
  Reply Latch(std::uint32_t channel, std::uint32_t start, std::uint32_t count) {
    return Send(ctx.get(), IOCTL_DIO_SET_EVENT_DI_PORTS, Bytes().U32(channel).U32(start).U32(count).get(), 0);
  }
  // One interrupt with the given status word and DI flags of ports A, B, C.
  void Interrupt(std::uint16_t status, std::uint8_t flagsA = 0, std::uint8_t flagsB = 0, std::uint8_t flagsC = 0) {
    board.SetRead(0x22, status, 2);
    board.SetRead(0x2E, flagsA, 1);
    board.SetRead(0x30, flagsB, 1);
    board.SetRead(0x32, flagsC, 1);
    driver::ServiceInterrupt(*ctx);
  }
  std::vector<PortAccess> ControlWrites() {
    std::vector<PortAccess> writes;
    for (const PortAccess& a : board.Writes()) {
      if (a.offset == 0x22) writes.push_back(a);
    }
    return writes;
  }

  FakeBoard board{kTestBase};
  std::unique_ptr<driver::DeviceContext> ctx = MakeContext();
};

TEST_F(EventSourceTest, TriggerCountTwoSignalsEverySecondInterrupt) {
  ASSERT_EQ(Enable(3, 2).result, 1);
  std::vector<int> signalled;
  for (int n = 1; n <= 6; ++n) {
    Interrupt(0x04, 0x08);
    if (Signalled(ctx->eventHandles[3])) signalled.push_back(n);
  }
  EXPECT_EQ(signalled, (std::vector<int>{2, 4, 6}));
}

TEST_F(EventSourceTest, TriggerCountZeroCountsButNeverSignals) {
  ASSERT_EQ(Enable(9, 0).result, 1);
  for (int n = 0; n < 5; ++n) Interrupt(0x08, 0, 0x02);
  EXPECT_FALSE(Signalled(ctx->eventHandles[9]));
  EXPECT_EQ(ctx->eventInterruptCount[9].load(), 5u);
}

TEST_F(EventSourceTest, OnlyEnabledFlaggedChannelsAreCounted) {
  ASSERT_EQ(Enable(0, 1).result, 1);
  ASSERT_EQ(Enable(17, 1).result, 1);
  Interrupt(0x14, 0x03, 0xFF, 0x02);  // A and C pending; channel 1 flagged but not enabled
  EXPECT_TRUE(Signalled(ctx->eventHandles[0]));
  EXPECT_TRUE(Signalled(ctx->eventHandles[17]));
  EXPECT_FALSE(Signalled(ctx->eventHandles[1]));
  EXPECT_EQ(ctx->eventInterruptCount[1].load(), 0u);
}

TEST_F(EventSourceTest, StatusWithoutPendingBitsWritesNoClear) {
  board.ClearAccesses();
  Interrupt(0xFFE0);
  EXPECT_EQ(board.Accesses(), (std::vector<PortAccess>{{0x22, 2, false, 0xFFE0}}));
}

TEST_F(EventSourceTest, DiInterruptReadsOnlyThePendingPortsFlags) {
  board.SetRead(0x26, 0xA0, 1);
  board.SetRead(0x28, 0xB0, 1);
  board.SetRead(0x2A, 0xC0, 1);
  board.ClearAccesses();
  Interrupt(0x14);
  std::vector<std::uint16_t> offsets;
  for (const PortAccess& a : board.Accesses()) offsets.push_back(a.offset);
  EXPECT_EQ(offsets, (std::vector<std::uint16_t>{0x22, 0x26, 0x28, 0x2A, 0x32, 0x2E, 0x24}));
  EXPECT_EQ(board.Writes(), (std::vector<PortAccess>{{0x24, 1, true, 0}}));
  EXPECT_EQ(ctx->diLatched[0].load(), 0xA0);
  EXPECT_EQ(ctx->diLatched[2].load(), 0xC0);
}

TEST_F(EventSourceTest, SnapshotLatchesPortsModuloThree) {
  board.SetRead(0x26, 0xA5, 1);
  board.SetRead(0x28, 0xB5, 1);
  board.SetRead(0x2A, 0xC5, 1);
  ASSERT_EQ(Latch(4, 2, 2).result, 1);
  ASSERT_EQ(Latch(12, 1, 2).result, 1);
  ASSERT_EQ(Enable(4, 1).result, 1);
  ASSERT_EQ(Enable(12, 1).result, 1);
  Interrupt(0x0C, 0x10, 0x10);

  Reply r = Send(ctx.get(), IOCTL_DIO_GET_EVENT_DI_PORTS, Bytes().U32(4).get(), 4);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.bytesReturned, 2u);
  EXPECT_EQ(std::vector<std::uint8_t>(r.out.begin(), r.out.begin() + 2), (std::vector<std::uint8_t>{0xC5, 0xA5}));
  r = Send(ctx.get(), IOCTL_DIO_GET_EVENT_DI_PORTS, Bytes().U32(12).get(), 3);
  EXPECT_EQ(r.bytesReturned, 2u);
  EXPECT_EQ(std::vector<std::uint8_t>(r.out.begin(), r.out.begin() + 2), (std::vector<std::uint8_t>{0xB5, 0xC5}));
}

TEST_F(EventSourceTest, ChannelThatNeverFiredDeliversZeros) {
  ASSERT_EQ(Latch(20, 0, 3).result, 1);
  const Reply r = Send(ctx.get(), IOCTL_DIO_GET_EVENT_DI_PORTS, Bytes().U32(20).get(), 3);
  EXPECT_EQ(r.bytesReturned, 3u);
  EXPECT_EQ(r.out, (std::vector<std::uint8_t>{0, 0, 0}));
}

TEST_F(EventSourceTest, BadLatchSettingsAreRefusedAndLeaveTheChannel) {
  ASSERT_EQ(Latch(7, 1, 2).result, 1);
  for (const auto& [start, count] : {std::pair{0u, 0u}, std::pair{0u, 4u}, std::pair{3u, 1u},
                                     std::pair{0x10000u, 0u}}) {
    const Reply r = Latch(7, start, count);
    EXPECT_EQ(r.result, 0) << start << "/" << count;
    EXPECT_EQ(r.error, 0x2000000Au);
  }
  EXPECT_EQ(ctx->diEventPorts[7].startPort.load(), 1);
  EXPECT_EQ(ctx->diEventPorts[7].portCount.load(), 2);
  // Only the low 16 bits are used: start 0x10002 is port C.
  ASSERT_EQ(Latch(7, 0x10002, 0x20001).result, 1);
  EXPECT_EQ(ctx->diEventPorts[7].startPort.load(), 2);
  EXPECT_EQ(ctx->diEventPorts[7].portCount.load(), 1);
}

TEST_F(EventSourceTest, EnablingWritesTheControlRegisterOncePerSource) {
  ASSERT_EQ(Enable(4, 1).result, 1);
  ASSERT_EQ(Enable(5, 1).result, 1);
  EXPECT_EQ(ControlWrites(), (std::vector<PortAccess>{{0x22, 2, true, 0x04}, {0x22, 2, true, 0x04}}));

  ctx->eventInterruptCount[4].store(3);
  ASSERT_EQ(Enable(4, 9).result, 1);
  EXPECT_EQ(ControlWrites().size(), 2u) << "an enabled source leaves the register alone";
  EXPECT_EQ(ctx->eventTriggerCount[4].load(), 9u);
  EXPECT_EQ(ctx->eventInterruptCount[4].load(), 0u);
}

TEST_F(EventSourceTest, DisablingOneChannelClearsItsWholePort) {
  ASSERT_EQ(Enable(4, 1).result, 1);
  ASSERT_EQ(Enable(5, 1).result, 1);
  ASSERT_EQ(Enable(8, 1).result, 1);
  board.ClearAccesses();
  ASSERT_EQ(Disable(4).result, 1);
  EXPECT_EQ(ControlWrites(), (std::vector<PortAccess>{{0x22, 2, true, 0x08}}));
  EXPECT_EQ(ctx->eventEnableMask.load(), (1u << 5) | (1u << 8));
  EXPECT_EQ(ctx->eventTriggerCount[4].load(), 0u);
  EXPECT_EQ(ctx->eventTriggerCount[5].load(), 1u);

  board.ClearAccesses();
  ASSERT_EQ(Disable(4).result, 1);
  EXPECT_TRUE(board.Accesses().empty()) << "a disabled source is left alone";
}

TEST_F(EventSourceTest, TerminalCountSourcesUseTheirOwnBits) {
  ASSERT_EQ(Enable(24, 1).result, 1);
  EXPECT_EQ(ControlWrites(), (std::vector<PortAccess>{{0x22, 2, true, 0x01}}));
  ASSERT_EQ(Enable(25, 1).result, 1);
  EXPECT_EQ(ControlWrites().back(), (PortAccess{0x22, 2, true, 0x03}));
  EXPECT_EQ(driver::InterruptControlBit(23), 0x10);
}

TEST_F(EventSourceTest, TerminalCountTalliesWhetherOrNotEnabled) {
  Interrupt(0x02);
  Interrupt(0x02);
  EXPECT_EQ(ctx->terminalCountTally[1].load(), 2);
  EXPECT_EQ(ctx->terminalCountTally[0].load(), 0);
  EXPECT_EQ(ctx->eventInterruptCount[25].load(), 0u);
  EXPECT_FALSE(Signalled(ctx->eventHandles[25]));

  ASSERT_EQ(Enable(25, 1).result, 1);
  Interrupt(0x02);
  EXPECT_EQ(ctx->terminalCountTally[1].load(), 3);
  EXPECT_TRUE(Signalled(ctx->eventHandles[25]));

  ctx->terminalCountTally[0].store(0xFFFF);
  Interrupt(0x01);
  EXPECT_EQ(ctx->terminalCountTally[0].load(), 0) << "the tally wraps at 16 bits";
}

TEST_F(EventSourceTest, TerminalCountOfCounterZeroEndsACountedPwm) {
  using driver::CounterFunction;
  ASSERT_EQ(Enable(12, 1).result, 1);  // intControl 0x08
  // A counted run on counter 1 with counter 0 as its prescaler, whose
  // terminal-count interrupt the run enabled.
  ctx->pwmConfigured[1].store(1);
  ctx->pwmStandalone[1].store(0);
  ctx->counterFunction[0].store(CounterFunction::kPwm);
  ctx->counterFunction[1].store(CounterFunction::kPwm);
  ctx->counterIntEnable.store(0x01);
  board.ClearAccesses();
  Interrupt(0x01);
  EXPECT_EQ(ctx->counterFunction[0].load(), CounterFunction::kIdle);
  EXPECT_EQ(ctx->counterFunction[1].load(), CounterFunction::kIdle);
  EXPECT_EQ(ctx->counterIntEnable.load(), 0u);
  EXPECT_EQ(board.Writes(), (std::vector<PortAccess>{{0x24, 1, true, 0}, {0x22, 2, true, 0x08}}));

  // Counter 1's terminal count has no such check; one counter alone is no PWM pair.
  ctx->counterFunction[0].store(CounterFunction::kPwm);
  ctx->counterFunction[1].store(CounterFunction::kPwm);
  Interrupt(0x02);
  EXPECT_EQ(ctx->counterFunction[0].load(), CounterFunction::kPwm);
  ctx->counterFunction[1].store(CounterFunction::kEventCount);
  Interrupt(0x01);
  EXPECT_EQ(ctx->counterFunction[0].load(), CounterFunction::kPwm);
}

TEST_F(EventSourceTest, TerminalCountOfCounterZeroLeavesTwoContinuousPwmsRunning) {
  using driver::CounterFunction;
  // Continuous PWMs on both counters, with the terminal-count event of
  // counter 0 enabled: its interrupts come at every phase of counter 0.
  ASSERT_EQ(Enable(24, 1).result, 1);
  for (unsigned n = 0; n < 2; ++n) {
    ctx->pwmConfigured[n].store(1);
    ctx->pwmStandalone[n].store(1);
    ctx->counterFunction[n].store(CounterFunction::kPwm);
  }
  board.ClearAccesses();
  for (int k = 0; k < 3; ++k) Interrupt(0x01);
  EXPECT_EQ(ctx->counterFunction[0].load(), CounterFunction::kPwm);
  EXPECT_EQ(ctx->counterFunction[1].load(), CounterFunction::kPwm);
  EXPECT_TRUE(ControlWrites().empty()) << "the interrupt enables stay as they were";
  EXPECT_TRUE(Signalled(ctx->eventHandles[24]));
}

TEST_F(EventSourceTest, NamedEventsCarryTheDeviceNumber) {
  driver::CloseNamedEvents(*ctx);
  ctx->deviceNumber = 7;
  driver::CreateNamedEvents(*ctx);
  const platform::Handle di = platform::OpenEvent("ZQS_EVT_DI_INTERRUPT23_007");
  const platform::Handle tc = platform::OpenEvent("ZQS_EVT_TERMINATE_CNT1_007");
  ASSERT_NE(di, platform::kNullHandle);
  ASSERT_NE(tc, platform::kNullHandle);
  ASSERT_TRUE(platform::SetEvent(ctx->eventHandles[25]));
  EXPECT_EQ(platform::WaitForSingleObject(tc, 0), platform::kWaitObject0) << "one event, two handles";
  platform::CloseHandle(di);
  platform::CloseHandle(tc);
}

// ---- the interrupt service thread ---------------------------------------

class InterruptThreadTest : public EventSourceTest {
 protected:
  static constexpr unsigned kIrq = 5;

  void SetUp() override {
    EventSourceTest::SetUp();
    ctx->interruptEvent = platform::CreateEvent(false, false);
    ctx->sysIntr = platform::SysIntrFromIrq(kIrq);
  }
  void TearDown() override {
    driver::StopInterruptService(*ctx);
    platform::CloseHandle(ctx->interruptEvent);
    EventSourceTest::TearDown();
  }
  // Raises the board's interrupt with the given status and flags.
  void Raise(std::uint16_t status, std::uint8_t flagsA) {
    board.SetRead(0x22, status, 2);
    board.SetRead(0x2E, flagsA, 1);
    platform::RaiseInterruptRequest(kIrq);
  }
};

TEST_F(InterruptThreadTest, StartsAtPriority93AndStops) {
  const std::size_t threadsBefore = platform::LiveThreadCount();
  ASSERT_TRUE(driver::StartInterruptService(*ctx));
  const platform::Handle thread = ctx->istThread.load();
  ASSERT_NE(thread, platform::kNullHandle);
  EXPECT_EQ(platform::GetThreadPriority(thread), 93);
  EXPECT_EQ(platform::LiveThreadCount(), threadsBefore + 1);

  driver::StopInterruptService(*ctx);
  EXPECT_EQ(ctx->istThread.load(), platform::kNullHandle);
  EXPECT_EQ(platform::JoinAllThreads(1000), 0u);
  EXPECT_EQ(platform::GetThreadPriority(thread), -1) << "the thread handle was closed";
}

TEST_F(InterruptThreadTest, ServicesRaisedInterruptsAndSignals) {
  ASSERT_EQ(Enable(2, 1).result, 1);
  ASSERT_TRUE(driver::StartInterruptService(*ctx));
  for (int n = 0; n < 20; ++n) {
    Raise(0x04, 0x04);
    ASSERT_EQ(platform::WaitForSingleObject(ctx->eventHandles[2], 2000), platform::kWaitObject0) << n;
  }
  EXPECT_EQ(ctx->eventInterruptCount[2].load(), 0u);
}

TEST_F(InterruptThreadTest, NeverWaitsForTheBoardLock) {
  ASSERT_EQ(Enable(1, 1).result, 1);
  ASSERT_TRUE(driver::StartInterruptService(*ctx));
  // A request handler holding the lock (e.g. across a settling time) must not
  // hold up the interrupt service.
  std::scoped_lock held(ctx->lock);
  Raise(0x04, 0x02);
  EXPECT_EQ(platform::WaitForSingleObject(ctx->eventHandles[1], 2000), platform::kWaitObject0);
}

TEST_F(InterruptThreadTest, UnboundInterruptStartsNoThread) {
  ctx->sysIntr = 40;  // no such line
  EXPECT_FALSE(driver::StartInterruptService(*ctx));
  EXPECT_EQ(ctx->istThread.load(), platform::kNullHandle);
}

TEST_F(InterruptThreadTest, StopReleasesTheBinding) {
  ASSERT_TRUE(driver::StartInterruptService(*ctx));
  driver::StopInterruptService(*ctx);
  // A second start binds the line again.
  ASSERT_TRUE(driver::StartInterruptService(*ctx));
  ASSERT_EQ(Enable(0, 1).result, 1);
  Raise(0x04, 0x01);
  EXPECT_EQ(platform::WaitForSingleObject(ctx->eventHandles[0], 2000), platform::kWaitObject0);
}

struct Hammer {
  driver::DeviceContext* ctx;
  std::atomic<bool> stop{false};
};

// Enables, disables and re-latches port A's channels without pause.
std::uint32_t ChurnSources(void* argument) {
  auto& hammer = *static_cast<Hammer*>(argument);
  for (std::uint16_t n = 0; !hammer.stop.load(); ++n) {
    const std::uint16_t source = static_cast<std::uint16_t>(n % 8);
    Send(hammer.ctx, IOCTL_EVENT_ENABLE, EventEnable(n & 8 ? 0 : 1, source, 1).get(), 0);
    Send(hammer.ctx, IOCTL_DIO_SET_EVENT_DI_PORTS, Bytes().U32(source).U32(n % 3).U32(1 + n % 3).get(), 0);
  }
  return 0;
}

TEST_F(InterruptThreadTest, RequestsBesideTheThreadAreRaceFree) {
  ASSERT_TRUE(driver::StartInterruptService(*ctx));
  Hammer hammer{ctx.get()};
  const platform::Handle churn = platform::CreateThread(ChurnSources, &hammer);
  ASSERT_NE(churn, platform::kNullHandle);
  for (int n = 0; n < 300; ++n) {
    Raise(0x04, 0xFF);
    Send(ctx.get(), IOCTL_DIO_GET_EVENT_DI_PORTS, Bytes().U32(static_cast<std::uint32_t>(n % 8)).get(), 3);
    platform::Sleep(0);
  }
  hammer.stop.store(true);
  ASSERT_EQ(platform::WaitForSingleObject(churn, 5000), platform::kWaitObject0);
  platform::CloseHandle(churn);

  // The service is still alive and consistent afterwards.
  ASSERT_EQ(Disable(3).result, 1);
  ASSERT_EQ(Enable(3, 1).result, 1);
  EXPECT_NE(ctx->intControl.load() & 0x04, 0u);
  while (platform::WaitForSingleObject(ctx->eventHandles[3], 0) == platform::kWaitObject0) {
  }
  Raise(0x04, 0x08);
  EXPECT_EQ(platform::WaitForSingleObject(ctx->eventHandles[3], 2000), platform::kWaitObject0);
}

}  // namespace
}  // namespace qio::test
