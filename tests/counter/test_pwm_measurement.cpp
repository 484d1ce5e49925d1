// PWM measurement: the phases of the signal on counter 0, timed by counters
// 0 and 1 on a time base chosen from a frequency estimate.
#include "counter_target.h"

namespace qio::test {
namespace {

struct Phases {
  int result;
  std::uint32_t error;
  float firstUs;
  float secondUs;
};

class PwmMeasurement : public CounterTarget {
 protected:
  Phases Measure() {
    const Reply reply = PwmStartRead(0);
    const auto record = reply.As<proto::PwmStartReadRecord>();
    return {reply.result, reply.error, record.firstUs, record.secondUs};
  }
};

TEST_F(PwmMeasurement, FiftyHertzIsTimedOnTenKilohertz) {
  // A fixed gate left from an earlier frequency start does not shape the
  // estimate: too short a gate would miss a 50 Hz signal.
  ASSERT_EQ(FreqStart(0, 10).result, 1);
  ASSERT_EQ(Reset(0).result, 1);

  Input(0, 50.0, 25.0);
  TraceOn();
  const Phases phases = Measure();
  EXPECT_EQ(phases.result, 1);
  EXPECT_FLOAT_EQ(phases.firstUs, 5000.0f);    // high: 50 ticks of 100 us
  EXPECT_FLOAT_EQ(phases.secondUs, 15000.0f);  // low
  const std::vector<Write> writes = TraceWrites();
  EXPECT_TRUE(Contains(writes, regs::ClockGenerator(0), 0x1600));
  EXPECT_TRUE(Contains(writes, regs::ModeRegister(0), 0xA448));
  EXPECT_TRUE(Contains(writes, regs::ModeRegister(1), 0xF448));
  // Both counters and the generator are idle afterwards.
  EXPECT_DOUBLE_EQ(FreqOutHz(0), 0.0);
  EXPECT_EQ(EventStart(0).result, 1);
  EXPECT_EQ(EventStart(1).result, 1);
}

TEST_F(PwmMeasurement, FastSignalIsTimedOnTheBaseClock) {
  Input(0, 20'000.0, 30.0);
  TraceOn();
  const Phases phases = Measure();
  EXPECT_EQ(phases.result, 1);
  EXPECT_FLOAT_EQ(phases.firstUs, 15.0f);   // 300 ticks of 50 ns
  EXPECT_FLOAT_EQ(phases.secondUs, 35.0f);
  const std::vector<Write> writes = TraceWrites();
  EXPECT_TRUE(Contains(writes, regs::ModeRegister(0), 0xA048));
  EXPECT_TRUE(Contains(writes, regs::ModeRegister(1), 0xF048));
}

TEST_F(PwmMeasurement, SignalAroundAKilohertzIsTimedOnTwoMegahertz) {
  Input(0, 800.0, 50.0);
  TraceOn();
  const Phases phases = Measure();
  EXPECT_EQ(phases.result, 1);
  EXPECT_FLOAT_EQ(phases.firstUs, 625.0f);  // 1250 ticks of 0.5 us
  EXPECT_FLOAT_EQ(phases.secondUs, 625.0f);
  EXPECT_TRUE(Contains(TraceWrites(), regs::ClockGenerator(0), 0x1304));  // 10 MHz / 5
}

TEST_F(PwmMeasurement, NoSignalStoresZerosAndFails) {
  Input(0, 0.0);
  const Phases phases = Measure();
  EXPECT_EQ(phases.result, 0);
  EXPECT_EQ(phases.error, kOutOfRange);
  EXPECT_FLOAT_EQ(phases.firstUs, 0.0f);
  EXPECT_FLOAT_EQ(phases.secondUs, 0.0f);
  // The estimate's threads are gone and the counters free.
  EXPECT_EQ(EventStart(0).result, 1);
}

TEST_F(PwmMeasurement, OnlyCounterZeroMeasures) {
  const Reply reply = PwmStartRead(1);
  EXPECT_EQ(reply.result, 0);
  EXPECT_EQ(reply.error, kBadCounter);
}

TEST_F(PwmMeasurement, BusyCountersOrGeneratorRefuse) {
  ASSERT_EQ(EventStart(1).result, 1);
  EXPECT_EQ(Measure().error, kBusy);
  ASSERT_EQ(Reset(1).result, 1);
  ASSERT_EQ(FreqOut(0, 1, 0x0700).result, 1);
  EXPECT_EQ(Measure().error, kBusy);
}

}  // namespace
}  // namespace qio::test
