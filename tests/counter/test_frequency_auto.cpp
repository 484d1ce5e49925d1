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
  const std::uint64_t begin = Now();
  ASSERT_EQ(FreqStart(0, 0).result, 1);
  // The 2 ms gate (14 ms with its settle) counted nothing, and the 15 ms
  // pass on the base clock overflowed: the request returns with the slow
  // pass armed on 100 kHz.
  EXPECT_EQ(Now() - begin, Ms(29));
  const std::vector<Write> writes = TraceWrites();
  EXPECT_TRUE(Contains(writes, regs::ModeRegister(0), 0xA440));
  EXPECT_TRUE(Contains(writes, regs::ModeRegister(1), 0xF440));
  EXPECT_TRUE(Contains(writes, regs::ClockGenerator(0), 0x1500));  // 100 kHz
  EXPECT_FLOAT_EQ(Hertz(FreqRead(0)), 0.0f);  // the slow pass is still counting

  // 1300 ms of the pass and a 10 ms probe that finds both phases complete.
  SleepUntil(begin + Ms(29 + 1310) - 1);
  EXPECT_FLOAT_EQ(Hertz(FreqRead(0)), 0.0f);
  SleepUntil(begin + Ms(29 + 1310));
  const Reply read = FreqRead(0);
  EXPECT_EQ(read.result, 1);
  EXPECT_FLOAT_EQ(Hertz(read), 100.0f);  // 500 + 500 ticks of 100 kHz
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
  while (platform::LiveThreadCount() != threadsBefore && MsSince(begin) < 5000.0) platform::Sleep(1);
  EXPECT_EQ(platform::LiveThreadCount(), threadsBefore);
  EXPECT_EQ(MsSince(begin), 29.0 + 1310.0);  // the passes, the slow pass and its probe
  EXPECT_FLOAT_EQ(Hertz(FreqRead(0)), 0.0f);
}

TEST_F(FrequencyAuto, OneHertzIsTimedOverWholePhasesWhateverItsPhase) {
  // Phase 0 now: the slow pass is armed just after a rising edge, so its high
  // phase starts almost a whole period later and is still counting at 1.3 s.
  ASSERT_EQ(qio_sim_set_counter_input_ex(board_, 0, 1.0, 50.0, 0.0), QIO_TARGET_OK);
  const std::uint64_t begin = Now();
  ASSERT_EQ(FreqStart(0, 0).result, 1);
  platform::Sleep(1400);
  // Never the count of a partial phase: the probe found a block still
  // counting, and the pass gives it 700 ms more.
  EXPECT_FLOAT_EQ(Hertz(FreqRead(0)), 0.0f);
  SleepUntil(begin + Ms(29 + 1300 + 10 + 700) - 1);
  EXPECT_FLOAT_EQ(Hertz(FreqRead(0)), 0.0f);
  SleepUntil(begin + Ms(29 + 1300 + 10 + 700));
  const Reply read = FreqRead(0);
  EXPECT_EQ(read.result, 1);
  EXPECT_FLOAT_EQ(Hertz(read), 1.0f);  // a 1 Hz input reads 1 Hz
}

TEST_F(FrequencyAuto, OneHertzReadsOneHertzWhereverTheStartFallsOnItsPhase) {
  for (const double phase : {0.1, 0.25, 0.5, 0.75, 0.99}) {
    ASSERT_EQ(qio_sim_set_counter_input_ex(board_, 0, 1.0, 50.0, phase), QIO_TARGET_OK);
    ASSERT_EQ(FreqStart(0, 0).result, 1);
    float last = 0;
    // The slow pass with its probe (and the completion when a phase ran on),
    // then the 29 ms of passes that the read which collects it starts anew.
    const double ms = WaitForFrequency(0, 1.0f, 0.0f, 3000, &last);
    EXPECT_TRUE(ms == 1310.0 + 29.0 || ms == 2010.0 + 29.0) << "phase " << phase << ": " << ms << " ms, " << last;
    ASSERT_EQ(Reset(0).result, 1);
  }
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
  // Nothing is published before the first 2 s pass: its low window, then
  // the 1 s it counts.
  EXPECT_FLOAT_EQ(Hertz(FreqRead(0)), 0.0f);

  EXPECT_EQ(WaitForFrequency(0, 20'000.0f, 0.0f, 3000), 2000.0);
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

  const std::uint64_t begin = Now();
  ASSERT_EQ(Reset(0).result, 1);
  // The gate's thread leaves at the stop event: no pass is waited out.
  EXPECT_EQ(Now() - begin, 0u);
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
  const std::uint64_t begin = Now();
  ASSERT_EQ(Reset(0).result, 1);
  EXPECT_EQ(Now() - begin, 0u);
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

using FrequencyAutoRealTime = RealTimeCounterTarget;

TEST_F(FrequencyAutoRealTime, HundredHertzComesFromTheSlowPass) {
  Input(0, 100.0);
  const std::uint64_t begin = platform::NowNs();
  ASSERT_EQ(FreqStart(0, 0).result, 1);
  float last = 0;
  ASSERT_GE(WaitForFrequency(0, 100.0f, 0.0f, 10'000, &last), 0) << last;
  EXPECT_GE(MsSince(begin), 1300.0);
}

}  // namespace
}  // namespace qio::test
