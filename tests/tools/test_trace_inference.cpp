// Reading the driver's choices from a register trace: each case is the
// sequence of accesses the driver makes for one method, built by hand.
#include <gtest/gtest.h>

#include "TraceView.h"

namespace qio::tool {
namespace {

using Kind = FrequencyMethod::Kind;

class TraceBuilder {
 public:
  TraceBuilder& Write(std::uint16_t offset, std::uint32_t value) {
    trace_.push_back({now_ += 1000, offset, 2, 1, value});
    return *this;
  }
  TraceBuilder& Read(std::uint16_t offset, std::uint32_t value) {
    trace_.push_back({now_ += 1000, offset, 2, 0, value});
    return *this;
  }
  TraceBuilder& Wait(std::uint64_t ns) {
    now_ += ns;
    return *this;
  }
  // The 2 ms gate pass on blocks 0 and 1 that counts `edges`.
  TraceBuilder& GatePass(std::uint32_t edges) {
    return Write(reg::Mode(0), reg::kModeGate)
        .Write(reg::Mode(1), reg::kModeEdgeCounter)
        .Write(reg::Load(0), 40000)
        .Write(reg::Load(1), 1)
        .Write(reg::Command(1), reg::kCommandLatch)
        .Write(reg::kStrobe, 3)
        .Read(reg::Hold(1), edges);
  }
  const std::vector<QioPortAccess>& Get() const { return trace_; }

 private:
  std::uint64_t now_ = 0;
  std::vector<QioPortAccess> trace_;
};

TEST(FrequencyMethodTest, HighFrequencyComesFromTheGateEdges) {
  TraceBuilder t;
  t.GatePass(16000);
  const FrequencyMethod method = InferFrequencyMethod(t.Get(), 0);
  EXPECT_EQ(method.kind, Kind::GateEdges);
  EXPECT_EQ(method.gateEdges, 16000u);
  EXPECT_FALSE(method.background);
}

TEST(FrequencyMethodTest, MediumRangeRowsByTheGeneratorWord) {
  struct Case {
    std::uint32_t word;
    Kind kind;
    bool background;
  };
  const Case cases[] = {{0x1400, Kind::MediumRange, false},
                        {0x1500, Kind::MediumRange, false},
                        {0x1600, Kind::LongGate1s, true},
                        {0x1601, Kind::LongGate2s, true}};
  for (const Case& c : cases) {
    TraceBuilder t;
    t.GatePass(40).Write(reg::Mode(0), reg::kModeGate | 0x0400).Write(reg::Generator(0), c.word);
    const FrequencyMethod method = InferFrequencyMethod(t.Get(), 0);
    EXPECT_EQ(method.kind, c.kind) << std::hex << c.word;
    EXPECT_EQ(method.background, c.background);
    EXPECT_EQ(method.gateEdges, 40u);
  }
  TraceBuilder t;
  t.GatePass(40).Write(reg::Generator(0), 0x1601);
  EXPECT_DOUBLE_EQ(InferFrequencyMethod(t.Get(), 0).passSeconds, 4.0);
  EXPECT_DOUBLE_EQ(InferFrequencyMethod(t.Get(), 0).timebaseHz, 5e3);
}

TEST(FrequencyMethodTest, PeriodMethodOnTheBaseClockShowsItsTicks) {
  TraceBuilder t;
  t.GatePass(2)
      .Write(reg::Mode(0), reg::kModePeriodBase)
      .Write(reg::Mode(1), 0xF040)
      .Read(reg::Hold(0), 0xFFFF - 10000)
      .Read(reg::Hold(1), 0xFFFF - 10000);
  const FrequencyMethod method = InferFrequencyMethod(t.Get(), 0);
  EXPECT_EQ(method.kind, Kind::PeriodBase);
  EXPECT_NE(method.description.find("high 10000 + low 10000 ticks"), std::string::npos) << method.description;
}

TEST(FrequencyMethodTest, OverflowSwitchesToTheSlowTimeBase) {
  TraceBuilder t;
  t.GatePass(0)
      .Write(reg::Mode(0), reg::kModePeriodBase)
      .Read(reg::Hold(0), 0)
      .Read(reg::Hold(1), 0)
      .Write(reg::Mode(0), reg::kModePeriodSlow)
      .Write(reg::Generator(0), 0x1500);
  const FrequencyMethod method = InferFrequencyMethod(t.Get(), 0);
  EXPECT_EQ(method.kind, Kind::PeriodSlow);
  EXPECT_TRUE(method.background);
  EXPECT_DOUBLE_EQ(method.passSeconds, 1.3);
}

TEST(FrequencyMethodTest, FixedGateAndNoPass) {
  TraceBuilder t;
  t.Write(reg::Generator(0), 0x1304).Write(reg::Mode(0), 0x0416).Write(reg::Load(0), 20000);
  const FrequencyMethod fixed = InferFrequencyMethod(t.Get(), 10);
  EXPECT_EQ(fixed.kind, Kind::FixedGate);
  EXPECT_DOUBLE_EQ(fixed.timebaseHz, 2e6);
  EXPECT_DOUBLE_EQ(fixed.passSeconds, 0.021);
  EXPECT_EQ(InferFrequencyMethod({}, 0).kind, Kind::Unknown);
}

TEST(OutputTimebaseTest, GeneratorOrBaseClockAndTheCounts) {
  TraceBuilder t;
  t.Write(reg::Generator(1), 0x1301).Write(reg::Load(1), 25000).Write(reg::Hold(1), 25000);
  const OutputTimebase pulse = InferOutputTimebase(t.Get(), 1);
  EXPECT_TRUE(pulse.generator);
  EXPECT_DOUBLE_EQ(pulse.hz, 5e6);
  EXPECT_EQ(pulse.load, 25000u);
  // Generator 0 and counter 0's registers do not describe counter 1.
  TraceBuilder other;
  other.Write(reg::Generator(0), 0x1301).Write(reg::Load(0), 7);
  const OutputTimebase base = InferOutputTimebase(other.Get(), 1);
  EXPECT_FALSE(base.generator);
  EXPECT_DOUBLE_EQ(base.hz, 20e6);
  EXPECT_FALSE(base.load.has_value());
  // A stopped generator (word without the enable bit) is no time base.
  TraceBuilder stopped;
  stopped.Write(reg::Generator(1), 0x0301);
  EXPECT_FALSE(InferOutputTimebase(stopped.Get(), 1).generator);
}

TEST(OutputTimebaseTest, PhaseMeasurementUsesTheLastPhaseMode) {
  TraceBuilder generated;
  generated.Write(reg::Generator(0), 0x1500)  // an earlier frequency pass
      .Write(reg::Generator(0), 0x1304)
      .Write(reg::Mode(0), reg::kModePhaseGenerator);
  const OutputTimebase slow = InferPhaseTimebase(generated.Get());
  EXPECT_TRUE(slow.generator);
  EXPECT_DOUBLE_EQ(slow.hz, 2e6);
  TraceBuilder base;
  base.Write(reg::Generator(0), 0x1500).Write(reg::Mode(0), reg::kModePhaseBase);
  EXPECT_FALSE(InferPhaseTimebase(base.Get()).generator);
}

TEST(CountWindowTest, ArmAndLatchStrobesOfTheCounter) {
  TraceBuilder t;
  t.Write(reg::Command(1), reg::kCommandArm)
      .Write(reg::kStrobe, 2)  // counter 1, not ours
      .Write(reg::Command(0), reg::kCommandArm)
      .Wait(1000000)
      .Write(reg::kStrobe, 1)
      .Wait(250000000)
      .Write(reg::Command(0), reg::kCommandLatch)
      .Write(reg::kStrobe, 1);
  const CountWindow window = InferCountWindow(t.Get(), 0);
  ASSERT_GT(window.armNs, 0u);
  EXPECT_EQ(window.latchNs - window.armNs, 250000000u + 2000u);
  EXPECT_EQ(InferCountWindow(t.Get(), 1).latchNs, 0u);
}

TEST(PrescalerWindowTest, HoldCountsOfGeneratorZero) {
  TraceBuilder t;
  t.Write(reg::Generator(0), 0x1301).Write(reg::Load(0), 1).Write(reg::Hold(0), 50000);
  const PrescalerWindow window = InferPrescalerWindow(t.Get());
  EXPECT_EQ(window.counts, 50000u);
  EXPECT_DOUBLE_EQ(window.seconds, 0.01);
}

}  // namespace
}  // namespace qio::tool
