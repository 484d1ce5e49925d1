// Functions of the counter engine beside each other at the request level:
// the interrupt-enable register keeps every running function's bits, a
// frequency measurement owns its partner block, a counted PWM ends (and only
// a real cascade does), a failed PWM setting loads nothing, and reads and
// resets leave what they do not own alone.
#include "counter_target.h"

namespace qio::test {
namespace {

class Ownership : public CounterTarget {
 protected:
  // tally x 65536 + count, read well away from a wrap of the count: the tally
  // of a terminal count lags the wrap by the interrupt thread's latency.
  std::uint64_t Total(std::uint16_t n) {
    const std::uint64_t giveUp = platform::NowNs() + 300'000'000u;
    for (;;) {
      const auto record = EventRead(n).As<proto::CounterEventReadRecord>();
      if ((record.count >= 30000 && record.count <= 60000) || platform::NowNs() > giveUp) {
        return std::uint64_t{record.tally} * 65536u + record.count;
      }
      platform::Sleep(2);
    }
  }
  // Counter n counts at `hz` over `ms`: the edges between two reads fit the
  // shortest and the longest time between the two latches (within 5 %). A
  // terminal count near the latch may be tallied a little late, so re-reads
  // are allowed for a while; a tally that stands still never catches up.
  bool CountsAt(std::uint16_t n, double hz, std::uint32_t ms) {
    const std::uint64_t firstBefore = platform::NowNs();
    const std::uint64_t first = Total(n);
    const std::uint64_t firstAfter = platform::NowNs();
    platform::Sleep(ms);
    const std::uint64_t giveUp = platform::NowNs() + 250'000'000u;
    for (;;) {
      const std::uint64_t before = platform::NowNs();
      const double edges = static_cast<double>(Total(n)) - static_cast<double>(first);
      const std::uint64_t after = platform::NowNs();
      const double shortest = static_cast<double>(before - firstAfter) / 1e9;
      const double longest = static_cast<double>(after - firstBefore) / 1e9;
      if (edges >= hz * shortest * 0.95 - 2 && edges <= hz * longest * 1.05 + 2) return true;
      if (platform::NowNs() > giveUp) {
        ADD_FAILURE() << "counter " << n << ": " << edges << " edges in " << shortest * 1e3 << " to "
                      << longest * 1e3 << " ms";
        return false;
      }
      platform::Sleep(5);
    }
  }
  Reply EnableEvent(std::uint16_t source, bool on) {
    proto::EventEnableRequest request{};
    request.enable = on ? 1 : 0;
    request.source = source;
    request.triggerCount = 1;
    return Send(proto::IOCTL_EVENT_ENABLE, request);
  }
  std::optional<std::uint32_t> LastInterruptEnable() {
    std::optional<std::uint32_t> last;
    for (const Write& w : TraceWrites()) {
      if (w.offset == regs::kInterruptControl) last = w.value;
    }
    return last;
  }
};

TEST_F(Ownership, TwoEventCountsKeepTheirInterruptsThroughEnablesAndResets) {
  Input(0, 1'000'000.0);
  Input(1, 500'000.0);
  TraceOn();
  ASSERT_EQ(EventStart(0).result, 1);
  ASSERT_EQ(EventStart(1).result, 1);
  EXPECT_EQ(LastInterruptEnable(), 0x0003u);
  // An event source enabled and disabled, and a reset of a counter that is
  // not counting, each write the register again: with both counter bits.
  ASSERT_EQ(EnableEvent(3, true).result, 1);
  EXPECT_EQ(LastInterruptEnable(), 0x0007u);
  ASSERT_EQ(EnableEvent(3, false).result, 1);
  EXPECT_EQ(LastInterruptEnable(), 0x0003u);
  // Over 200 ms both totals grow at their input's rate (several 16-bit wraps).
  EXPECT_TRUE(CountsAt(0, 1e6, 200));
  EXPECT_TRUE(CountsAt(1, 5e5, 200));
  // The reset of counter 1 removes only counter 1's bit.
  ASSERT_EQ(Reset(1).result, 1);
  EXPECT_EQ(LastInterruptEnable(), 0x0001u);
  EXPECT_TRUE(CountsAt(0, 1e6, 200));
}

TEST_F(Ownership, CountedRunOverlappingAnEventEnableStillEnds) {
  ASSERT_EQ(PwmSetting(1, 10.0f, 5.0f, 5).result, 1);
  ASSERT_EQ(PwmEnable(1).result, 1);
  const std::uint64_t enabled = Now();
  // DI enables write the interrupt-enable register while the window is open.
  for (unsigned source : {0u, 8u, 16u}) ASSERT_EQ(EnableEvent(static_cast<std::uint16_t>(source), true).result, 1);
  ASSERT_EQ(EnableEvent(8, false).result, 1);
  EXPECT_EQ(EventStart(0).error, kBusy);  // the prescaler still runs
  // Five periods of 10 ms (and a prescaler count of 0.8 us): the window
  // closes 50 ms after the enable, and both counters are free from then on.
  SleepUntil(enabled + Ms(50));
  EXPECT_EQ(EventStart(1).error, kBusy);
  SleepUntil(enabled + Ms(51));
  EXPECT_EQ(EventStart(1).result, 1) << "the counted run never ended";
  EXPECT_EQ(EventStart(0).result, 1);
}

TEST_F(Ownership, TwoContinuousPwmsStayOwnedThroughTerminalCounts) {
  ASSERT_EQ(EnableEvent(static_cast<std::uint16_t>(proto::kSourceTerminalCount0), true).result, 1);
  ASSERT_EQ(PwmSetting(0, 2.0f, 1.0f, 0).result, 1);
  ASSERT_EQ(PwmSetting(1, 4.0f, 1.0f, 0).result, 1);
  ASSERT_EQ(PwmEnable(0).result, 1);
  ASSERT_EQ(PwmEnable(1).result, 1);
  platform::Sleep(50);  // some 50 terminal counts of counter 0
  EXPECT_EQ(PulseStart(0, 0.002f).error, kBusy);
  EXPECT_EQ(PulseStart(1, 0.002f).error, kBusy);
  EXPECT_NEAR(Out(0).hz, 500.0, 1e-6);
  EXPECT_NEAR(Out(1).hz, 250.0, 1e-6);
  EXPECT_NEAR(Out(1).highSeconds, 0.001, 1e-9);
}

TEST_F(Ownership, FrequencyMeasurementOwnsItsPartnerBlock) {
  Input(0, 20'000.0);
  Input(1, 1'000.0);
  ASSERT_EQ(FreqStart(0, 0).result, 1);
  // Everything that would program block 1 is refused.
  EXPECT_EQ(EventStart(1).error, kBusy);
  EXPECT_EQ(PulseStart(1, 0.002f).error, kBusy);
  EXPECT_EQ(PwmSetting(1, 2.0f, 1.0f, 0).error, kBusy);
  EXPECT_EQ(Config(1, 1, {0x0218, 0, 0, 0, 0, 0, 0, 0}).error, kBusy);
  // Generator 1 is not the measurement's.
  ASSERT_EQ(FreqOut(1, 4, 0x0400).result, 1);
  EXPECT_DOUBLE_EQ(FreqOutHz(1), 250'000.0);
  ASSERT_GE(WaitForFrequency(0, 20'000.0f, 0.0f, 3500), 0);
  // A frequency output on generator 0 would change the gate's clock.
  EXPECT_EQ(FreqOut(0, 1, 0x0300).error, kBusy);
}

TEST_F(Ownership, FrequencyStartDoesNotTakeABusyPartner) {
  Input(0, 1'000'000.0);
  Input(1, 1'000'000.0);
  ASSERT_EQ(EventStart(1).result, 1);
  EXPECT_EQ(FreqStart(0, 0).error, kBusy);
  EXPECT_TRUE(CountsAt(1, 1e6, 100));
  // The refused start left counter 0 free.
  EXPECT_EQ(PulseStart(0, 0.002f).result, 1);
}

TEST_F(Ownership, ResetOfThePartnerEndsTheMeasurement) {
  Input(0, 1'000'000.0);
  const std::size_t threadsBefore = platform::LiveThreadCount();
  ASSERT_EQ(FreqStart(0, 10).result, 1);  // 10 ms gate on generator 0
  ASSERT_GE(WaitForFrequency(0, 1'000'000.0f, 100.0f, 1000), 0);
  ASSERT_EQ(Reset(1).result, 1);
  // Counter 0 lost its gate: it is free, its generator stopped, no thread left.
  EXPECT_EQ(platform::LiveThreadCount(), threadsBefore);
  EXPECT_DOUBLE_EQ(FreqOutHz(0), 0.0);
  EXPECT_EQ(EventStart(0).result, 1);
  EXPECT_EQ(EventStart(1).result, 1);
}

TEST_F(Ownership, FailedPwmSettingKeepsTheLastGoodOne) {
  ASSERT_EQ(PwmSetting(1, 2.0f, 1.0f, 0).result, 1);  // continuous, base clock
  TraceOn();
  // 61 periods of a second exceed the minute a counted run may last.
  const Reply failed = PwmSetting(1, 1000.0f, 500.0f, 61);
  EXPECT_EQ(failed.error, kOutOfRange);
  EXPECT_TRUE(TraceWrites().empty());
  ASSERT_EQ(PwmEnable(1).result, 1);
  EXPECT_NEAR(Out(1).hz, 500.0, 1e-6);
  // Counter 0 was not seized as a prescaler.
  EXPECT_EQ(EventStart(0).result, 1);
}

TEST_F(Ownership, AnEnableRunsOnlyWhatIsLoaded) {
  EXPECT_EQ(PwmEnable(1).error, kNoSetting);
  // A setting on the base clock survives a reset...
  ASSERT_EQ(PwmSetting(1, 2.0f, 1.0f, 0).result, 1);
  ASSERT_EQ(Reset(1).result, 1);
  ASSERT_EQ(PwmEnable(1).result, 1);
  EXPECT_NEAR(Out(1).hz, 500.0, 1e-6);
  ASSERT_EQ(Reset(1).result, 1);
  // ...one on a generator does not: the reset stopped its time base.
  ASSERT_EQ(PwmSetting(1, 10.0f, 2.5f, 0).result, 1);
  ASSERT_EQ(Reset(1).result, 1);
  EXPECT_EQ(PwmEnable(1).error, kNoSetting);
  // Nor does one whose block another function has programmed since.
  ASSERT_EQ(PwmSetting(0, 2.0f, 1.0f, 0).result, 1);
  ASSERT_EQ(EventStart(0).result, 1);
  ASSERT_EQ(Reset(0).result, 1);
  EXPECT_EQ(PwmEnable(0).error, kNoSetting);
}

TEST_F(Ownership, EventReadLeavesARunningPwmAlone) {
  ASSERT_EQ(PwmSetting(0, 10.0f, 2.5f, 0).result, 1);
  ASSERT_EQ(PwmEnable(0).result, 1);
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(EventRead(0).error, kBusy);
    platform::Sleep(3);
  }
  EXPECT_NEAR(Out(0).hz, 100.0, 1e-6);
  EXPECT_NEAR(Out(0).highSeconds, 0.0025, 1e-9);
}

TEST_F(Ownership, ResetOfThePrescalerEndsTheCountedRun) {
  ASSERT_EQ(PwmSetting(1, 20.0f, 10.0f, 1000).result, 1);
  ASSERT_EQ(PwmEnable(1).result, 1);
  TraceOn();
  ASSERT_EQ(Reset(0).result, 1);
  const std::vector<Write> writes = TraceWrites();
  EXPECT_TRUE(Contains(writes, regs::CommandRegister(1), 0x07));
  EXPECT_EQ(WritesTo(writes, regs::kInterruptControl).back().value, 0u);
  EXPECT_DOUBLE_EQ(FreqOutHz(0), 0.0);
  EXPECT_DOUBLE_EQ(FreqOutHz(1), 0.0);
  EXPECT_EQ(EventStart(1).result, 1);
}

}  // namespace
}  // namespace qio::test
