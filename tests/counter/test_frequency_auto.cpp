// Frequency measurement with automatic ranging: the 2 ms edge count, the
// medium range with its long-gate threads, the period method on the base
// clock and on the slow time base, over range, and the reset of a running
// measurement.
#include "counter_target.h"

namespace qio::test {
namespace {

using FrequencyAuto = CounterTarget;

TEST_F(FrequencyAuto, OneMegahertzIsReadRightAfterTheStart) {
  Input(0, 1'000'000.0);
  TraceOn();
  ASSERT_EQ(FreqStart(0, 0).result, 1);
  const std::vector<Write> writes = TraceWrites();
  EXPECT_TRUE(Contains(writes, regs::ModeRegister(0), 0x0016));
  EXPECT_TRUE(Contains(writes, regs::ModeRegister(1), 0x9748));
  EXPECT_TRUE(Contains(writes, regs::LoadRegister(0), 40000));
  // The 20 ms row: 1 MHz generator, and the gate counter switched to it.
  EXPECT_TRUE(Contains(writes, regs::ClockGenerator(0), 0x1400));
  EXPECT_TRUE(Contains(writes, regs::ModeRegister(0), 0x0416));

  const Reply read = FreqRead(0);
  EXPECT_EQ(read.result, 1);
  EXPECT_FLOAT_EQ(Hertz(read), 1'000'000.0f);
}

TEST_F(FrequencyAuto, FiveMegahertzAndAboveAreCountedDirectly) {
  Input(0, 7'500'000.0);
  TraceOn();
  ASSERT_EQ(FreqStart(0, 0).result, 1);
  EXPECT_TRUE(WritesTo(TraceWrites(), regs::ClockGenerator(0)).empty());
  const Reply read = FreqRead(0);
  EXPECT_EQ(read.result, 1);
  EXPECT_FLOAT_EQ(Hertz(read), 7'500'000.0f);
}

TEST_F(FrequencyAuto, OneKilohertzIsMeasuredByItsPeriod) {
  Input(0, 1'000.0);
  TraceOn();
  ASSERT_EQ(FreqStart(0, 0).result, 1);
  const std::vector<Write> writes = TraceWrites();
  EXPECT_TRUE(Contains(writes, regs::ModeRegister(0), 0xA040));
  EXPECT_TRUE(Contains(writes, regs::ModeRegister(1), 0xF040));
  EXPECT_TRUE(WritesTo(writes, regs::ClockGenerator(0)).empty());
  // a + b = 20000 base ticks.
  const Reply read = FreqRead(0);
  EXPECT_EQ(read.result, 1);
  EXPECT_FLOAT_EQ(Hertz(read), 1000.0f);
}

TEST_F(FrequencyAuto, HundredHertzComesFromTheSlowPass) {
  Input(0, 100.0);
  TraceOn();
  const std::uint64_t begin = platform::NowNs();
  ASSERT_EQ(FreqStart(0, 0).result, 1);
  const std::vector<Write> writes = TraceWrites();
  EXPECT_TRUE(Contains(writes, regs::ModeRegister(0), 0xA440));
  EXPECT_TRUE(Contains(writes, regs::ModeRegister(1), 0xF440));
  EXPECT_TRUE(Contains(writes, regs::ClockGenerator(0), 0x1500));  // 100 kHz
  EXPECT_NE(Hertz(FreqRead(0)), 100.0f);  // the slow pass is still counting

  float last = 0;
  ASSERT_GE(WaitForFrequency(0, 100.0f, 0.0f, 5000, &last), 0) << last;
  const double elapsed = MsSince(begin);
  EXPECT_GE(elapsed, 1300.0);
  EXPECT_LT(elapsed, 4000.0);
}

TEST_F(FrequencyAuto, NoInputReadsZeroAfterTheSlowPass) {
  Input(0, 1'000.0);
  ASSERT_EQ(FreqStart(0, 0).result, 1);
  ASSERT_FLOAT_EQ(Hertz(FreqRead(0)), 1000.0f);
  ASSERT_EQ(Reset(0).result, 1);

  Input(0, 0.0);
  const std::size_t threadsBefore = platform::LiveThreadCount();
  const std::uint64_t begin = platform::NowNs();
  ASSERT_EQ(FreqStart(0, 0).result, 1);
  // No result yet, and never the previous measurement's 1000 Hz.
  const Reply early = FreqRead(0);
  EXPECT_EQ(early.result, 1);
  EXPECT_FLOAT_EQ(Hertz(early), 0.0f);
  // The slow pass finds no phase at all and ends its thread.
  while (platform::LiveThreadCount() != threadsBefore && MsSince(begin) < 5000.0) platform::Sleep(20);
  EXPECT_EQ(platform::LiveThreadCount(), threadsBefore);
  EXPECT_GE(MsSince(begin), 1000.0);
  EXPECT_FLOAT_EQ(Hertz(FreqRead(0)), 0.0f);
}

TEST_F(FrequencyAuto, OneHertzIsTimedOverWholePhasesWhateverItsPhase) {
  // Phase 0 now: the slow pass is armed just after a rising edge, so its high
  // phase starts almost a whole period later and is still counting at 1.3 s.
  ASSERT_EQ(qio_sim_set_counter_input_ex(board_, 0, 1.0, 50.0, 0.0), QIO_TARGET_OK);
  ASSERT_EQ(FreqStart(0, 0).result, 1);
  platform::Sleep(1400);
  const Reply early = FreqRead(0);
  // Nothing yet, or the right value: never the count of a partial phase.
  EXPECT_TRUE(Hertz(early) == 0.0f || Hertz(early) == 1.0f) << Hertz(early);
  float last = 0;
  ASSERT_GE(WaitForFrequency(0, 1.0f, 0.0f, 3000, &last), 0) << last;
}

TEST_F(FrequencyAuto, ASignalRisingDuringTheSlowPassIsHandedToTheLongGate) {
  // 2 Hz: the slow pass waits for its phases, and meets the risen signal.
  Input(0, 2.0);
  ASSERT_EQ(FreqStart(0, 0).result, 1);
  platform::Sleep(100);
  Input(0, 20'000.0);
  // The slow pass times the new phases (about 1.3 s), moves on to the 1 s
  // gate, and hands it its generator: its passes count 20 000 edges.
  float last = 0;
  ASSERT_GE(WaitForFrequency(0, 20'000.0f, 0.0f, 6000, &last), 0) << last;
  // Once reported, every later read reports it, through the gate's next pass.
  const std::uint64_t begin = platform::NowNs();
  while (MsSince(begin) < 2500.0) {
    const Reply read = FreqRead(0);
    EXPECT_EQ(read.result, 1);
    EXPECT_FLOAT_EQ(Hertz(read), 20'000.0f);
    platform::Sleep(100);
  }
  EXPECT_DOUBLE_EQ(FreqOutHz(0), 10'000.0);  // the gate's 10 kHz time base runs
}

TEST_F(FrequencyAuto, TwentyKilohertzRunsTheOneSecondGate) {
  Input(0, 20'000.0);
  const std::size_t threadsBefore = platform::LiveThreadCount();
  TraceOn();
  ASSERT_EQ(FreqStart(0, 0).result, 1);
  EXPECT_TRUE(Contains(TraceWrites(), regs::ClockGenerator(0), 0x1600));  // 10 kHz
  EXPECT_EQ(platform::LiveThreadCount(), threadsBefore + 1);
  // Nothing is published before the first 2 s pass.
  EXPECT_FLOAT_EQ(Hertz(FreqRead(0)), 0.0f);

  ASSERT_GE(WaitForFrequency(0, 20'000.0f, 0.0f, 3000), 1500.0);
  for (int pass = 0; pass < 5; ++pass) {
    platform::Sleep(400);
    const Reply read = FreqRead(0);
    EXPECT_EQ(read.result, 1);
    EXPECT_FLOAT_EQ(Hertz(read), 20'000.0f);
  }
  EXPECT_EQ(platform::LiveThreadCount(), threadsBefore + 1);  // still the one thread
}

TEST_F(FrequencyAuto, ResetDuringALongGateReturnsPromptlyAndLeavesNoThread) {
  Input(0, 7'000.0);  // the 2 s gate with its 4 s passes
  const std::size_t threadsBefore = platform::LiveThreadCount();
  ASSERT_EQ(FreqStart(0, 0).result, 1);
  EXPECT_EQ(platform::LiveThreadCount(), threadsBefore + 1);
  platform::Sleep(200);

  const std::uint64_t begin = platform::NowNs();
  ASSERT_EQ(Reset(0).result, 1);
  EXPECT_LT(MsSince(begin), 500.0);
  EXPECT_EQ(platform::LiveThreadCount(), threadsBefore);
  EXPECT_DOUBLE_EQ(FreqOutHz(0), 0.0);
  // The counter is free for another function.
  EXPECT_EQ(EventStart(0).result, 1);
}

TEST_F(FrequencyAuto, ResetDuringTheSlowPassLeavesNoThread) {
  Input(0, 20.0);
  const std::size_t threadsBefore = platform::LiveThreadCount();
  ASSERT_EQ(FreqStart(0, 0).result, 1);
  EXPECT_EQ(platform::LiveThreadCount(), threadsBefore + 1);
  const std::uint64_t begin = platform::NowNs();
  ASSERT_EQ(Reset(0).result, 1);
  EXPECT_LT(MsSince(begin), 500.0);
  EXPECT_EQ(platform::LiveThreadCount(), threadsBefore);
}

TEST_F(FrequencyAuto, AboveTwentyMegahertzFailsAsOutOfRange) {
  Input(0, 25'000'000.0);
  const Reply start = FreqStart(0, 0);
  EXPECT_EQ(start.result, 0);
  EXPECT_EQ(start.error, kOutOfRange);
  const Reply read = FreqRead(0);
  EXPECT_EQ(read.result, 0);
  EXPECT_EQ(read.error, kOutOfRange);
  EXPECT_FLOAT_EQ(Hertz(read), 25'000'000.0f);  // the value still goes out
}

TEST_F(FrequencyAuto, AGeneratorTakenByAFrequencyOutputMakesTheStartFail) {
  ASSERT_EQ(FreqOut(0, 2, 0x0300).result, 1);  // 5 MHz on generator 0
  Input(0, 1'000'000.0);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const Reply start = FreqStart(0, 0);
    EXPECT_EQ(start.result, 0);
    EXPECT_EQ(start.error, kBusy);
    // The frequency output keeps running unchanged.
    EXPECT_DOUBLE_EQ(FreqOutHz(0), 5'000'000.0);
  }
}

TEST_F(FrequencyAuto, BusyCounterRefusesTheStart) {
  ASSERT_EQ(EventStart(0).result, 1);
  const Reply start = FreqStart(0, 0);
  EXPECT_EQ(start.result, 0);
  EXPECT_EQ(start.error, kBusy);
}

}  // namespace
}  // namespace qio::test
