// Pulse output, frequency output, PWM, the cascaded PWM of N periods and
// event counting, driven with the driver's register sequences.
#include <cmath>

#include "core_fixture.h"

namespace qio::sim::test {
namespace {

class PulseOutput : public CoreTest {
 protected:
  void Start(unsigned n, std::uint16_t sourceBits, std::uint16_t count) {
    Mode(n, 0x0016);
    Load(n, 1);
    const std::uint16_t mode = R16(offset::ModeRegister(n));
    Load(n, count);
    Hold(n, count);
    Mode(n, static_cast<std::uint16_t>(mode | sourceBits));
    Command(n, command::kLoadAndArm);
    W16(offset::kCommandStrobe, static_cast<std::uint16_t>(1u << n));
  }
};

TEST_F(PulseOutput, BaseClockRowGivesC_Over2Count) {
  Start(0, 0, 10000);  // T = 1 ms
  const OutputWave wave = core.Output(0, now);
  EXPECT_DOUBLE_EQ(wave.hz, 1000.0);
  EXPECT_DOUBLE_EQ(wave.highSeconds, 0.0005);
}

TEST_F(PulseOutput, GeneratorRowOnCounter1) {
  Generator(1, 0x1000 | 0x0300 | 0x0001);  // 10 MHz / 2
  Start(1, 0x0500, 10000);                  // T = 4 ms
  const OutputWave wave = core.Output(1, now);
  EXPECT_DOUBLE_EQ(wave.hz, 250.0);
  EXPECT_DOUBLE_EQ(wave.highSeconds, 0.002);
  // Ten seconds later exactly 2500 periods have been put out (give or take
  // the one in progress).
  const std::uint64_t before = core.OutputRises(1, now);
  Wait(10'000 * kMs);
  const std::uint64_t periods = core.OutputRises(1, now) - before;
  EXPECT_GE(periods, 2499u);
  EXPECT_LE(periods, 2501u);
}

TEST_F(PulseOutput, OutputStartsLowAndRisesAfterCountEdges) {
  Start(0, 0, 10000);
  const std::uint64_t armed = now - 1;  // the strobe's instant
  EXPECT_FALSE(core.OutputLevel(0, armed + 500 * kUs - 1));
  EXPECT_TRUE(core.OutputLevel(0, armed + 500 * kUs));
  EXPECT_FALSE(core.OutputLevel(0, armed + 1000 * kUs));
}

TEST(FrequencyOutput, IsSourceOverDivisor) {
  BoardCore core(5);
  core.Write(offset::ClockGenerator(0), 2, 0x1000 | 0x0400 | 3, 10);  // 1 MHz / 4
  EXPECT_DOUBLE_EQ(core.FreqOut(0), 250e3);
  core.Write(offset::ClockGenerator(1), 2, 0x1000 | 0x0700 | 15, 20);  // 1 kHz / 16
  EXPECT_DOUBLE_EQ(core.FreqOut(1), 62.5);
  core.Write(offset::ClockGenerator(0), 2, 0x1000 | 0x0100, 30);  // 20 MHz
  EXPECT_DOUBLE_EQ(core.FreqOut(0), 20e6);
  // Phase zero at the enabling write: a rising edge then, 50 % duty.
  EXPECT_TRUE(core.FreqOutLevel(0, 30));
  EXPECT_FALSE(core.FreqOutLevel(0, 55));
  EXPECT_TRUE(core.FreqOutLevel(0, 80));
  core.Write(offset::ClockGenerator(0), 2, 0, 40);
  EXPECT_DOUBLE_EQ(core.FreqOut(0), 0.0);
  core.Write(offset::ClockGenerator(1), 2, 0x0700, 50);  // source set, not enabled
  EXPECT_DOUBLE_EQ(core.FreqOut(1), 0.0);
}

TEST(FrequencyOutput, PinSourceDividesClkPeriod) {
  BoardCore core(0);
  ASSERT_TRUE(core.SetCounterInput(0, 30e6, 50.0, 0.0, 0));
  core.Write(offset::ClockGenerator(0), 2, 0x1000 | 0x0200 | 2, 100);  // CLK0 / 3
  EXPECT_NEAR(core.FreqOut(0), 10e6, 1e-6);
  ASSERT_TRUE(core.SetCounterLevel(0, false, 200));
  EXPECT_DOUBLE_EQ(core.FreqOut(0), 0.0);
}

class PwmOutput : public CoreTest {
 protected:
  void Enable(unsigned n, std::uint16_t modeWord) {
    Mode(n, static_cast<std::uint16_t>(modeWord & 0xFFFB));
    W8(offset::CommandRegister(n), command::kLoadAndArm);
    Strobe(static_cast<std::uint8_t>(1u << n));
    Mode(n, modeWord);
  }
};

TEST_F(PwmOutput, LowForLoadCountsHighForHoldCounts) {
  Generator(0, 0x1000 | 0x0300);  // 10 MHz
  Load(0, 50000);
  Hold(0, 25000);
  Enable(0, 0x0436);
  const OutputWave wave = core.Output(0, now);
  EXPECT_NEAR(wave.hz, 1e7 / 75000.0, 1e-9);
  EXPECT_NEAR(wave.highSeconds, 2.5e-3, 1e-15);
  // The first rise comes 50000 generator edges after arming.
  const std::uint64_t start = now;
  Wait(4999 * kUs);
  EXPECT_FALSE(core.OutputLevel(0, now));
  Wait(2 * kUs);
  EXPECT_TRUE(core.OutputLevel(0, now));
  EXPECT_EQ(core.OutputRises(0, start + 3 * 7500 * kUs + 5000 * kUs + 1 * kUs) -
                core.OutputRises(0, start),
            4u);
}

TEST_F(PwmOutput, BaseClockPwmOnCounter1) {
  Load(1, 20000);
  Hold(1, 20000);
  Enable(1, 0x0036);
  const OutputWave wave = core.Output(1, now);
  EXPECT_DOUBLE_EQ(wave.hz, 500.0);
  EXPECT_DOUBLE_EQ(wave.highSeconds, 1e-3);
}

TEST_F(PwmOutput, CascadeRunsExactlyNPeriodsThenOneTerminalCountOfCounter0) {
  // P = 2 ms, H = 1 ms, N = 5 on counter 1: block 1 0x1036 (cl = ch = 20000),
  // prescaler on block 0 from 10 MHz / 2 with c = 50001.
  Load(1, 20000);
  Hold(1, 20000);
  Mode(1, 0x1036);
  Generator(0, 0x1000 | 0x0300 | 0x0001);
  W16(offset::LoadRegister(0), 1);
  W16(offset::HoldRegister(0), 50000);
  // Enable, cascaded.
  Mode(0, 0x0420);
  W8(offset::CommandRegister(0), command::kLoad);
  Strobe(0x01);
  Mode(0, 0x0426);
  Mode(1, 0x1032);
  W8(offset::CommandRegister(1), command::kLoadAndArm);
  Strobe(0x02);
  Mode(1, 0x1036);
  W8(offset::CommandRegister(0), command::kLoadAndArm);
  Strobe(0x01);
  W16(offset::kInterruptControl, 0x0001);
  EXPECT_EQ(core.TakeInterruptRequests(), 0u);

  const auto due = core.NextInterruptTime();
  ASSERT_TRUE(due.has_value());
  EXPECT_NEAR(static_cast<double>(*due - now), 10e6, 2000.0);  // the 10 ms window's end
  Wait(100 * kMs);
  core.Advance(now);
  EXPECT_EQ(core.TakeInterruptRequests(), 1u);
  EXPECT_EQ(Status() & 0x3, 0x1);
  EXPECT_EQ(core.OutputRises(1, now), 5u);
  EXPECT_FALSE(core.OutputLevel(1, now));
  EXPECT_FALSE(core.OutputLevel(0, now));
  EXPECT_EQ(core.TerminalCounts(0, now), 2u);
  EXPECT_FALSE(core.NextInterruptTime().has_value());
  Wait(1000 * kMs);
  core.Advance(now);
  EXPECT_EQ(core.TakeInterruptRequests(), 0u);
  EXPECT_EQ(core.OutputRises(1, now), 5u);
}

TEST_F(PwmOutput, CascadeOnGeneratorsWithLongerPeriods) {
  // P = 10 ms, H = 5 ms: block 1 on generator 1 at 10 MHz (cl = ch = 50000);
  // N = 3: prescaler on generator 0 at 2 MHz with c = 60001.
  Generator(1, 0x1000 | 0x0300);
  Load(1, 50000);
  Hold(1, 50000);
  Mode(1, 0x1536);
  Generator(0, 0x1000 | 0x0300 | 0x0004);
  W16(offset::LoadRegister(0), 1);
  W16(offset::HoldRegister(0), 60000);
  Mode(0, 0x0420);
  W8(offset::CommandRegister(0), command::kLoad);
  Strobe(0x01);
  Mode(0, 0x0426);
  Mode(1, 0x1532);
  W8(offset::CommandRegister(1), command::kLoadAndArm);
  Strobe(0x02);
  Mode(1, 0x1536);
  W8(offset::CommandRegister(0), command::kLoadAndArm);
  Strobe(0x01);
  W16(offset::kInterruptControl, 0x0001);
  Wait(500 * kMs);
  core.Advance(now);
  EXPECT_EQ(core.TakeInterruptRequests(), 1u);
  EXPECT_EQ(core.OutputRises(1, now), 3u);
}

class EventCounting : public CoreTest {};

TEST_F(EventCounting, CountAndTerminalCountsGiveTheExactTotal) {
  Input(0, 100e3);  // a rising edge now, then every 10 us
  Wait(5 * kUs);
  Mode(0, 0x0218);
  Load(0, 1);
  Command(0, command::kLoadAndArm);
  W16(offset::kCommandStrobe, 0x01);
  const std::uint64_t armed = now - 1;
  Enable(0x0001);
  // The driver's service loop: count each terminal-count interrupt, clear.
  std::uint32_t tally = 0;
  const std::uint64_t end = armed + 3000 * kMs;
  while (auto due = core.NextInterruptTime()) {
    if (*due > end) break;
    now = *due;
    core.Advance(now);
    tally += core.TakeInterruptRequests();
    if ((Status() & 0x1) != 0) W8(offset::kInterruptClear, 0);
  }
  now = end;
  const std::uint16_t count = LatchAndRead(0);
  EXPECT_EQ(tally, 4u);
  EXPECT_EQ(tally * 65536u + count, 300000u);
  EXPECT_EQ(core.TerminalCounts(0, now), 4u);
}

TEST_F(EventCounting, SingleEdgesFromLevelChanges) {
  Mode(0, 0x0218);
  Load(0, 1);
  Command(0, command::kLoadAndArm);
  W16(offset::kCommandStrobe, 0x01);
  for (int i = 0; i < 7; ++i) {
    ASSERT_TRUE(core.SetCounterLevel(0, true, now++));
    ASSERT_TRUE(core.SetCounterLevel(0, false, now++));
  }
  ASSERT_TRUE(core.SetCounterLevel(0, false, now++));  // no edge
  EXPECT_EQ(LatchAndRead(0), 7);
}

TEST_F(EventCounting, CountsTheOutputOfAnotherBlockWiredToClk) {
  // Counter 1 puts out 1 kHz; CLK0 is wired to OUT1.
  Load(1, 10000);
  Hold(1, 10000);
  Mode(1, 0x0016);
  Command(1, command::kLoadAndArm);
  W16(offset::kCommandStrobe, 0x02);
  ASSERT_TRUE(core.WireCounterInput(0, ClockWire::kOut1, now));
  Mode(0, 0x0218);
  Load(0, 1);
  Command(0, command::kLoadAndArm);
  W16(offset::kCommandStrobe, 0x01);
  Wait(2500 * kMs + 200 * kUs);
  EXPECT_EQ(LatchAndRead(0), 2500);
}

}  // namespace
}  // namespace qio::sim::test
