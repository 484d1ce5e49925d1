// Pulse output on a counter and frequency output on a clock generator, with
// their time bases and their busy rules.
#include "counter_target.h"

namespace qio::test {
namespace {

using PulseOutput = CounterTarget;

TEST_F(PulseOutput, OneMillisecondRunsOnTheBaseClock) {
  TraceOn();
  ASSERT_EQ(PulseStart(0, 0.001f).result, 1);
  const std::vector<Write> writes = TraceWrites();
  EXPECT_TRUE(WritesTo(writes, regs::ClockGenerator(0)).empty());
  EXPECT_TRUE(Contains(writes, regs::LoadRegister(0), 10000));
  EXPECT_TRUE(Contains(writes, regs::HoldRegister(0), 10000));
  EXPECT_TRUE(Contains(writes, regs::ModeRegister(0), 0x0016));
  const Output out = Out(0);
  EXPECT_NEAR(out.hz, 1000.0, 1e-6);
  EXPECT_NEAR(out.highSeconds, 0.0005, 1e-9);
}

TEST_F(PulseOutput, FourMillisecondsRunOnTenMegahertzHalved) {
  TraceOn();
  ASSERT_EQ(PulseStart(1, 0.004f).result, 1);
  const std::vector<Write> writes = TraceWrites();
  EXPECT_TRUE(Contains(writes, regs::ClockGenerator(1), 0x1301));
  EXPECT_TRUE(Contains(writes, regs::LoadRegister(1), 10000));
  EXPECT_TRUE(Contains(writes, regs::ModeRegister(1), 0x0516));  // counts generator 1
  EXPECT_NEAR(Out(1).hz, 250.0, 1e-6);
}

TEST_F(PulseOutput, FiftySecondsRunOnTwoKilohertz) {
  TraceOn();
  ASSERT_EQ(PulseStart(0, 50.0f).result, 1);
  const std::vector<Write> writes = TraceWrites();
  EXPECT_TRUE(Contains(writes, regs::ClockGenerator(0), 0x1604));  // 10 kHz / 5
  EXPECT_TRUE(Contains(writes, regs::LoadRegister(0), 50000));
  EXPECT_TRUE(Contains(writes, regs::ModeRegister(0), 0x0416));
  EXPECT_NEAR(Out(0).hz, 0.02, 1e-9);
}

TEST_F(PulseOutput, PeriodsOutsideTheTableAreOutOfRange) {
  for (float period : {50.01f, 0.0009f, 0.0f, -1.0f}) {
    const Reply reply = PulseStart(0, period);
    EXPECT_EQ(reply.result, 0) << period;
    EXPECT_EQ(reply.error, kOutOfRange) << period;
  }
  // Nothing was started.
  EXPECT_DOUBLE_EQ(Out(0).hz, 0.0);
  EXPECT_EQ(EventStart(0).result, 1);
}

TEST_F(PulseOutput, BusyCounterRefusesTheStart) {
  ASSERT_EQ(EventStart(1).result, 1);
  const Reply reply = PulseStart(1, 0.001f);
  EXPECT_EQ(reply.result, 0);
  EXPECT_EQ(reply.error, kBusy);
  EXPECT_DOUBLE_EQ(Out(1).hz, 0.0);
}

TEST_F(PulseOutput, FrequencyOutputRunsOnAnIdleCounter) {
  ASSERT_EQ(FreqOut(1, 4, 0x0400).result, 1);
  EXPECT_DOUBLE_EQ(FreqOutHz(1), 250'000.0);
  // The counter itself is still free for another function.
  EXPECT_EQ(EventStart(1).result, 1);
  EXPECT_DOUBLE_EQ(FreqOutHz(1), 250'000.0);
}

TEST_F(PulseOutput, SecondFrequencyOutputOnTheSameGeneratorIsBusyUntilReset) {
  ASSERT_EQ(FreqOut(0, 1, 0x0300).result, 1);
  const Reply again = FreqOut(0, 2, 0x0300);
  EXPECT_EQ(again.result, 0);
  EXPECT_EQ(again.error, kBusy);
  EXPECT_DOUBLE_EQ(FreqOutHz(0), 10'000'000.0);
  ASSERT_EQ(Reset(0).result, 1);
  EXPECT_EQ(FreqOut(0, 2, 0x0300).result, 1);
  EXPECT_DOUBLE_EQ(FreqOutHz(0), 5'000'000.0);
}

TEST_F(PulseOutput, PulseNeedingTheGeneratorOfAFrequencyOutputIsBusy) {
  ASSERT_EQ(FreqOut(0, 8, 0x0700).result, 1);  // 125 Hz
  const Reply generatorRow = PulseStart(0, 0.004f);
  EXPECT_EQ(generatorRow.result, 0);
  EXPECT_EQ(generatorRow.error, kBusy);
  EXPECT_DOUBLE_EQ(FreqOutHz(0), 125.0);
  // The base-clock row needs no generator.
  ASSERT_EQ(PulseStart(0, 0.001f).result, 1);
  EXPECT_NEAR(Out(0).hz, 1000.0, 1e-6);
  EXPECT_DOUBLE_EQ(FreqOutHz(0), 125.0);
}

TEST_F(PulseOutput, FrequencyOutputRefusesWhatTheGeneratorCannotHold) {
  TraceOn();
  for (const auto& [divisor, source] : {std::pair{0, 0x0300}, std::pair{17, 0x0300}, std::pair{1, 0x0000},
                                        std::pair{1, 0x0800}, std::pair{1, 0x0301}}) {
    const Reply reply = FreqOut(0, static_cast<std::uint16_t>(divisor), static_cast<std::uint16_t>(source));
    EXPECT_EQ(reply.result, 0) << divisor << " " << source;
    EXPECT_EQ(reply.error, kOutOfRange) << divisor << " " << source;
  }
  EXPECT_TRUE(TraceWrites().empty());
  EXPECT_EQ(FreqOut(0, 16, 0x0100).result, 1);
  EXPECT_DOUBLE_EQ(FreqOutHz(0), 1'250'000.0);
}

}  // namespace
}  // namespace qio::test
