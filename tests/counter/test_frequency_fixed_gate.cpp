// Frequency measurement with a fixed gate chosen by the caller, on the
// virtual clock: each gate publishes at its exact instant and count.
#include "counter_target.h"

namespace qio::test {
namespace {

using FixedGate = CounterTarget;

TEST_F(FixedGate, GatesOutsideOneToTwoThousandMillisecondsAreRefused) {
  for (std::uint16_t gate : {std::uint16_t{2001}, std::uint16_t{0xFFFF}}) {
    const Reply start = FreqStart(0, gate);
    EXPECT_EQ(start.result, 0) << gate;
    EXPECT_EQ(start.error, kOutOfRange) << gate;
  }
  // The counter stays free.
  EXPECT_EQ(EventStart(0).result, 1);
}

TEST_F(FixedGate, OneSecondGateRunsOnFiftyKilohertz) {
  Input(0, 20'000.0);
  TraceOn();
  ASSERT_EQ(FreqStart(0, 1000).result, 1);
  const std::vector<Write> writes = TraceWrites();
  EXPECT_TRUE(Contains(writes, regs::ClockGenerator(0), 0x1501));  // 100 kHz / 2
  EXPECT_TRUE(Contains(writes, regs::ModeRegister(0), 0x0416));
  EXPECT_TRUE(Contains(writes, regs::LoadRegister(0), 50000));
  EXPECT_TRUE(Contains(writes, regs::ModeRegister(1), 0x9748));
  EXPECT_EQ(WaitForFrequency(0, 20'000.0f, 0.0f, 3500), 2001.0);
}

TEST_F(FixedGate, ATwoSecondGatePublishesFourThousandAndOneMillisecondsAfterItsArming) {
  Input(0, 20'000.0);
  TraceOn();
  ASSERT_EQ(FreqStart(0, 2000).result, 1);
  platform::Sleep(0);  // the gate's thread arms the pair
  const std::vector<std::uint64_t> arms = InstantsOf(TraceAccesses(), 1, qio::board::command::kLoadAndArm);
  ASSERT_FALSE(arms.empty());
  const std::uint64_t armed = arms.back();
  // The gate's low window, its high window (the counting), and a settle.
  SleepUntil(armed + Ms(4001) - 1);
  EXPECT_FLOAT_EQ(Hertz(FreqRead(0)), 0.0f) << "published before the gate closed";
  SleepUntil(armed + Ms(4001));
  const std::vector<Strobe> strobes = StrobesOf(TraceAccesses(), 1);
  const std::vector<Strobe> latchOnly{{armed + Ms(4001), qio::board::command::kLatch}};
  EXPECT_EQ(strobes, latchOnly) << "a latch 4001 ms after the arm, and no new pass before this read";
  const Reply read = FreqRead(0);
  EXPECT_EQ(read.result, 1);
  EXPECT_FLOAT_EQ(Hertz(read), 20'000.0f);  // 40 000 edges in 2 s, exactly
}

TEST_F(FixedGate, TenMillisecondGateResolvesAHundredHertz) {
  Input(0, 1'234'567.0);
  const std::uint64_t begin = Now();
  ASSERT_EQ(FreqStart(0, 10).result, 1);
  float last = 0;
  // 12345 or 12346 edges in 10 ms, by where the window falls on the input's
  // phase; published 2 x 10 + 1 ms after the arming.
  EXPECT_EQ(WaitForFrequency(0, 1'234'550.0f, 50.0f, 1000, &last), 21.0) << last;
  EXPECT_EQ(Now() - begin, Ms(21));
}

TEST_F(FixedGate, ShortGateOnTheBaseClock) {
  Input(0, 3'000'000.0);
  TraceOn();
  ASSERT_EQ(FreqStart(0, 2).result, 1);
  const std::vector<Write> writes = TraceWrites();
  EXPECT_TRUE(WritesTo(writes, regs::ClockGenerator(0)).empty());
  EXPECT_TRUE(Contains(writes, regs::LoadRegister(0), 40000));
  EXPECT_EQ(WaitForFrequency(0, 3'000'000.0f, 0.0f, 1000), 5.0);
}

TEST_F(FixedGate, ASingleEdgeInTheGateCounts) {
  // Exactly one period fits the 1 s gate: 1 Hz reads 1 Hz, 2001 ms later.
  Input(0, 1.0);
  ASSERT_EQ(FreqStart(0, 1000).result, 1);
  EXPECT_EQ(WaitForFrequency(0, 1.0f, 0.0f, 3500), 2001.0);
}

TEST_F(FixedGate, ASaturatedCountIsOutOfRange) {
  // 100 kHz gives more than 65535 edges in 1 s.
  Input(0, 100'000.0);
  ASSERT_EQ(FreqStart(0, 1000).result, 1);
  // At the instant of the publication: the driver's threads run before the
  // application's at every instant.
  platform::Sleep(2001);
  const Reply read = FreqRead(0);
  EXPECT_EQ(read.result, 0);
  EXPECT_EQ(read.error, kOutOfRange);
  EXPECT_FLOAT_EQ(Hertz(read), 65535.0f);  // only a lower bound
}

TEST_F(FixedGate, ReadsRestartTheGateWithTheSameMethod) {
  Input(0, 500'000.0);
  ASSERT_EQ(FreqStart(0, 20).result, 1);
  EXPECT_EQ(WaitForFrequency(0, 500'000.0f, 0.0f, 1000), 41.0);
  // The input changes; the next pass, started by this read, follows it.
  Input(0, 250'000.0);
  EXPECT_EQ(WaitForFrequency(0, 250'000.0f, 0.0f, 1000), 41.0);
}

using FixedGateRealTime = RealTimeCounterTarget;

TEST_F(FixedGateRealTime, AOneSecondGatePublishesAfterItsTwoWindows) {
  Input(0, 20'000.0);
  ASSERT_EQ(FreqStart(0, 1000).result, 1);
  const double ms = WaitForFrequency(0, 20'000.0f, 0.0f, 10'000);
  EXPECT_GE(ms, 2000.0);
  EXPECT_LT(ms, 10'000.0);  // a sanity bound on a loaded machine
}

}  // namespace
}  // namespace qio::test
