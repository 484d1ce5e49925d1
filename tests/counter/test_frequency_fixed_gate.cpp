// Frequency measurement with a fixed gate chosen by the caller.
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
  ASSERT_GE(WaitForFrequency(0, 20'000.0f, 0.0f, 3500), 1900.0);
}

TEST_F(FixedGate, TenMillisecondGateResolvesAHundredHertz) {
  Input(0, 1'234'567.0);
  ASSERT_EQ(FreqStart(0, 10).result, 1);
  float last = 0;
  // 12345 or 12346 edges in 10 ms.
  ASSERT_GE(WaitForFrequency(0, 1'234'550.0f, 50.0f, 1000, &last), 0) << last;
}

TEST_F(FixedGate, ShortGateOnTheBaseClock) {
  Input(0, 3'000'000.0);
  TraceOn();
  ASSERT_EQ(FreqStart(0, 2).result, 1);
  const std::vector<Write> writes = TraceWrites();
  EXPECT_TRUE(WritesTo(writes, regs::ClockGenerator(0)).empty());
  EXPECT_TRUE(Contains(writes, regs::LoadRegister(0), 40000));
  ASSERT_GE(WaitForFrequency(0, 3'000'000.0f, 500.0f, 1000), 0);
}

TEST_F(FixedGate, ASingleEdgeInTheGateCounts) {
  // Exactly one period fits the 1 s gate.
  Input(0, 1.0);
  ASSERT_EQ(FreqStart(0, 1000).result, 1);
  ASSERT_GE(WaitForFrequency(0, 1.0f, 0.0f, 3500), 1900.0);
}

TEST_F(FixedGate, ASaturatedCountIsOutOfRange) {
  // 100 kHz gives more than 65535 edges in 1 s.
  Input(0, 100'000.0);
  ASSERT_EQ(FreqStart(0, 1000).result, 1);
  platform::Sleep(2200);
  const Reply read = FreqRead(0);
  EXPECT_EQ(read.result, 0);
  EXPECT_EQ(read.error, kOutOfRange);
  EXPECT_FLOAT_EQ(Hertz(read), 65535.0f);  // only a lower bound
}

TEST_F(FixedGate, ReadsRestartTheGateWithTheSameMethod) {
  Input(0, 500'000.0);
  ASSERT_EQ(FreqStart(0, 20).result, 1);
  ASSERT_GE(WaitForFrequency(0, 500'000.0f, 50.0f, 1000), 0);
  // The input changes; the next passes follow it.
  Input(0, 250'000.0);
  ASSERT_GE(WaitForFrequency(0, 250'000.0f, 50.0f, 1000), 0);
}

}  // namespace
}  // namespace qio::test
