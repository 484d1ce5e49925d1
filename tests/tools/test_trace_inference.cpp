// Reading the driver's choices of output time bases from a register trace:
// each case is the sequence of accesses the driver makes, built by hand.
#include <gtest/gtest.h>

#include "TraceView.h"

namespace qio::tool {
namespace {

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
  const std::vector<QioPortAccess>& Get() const { return trace_; }

 private:
  std::uint64_t now_ = 0;
  std::vector<QioPortAccess> trace_;
};

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
