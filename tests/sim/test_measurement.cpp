// The driver's measurement sequences (gate pass, long and fixed gates, the
// period method, PWM measurement) run against the model: the counts must
// come out exactly as the driver's numeric examples say.
#include "core_fixture.h"

namespace qio::sim::test {
namespace {

constexpr std::uint16_t kGateMode = 0x0016;
constexpr std::uint16_t kGateModeGenerator = 0x0416;
constexpr std::uint16_t kEdgeCounterMode = 0x9748;

class GatePass : public CoreTest {
 protected:
  // Counter 0 gates, block 1 counts CLK0 in the first high window.
  std::uint16_t Run(std::uint16_t gateMode, std::uint16_t gateCount, std::uint64_t sleepNs) {
    Mode(0, gateMode);
    Mode(1, kEdgeCounterMode);
    Load(0, gateCount);
    Load(1, 1);
    Command(0, command::kLoadAndArm);
    Command(1, command::kLoadAndArm);
    Strobe(0x03);
    Wait(sleepNs);
    W8(offset::CommandRegister(1), command::kLatch);
    Strobe(0x03);
    return R16(offset::HoldRegister(1));
  }
};

TEST_F(GatePass, OneMegahertzGivesExactly2000AtAnyPhase) {
  for (const double phase : {0.0, 0.13, 0.5, 0.999}) {
    Input(0, 1e6, 50.0, phase);
    Wait(123'457);
    EXPECT_EQ(Run(kGateMode, 40000, 14 * kMs), 2000) << "phase " << phase;
  }
}

TEST_F(GatePass, TwentyKilohertzGives40) {
  Input(0, 20e3, 30.0, 0.25);
  EXPECT_EQ(Run(kGateMode, 40000, 14 * kMs), 40);
}

TEST_F(GatePass, ThreeMegahertzIsExactDespiteItsFractionalPeriod) {
  Input(0, 3e6, 50.0, 0.7);
  EXPECT_EQ(Run(kGateMode, 40000, 14 * kMs), 6000);
}

TEST_F(GatePass, CountsOnlyTheFirstWindowAndHoldsIt) {
  Input(0, 1e6);
  // Latched long after several gate windows have passed: still 2000.
  EXPECT_EQ(Run(kGateMode, 40000, 200 * kMs), 2000);
}

TEST_F(GatePass, NoInputGivesZero) { EXPECT_EQ(Run(kGateMode, 40000, 14 * kMs), 0); }

TEST_F(GatePass, LatchedBeforeTheWindowOpensReadsZero) {
  Input(0, 1e6);
  EXPECT_EQ(Run(kGateMode, 40000, 1 * kMs), 0);
}

TEST_F(GatePass, OneSecondWindowOnGenerator0At10kHz) {
  Input(0, 20e3, 50.0, 0.4);
  Generator(0, 0x1000 | 0x0600);  // 10 kHz, divisor 1
  Wait(777);
  EXPECT_EQ(Run(kGateModeGenerator, 10000, 2000 * kMs), 20000);
}

TEST_F(GatePass, FixedGateOf1000MsCountsOneSecondOfEdges) {
  Input(0, 12345.0, 50.0, 0.9);
  Generator(0, 0x1000 | 0x0500 | 0x0001);  // 100 kHz / 2 = 50 kHz
  Wait(5 * kUs);
  EXPECT_EQ(Run(kGateModeGenerator, 50000, 2001 * kMs), 12345);
}

class PeriodMethod : public CoreTest {
 protected:
  struct Phases {
    std::uint16_t a;
    std::uint16_t b;
  };
  Phases Pass(std::uint16_t modeA, std::uint16_t modeB, std::uint64_t sleepNs) {
    Mode(0, modeA);
    Mode(1, modeB);
    Load(0, 0xFFFF);
    Load(1, 0xFFFF);
    Command(0, command::kLoadAndArm);
    Command(1, command::kLoadAndArm);
    Strobe(0x03);
    Wait(sleepNs);
    W8(offset::CommandRegister(0), command::kLatch);
    W8(offset::CommandRegister(1), command::kLatch);
    Strobe(0x03);
    return Phases{static_cast<std::uint16_t>(0xFFFF - R16(offset::HoldRegister(0))),
                  static_cast<std::uint16_t>(0xFFFF - R16(offset::HoldRegister(1)))};
  }
};

TEST_F(PeriodMethod, OneKilohertzGives10000And10000) {
  Input(0, 1000.0, 50.0, 0.37);
  const Phases p = Pass(0xA040, 0xF040, 15 * kMs);
  EXPECT_EQ(p.a, 10000);
  EXPECT_EQ(p.b, 10000);
}

TEST_F(PeriodMethod, DutyCycleSplitsThePhases) {
  Input(0, 1000.0, 25.0, 0.6);
  const Phases p = Pass(0xA040, 0xF040, 15 * kMs);
  EXPECT_EQ(p.a, 5000);
  EXPECT_EQ(p.b, 15000);
}

TEST_F(PeriodMethod, HundredHertzOverflowsThenGives500And500On100kHz) {
  Input(0, 100.0, 50.0, 0.2);
  const Phases fast = Pass(0xA040, 0xF040, 15 * kMs);
  EXPECT_TRUE(fast.a == 0 || fast.a == 0xFFFF || fast.b == 0 || fast.b == 0xFFFF);
  EXPECT_EQ(fast.a, 0xFFFF);  // 100000 ticks run the block down to 0
  Mode(0, 0xA440);
  Mode(1, 0xF440);
  Generator(0, 0x1000 | 0x0500);  // 100 kHz
  const Phases slow = Pass(0xA440, 0xF440, 1300 * kMs);
  EXPECT_EQ(slow.a, 500);
  EXPECT_EQ(slow.b, 500);
}

TEST_F(PeriodMethod, NoInputGivesZero) {
  const Phases p = Pass(0xA040, 0xF040, 15 * kMs);
  EXPECT_EQ(p.a, 0);
  EXPECT_EQ(p.b, 0);
}

TEST_F(PeriodMethod, InputHeldHighHasNoRisingEdge) {
  ASSERT_TRUE(core.SetCounterLevel(0, true, now));
  const Phases p = Pass(0xA040, 0xF040, 15 * kMs);
  EXPECT_EQ(p.a, 0);
  EXPECT_EQ(p.b, 0);
}

class PwmMeasurement : public CoreTest {
 protected:
  struct Counts {
    std::uint16_t high;
    std::uint16_t low;
  };
  Counts Run(std::uint16_t modeA, std::uint16_t modeB, std::uint64_t sleepNs) {
    W8(offset::CommandRegister(0), command::kDisarm);
    W8(offset::CommandRegister(1), command::kDisarm);
    W8(offset::CommandRegister(0), command::kReset);
    W8(offset::CommandRegister(1), command::kReset);
    Strobe(0x03);
    Mode(0, modeA);
    Mode(1, modeB);
    Load(0, 1);
    Load(1, 1);
    W8(offset::CommandRegister(0), command::kLoadAndArm);
    W8(offset::CommandRegister(1), command::kLoadAndArm);
    Strobe(0x03);
    Wait(sleepNs);
    W8(offset::CommandRegister(0), command::kLatch);
    W8(offset::CommandRegister(1), command::kLatch);
    Strobe(0x03);
    return Counts{R16(offset::HoldRegister(0)), R16(offset::HoldRegister(1))};
  }
};

TEST_F(PwmMeasurement, FiftyHertzOn10kHzGives100And100) {
  Input(0, 50.0, 50.0, 0.66);
  Generator(0, 0x1000 | 0x0600);  // 10 kHz
  const Counts c = Run(0xA448, 0xF448, 50 * kMs);
  EXPECT_EQ(c.high, 100);
  EXPECT_EQ(c.low, 100);
}

TEST_F(PwmMeasurement, BaseClockCountsUpOneBasedPerPhase) {
  Input(0, 2000.0, 25.0, 0.1);
  const Counts c = Run(0xA048, 0xF048, 5 * kMs);
  EXPECT_EQ(c.high, 2500);  // 125 us of 50 ns ticks
  EXPECT_EQ(c.low, 7500);
}

TEST_F(PwmMeasurement, LongPhasesSaturateAt0xFFFF) {
  Input(0, 10.0, 50.0, 0.5);
  const Counts c = Run(0xA048, 0xF048, 210 * kMs);
  EXPECT_EQ(c.high, 0xFFFF);
  EXPECT_EQ(c.low, 0xFFFF);
}

}  // namespace
}  // namespace qio::sim::test
