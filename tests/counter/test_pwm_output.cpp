// PWM output: the base-clock case, the searched time base, a counted run of N
// periods with its prescaler, and the busy rules of a cascade.
#include "counter_target.h"

namespace qio::test {
namespace {

using PwmOutput = CounterTarget;

TEST_F(PwmOutput, TwoMillisecondPeriodRunsOnTheBaseClock) {
  TraceOn();
  ASSERT_EQ(PwmSetting(1, 2.0f, 1.0f, 0).result, 1);
  const std::vector<Write> writes = TraceWrites();
  const std::vector<Write> expected = {
      {regs::LoadRegister(1), 2, 20000}, {regs::HoldRegister(1), 2, 20000}, {regs::ModeRegister(1), 2, 0x0036}};
  EXPECT_EQ(writes, expected);
  // Nothing runs before the enable.
  EXPECT_DOUBLE_EQ(Out(1).hz, 0.0);
  ASSERT_EQ(PwmEnable(1).result, 1);
  const Output out = Out(1);
  EXPECT_NEAR(out.hz, 500.0, 1e-6);
  EXPECT_NEAR(out.highSeconds, 0.001, 1e-12);
}

TEST_F(PwmOutput, LongPeriodUsesTheCandidateOfSmallestError) {
  TraceOn();
  ASSERT_EQ(PwmSetting(0, 1000.0f, 250.0f, 0).result, 1);
  const std::vector<Write> writes = TraceWrites();
  // 1 MHz / 12: 62500 low and 20833 high counts of 12 us.
  EXPECT_TRUE(Contains(writes, regs::ClockGenerator(0), 0x140B));
  EXPECT_TRUE(Contains(writes, regs::LoadRegister(0), 62500));
  EXPECT_TRUE(Contains(writes, regs::HoldRegister(0), 20833));
  EXPECT_TRUE(Contains(writes, regs::ModeRegister(0), 0x0436));
  ASSERT_EQ(PwmEnable(0).result, 1);
  const Output out = Out(0);
  EXPECT_NEAR(1.0 / out.hz, 0.999996, 1e-9);
  EXPECT_NEAR(out.highSeconds, 0.249996, 1e-9);
}

TEST_F(PwmOutput, SettingMayBeRepeatedWhileItRuns) {
  ASSERT_EQ(PwmSetting(0, 1000.0f, 250.0f, 0).result, 1);
  ASSERT_EQ(PwmEnable(0).result, 1);
  ASSERT_EQ(PwmSetting(0, 100.0f, 30.0f, 0).result, 1);
  EXPECT_EQ(PwmEnable(0).error, kBusy);  // already running
  const Output out = Out(0);
  // 10 MHz / 14: 50000 low and 21428 high counts.
  EXPECT_NEAR(1.0 / out.hz, 0.0999992, 1e-9);
  EXPECT_NEAR(out.highSeconds, 0.0299992, 1e-9);
}

TEST_F(PwmOutput, CountedRunOnCounterOneStopsAfterFivePeriods) {
  ASSERT_EQ(PwmSetting(1, 100.0f, 50.0f, 5).result, 1);
  ASSERT_EQ(PwmEnable(1).result, 1);
  // Both counters run now; counter 0 is the prescaler.
  EXPECT_EQ(EventStart(0).error, kBusy);

  // Rising edges of OUT1 over 0.5 s and a margin; the phases last 50 ms.
  int risingEdges = 0;
  int level = 0;
  ASSERT_EQ(qio_sim_get_output_level(board_, 1, &level), QIO_TARGET_OK);
  const std::uint64_t begin = platform::NowNs();
  while (MsSince(begin) < 800.0) {
    int now = 0;
    ASSERT_EQ(qio_sim_get_output_level(board_, 1, &now), QIO_TARGET_OK);
    if (now == 1 && level == 0) ++risingEdges;
    level = now;
    platform::Sleep(1);
  }
  EXPECT_EQ(risingEdges, 5);
  EXPECT_EQ(level, 0);
  // The terminal-count interrupt of the prescaler returned both to idle.
  EXPECT_EQ(EventStart(0).result, 1);
  EXPECT_EQ(EventStart(1).result, 1);
}

TEST_F(PwmOutput, CountedRunEnablesTheTerminalCountOfCounterZero) {
  TraceOn();
  ASSERT_EQ(PwmSetting(1, 10.0f, 5.0f, 5).result, 1);
  std::vector<Write> writes = TraceWrites();
  // Prescaler: 10 MHz / 8, one load count and a window of 62500.
  EXPECT_TRUE(Contains(writes, regs::LoadRegister(0), 1));
  EXPECT_TRUE(Contains(writes, regs::HoldRegister(0), 62500));
  EXPECT_TRUE(Contains(writes, regs::ClockGenerator(0), 0x1307));
  EXPECT_TRUE(Contains(writes, regs::ModeRegister(1), 0x1536));
  ASSERT_EQ(PwmEnable(1).result, 1);
  writes = TraceWrites();
  EXPECT_TRUE(Contains(writes, regs::ModeRegister(0), 0x0426));
  EXPECT_TRUE(Contains(writes, regs::kInterruptControl, 0x0001));
}

TEST_F(PwmOutput, CountedRunOnCounterZeroHasNoPrescaler) {
  const Reply reply = PwmSetting(0, 10.0f, 5.0f, 5);
  EXPECT_EQ(reply.result, 0);
  EXPECT_EQ(reply.error, kBadCounter);
  // The failed setting loaded nothing, so there is nothing to enable (and
  // no counter below 0 is ever taken as a prescaler).
  const Reply enable = PwmEnable(0);
  EXPECT_EQ(enable.result, 0);
  EXPECT_EQ(enable.error, kNoSetting);
}

TEST_F(PwmOutput, CascadeOnCounterOneMakesCounterZeroBusyAndItsResetResetsBoth) {
  ASSERT_EQ(PwmSetting(1, 1000.0f, 500.0f, 20).result, 1);
  ASSERT_EQ(PwmEnable(1).result, 1);
  const Reply zero = PwmSetting(0, 2.0f, 1.0f, 0);
  EXPECT_EQ(zero.result, 0);
  EXPECT_EQ(zero.error, kBusy);

  TraceOn();
  ASSERT_EQ(Reset(1).result, 1);
  const std::vector<Write> writes = TraceWrites();
  EXPECT_TRUE(Contains(writes, regs::CommandRegister(1), 0x07));
  EXPECT_TRUE(Contains(writes, regs::CommandRegister(0), 0x07));  // the prescaler too
  EXPECT_DOUBLE_EQ(FreqOutHz(0), 0.0);
  EXPECT_DOUBLE_EQ(FreqOutHz(1), 0.0);
  EXPECT_EQ(PwmSetting(0, 2.0f, 1.0f, 0).result, 1);
}

TEST_F(PwmOutput, RunOfPeriodsBeyondAMinuteIsOutOfRange) {
  const Reply reply = PwmSetting(1, 1000.0f, 500.0f, 61);
  EXPECT_EQ(reply.result, 0);
  EXPECT_EQ(reply.error, kOutOfRange);
}

TEST_F(PwmOutput, NoTimeBaseFailsAsOutOfRange) {
  TraceOn();
  for (const auto& [period, high] : {std::pair{2'000'000.0f, 1000.0f}, std::pair{10.0f, 10.0f},
                                     std::pair{10.0f, 0.0f}}) {
    const Reply reply = PwmSetting(0, period, high, 0);
    EXPECT_EQ(reply.result, 0) << period << " " << high;
    EXPECT_EQ(reply.error, kOutOfRange) << period << " " << high;
  }
  EXPECT_TRUE(TraceWrites().empty());
}

TEST_F(PwmOutput, SettingOnABusyCounterIsRefused) {
  ASSERT_EQ(EventStart(1).result, 1);
  const Reply reply = PwmSetting(1, 2.0f, 1.0f, 0);
  EXPECT_EQ(reply.result, 0);
  EXPECT_EQ(reply.error, kBusy);
}

TEST_F(PwmOutput, ResetStopsAPwmThatWasLoadedButNeverEnabled) {
  ASSERT_EQ(PwmSetting(0, 1000.0f, 250.0f, 0).result, 1);
  EXPECT_GT(FreqOutHz(0), 0.0);
  ASSERT_EQ(Reset(0).result, 1);
  EXPECT_DOUBLE_EQ(FreqOutHz(0), 0.0);
  // The generator is free again.
  EXPECT_EQ(PulseStart(0, 0.004f).result, 1);
}

}  // namespace
}  // namespace qio::test
