// The PWM time-base search and the prescaler of a counted run, against worked
// values.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "qio/protocol/board_registers.h"
#include "driver/counter/PwmTiming.h"

namespace qio::driver::counter::pwm {
namespace {

constexpr std::uint16_t kBaseMode0 = 0x0436;
constexpr std::uint16_t kBaseMode1Cascaded = 0x1536;

TEST(PwmCandidates, RunThroughFiveDecadesOfSixteenDivisors) {
  EXPECT_DOUBLE_EQ(CandidateAt(0).frequencyHz, 10'000'000.0);
  EXPECT_EQ(CandidateAt(0).SourceCode(), 3u);
  EXPECT_DOUBLE_EQ(CandidateAt(15).frequencyHz, 625'000.0);
  EXPECT_EQ(CandidateAt(15).divisor, 16u);
  EXPECT_DOUBLE_EQ(CandidateAt(16).frequencyHz, 1'000'000.0);
  EXPECT_EQ(CandidateAt(16).SourceCode(), 4u);
  EXPECT_EQ(CandidateAt(79).SourceCode(), 7u);
  EXPECT_DOUBLE_EQ(CandidateAt(79).frequencyHz, 62.5);
}

TEST(PwmOutputPlan, ShortPhasesRunOnTheBaseClock) {
  // L = H = 1 ms: q = 65 536 000 >= 20 MHz.
  const auto plan = PlanOutput(2.0f, 1.0f, false, kBaseMode0);
  ASSERT_TRUE(plan);
  EXPECT_TRUE(plan->baseClock);
  EXPECT_EQ(plan->lowCount, 20000);
  EXPECT_EQ(plan->highCount, 20000);
  EXPECT_EQ(plan->mode, 0x0036);
  EXPECT_DOUBLE_EQ(plan->periodMs, 2.0);
  EXPECT_DOUBLE_EQ(plan->lowMs, 1.0);

  const auto counted = PlanOutput(2.0f, 1.0f, true, kBaseMode1Cascaded);
  ASSERT_TRUE(counted);
  EXPECT_EQ(counted->mode, 0x1036);  // whichever the counter
}

TEST(PwmOutputPlan, SearchKeepsTheFirstCandidateOfSmallestError) {
  // M = 750 ms, q = 87381.3: 1 MHz / 12 is the first candidate that fits, and
  // its low count 62500 is exact (the error measure sees the high time only
  // after its truncation).
  const auto plan = PlanOutput(1000.0f, 250.0f, false, kBaseMode0);
  ASSERT_TRUE(plan);
  EXPECT_FALSE(plan->baseClock);
  EXPECT_EQ(plan->timeBase.decade, 1u);
  EXPECT_EQ(plan->timeBase.divisor, 12u);
  EXPECT_EQ(plan->lowCount, 62500);
  EXPECT_EQ(plan->highCount, 20833);
  EXPECT_EQ(plan->mode, kBaseMode0);
  EXPECT_NEAR(plan->periodMs, 999.996, 1e-9);
  EXPECT_NEAR(plan->lowMs, 750.0, 1e-9);
}

TEST(PwmOutputPlan, TiesKeepTheEarlierCandidate) {
  // 10 MHz / 8 and 10 MHz / 16 both reproduce 50 ms exactly.
  const auto plan = PlanOutput(100.0f, 50.0f, true, kBaseMode1Cascaded);
  ASSERT_TRUE(plan);
  EXPECT_EQ(plan->timeBase.decade, 0u);
  EXPECT_EQ(plan->timeBase.divisor, 8u);
  EXPECT_EQ(plan->lowCount, 62500);
  EXPECT_EQ(plan->highCount, 62500);
  EXPECT_EQ(plan->mode, kBaseMode1Cascaded);
  EXPECT_DOUBLE_EQ(plan->periodMs, 100.0);
}

TEST(PwmOutputPlan, CountsAreRaisedToTwo) {
  // L = 0.00005 ms would be one base-clock tick.
  const auto plan = PlanOutput(0.50005f, 0.5f, false, kBaseMode0);
  ASSERT_TRUE(plan);
  EXPECT_TRUE(plan->baseClock);
  EXPECT_EQ(plan->lowCount, 2);
  EXPECT_EQ(plan->highCount, 10000);
}

TEST(PwmOutputPlan, LongPeriodsUseTheSlowDecade) {
  // 60 s with a 1 ms high time: 10 kHz / 10 is the first candidate that fits.
  const auto plan = PlanOutput(60000.0f, 1.0f, false, kBaseMode0);
  ASSERT_TRUE(plan);
  EXPECT_EQ(plan->timeBase.SourceCode(), 6u);
  EXPECT_EQ(plan->timeBase.divisor, 10u);
  EXPECT_EQ(plan->lowCount, 59999);
  EXPECT_EQ(plan->highCount, 2);  // one tick raised to two
}

TEST(PwmOutputPlan, NoTimeBaseForPeriodsBeyondTheSlowestCounts) {
  // The longest phase at 62.5 Hz is 65536 counts: 1048.6 s.
  EXPECT_FALSE(PlanOutput(2'000'000.0f, 1000.0f, false, kBaseMode0));
}

TEST(PwmOutputPlan, RefusesTimesThatAreNotAPeriod) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_FALSE(PlanOutput(10.0f, 10.0f, false, kBaseMode0));  // H = P
  EXPECT_FALSE(PlanOutput(10.0f, 12.0f, false, kBaseMode0));
  EXPECT_FALSE(PlanOutput(10.0f, 0.0f, false, kBaseMode0));
  EXPECT_FALSE(PlanOutput(10.0f, -1.0f, false, kBaseMode0));
  EXPECT_FALSE(PlanOutput(nan, 1.0f, false, kBaseMode0));
  EXPECT_FALSE(PlanOutput(10.0f, nan, false, kBaseMode0));
  EXPECT_FALSE(PlanOutput(inf, 1.0f, false, kBaseMode0));
}

TEST(PwmPrescalerPlan, WindowOfFivePeriodsIsExact) {
  // T = 500 ms, q = 131070: 1 MHz / 8 gives 62500 ticks exactly; the tick
  // added because it fits the low time makes the window c - 1 = 62500 ticks.
  const auto plan = PlanPrescaler(0, 5, 100.0, 50.0);
  ASSERT_TRUE(plan);
  EXPECT_FALSE(plan->baseClock);
  EXPECT_EQ(plan->timeBase.SourceCode(), 4u);
  EXPECT_EQ(plan->timeBase.divisor, 8u);
  EXPECT_EQ(plan->count, 62501);
  EXPECT_EQ(plan->mode, 0x0426);
}

TEST(PwmPrescalerPlan, ShortWindowsRunOnTheBaseClock) {
  // T = 2 ms: 40000 ticks, plus the tick that fits the 1 ms low time.
  const auto plan = PlanPrescaler(0, 1, 2.0, 1.0);
  ASSERT_TRUE(plan);
  EXPECT_TRUE(plan->baseClock);
  EXPECT_EQ(plan->count, 40001);
  EXPECT_EQ(plan->mode, 0x0026);
}

TEST(PwmPrescalerPlan, RoundsAPartialTickUp) {
  // Three periods of 999.996 ms: 100 kHz / 7 gives 42856.97 ticks, rounded
  // up to 42857 (the smallest overshoot of all candidates), then one more
  // because it fits the 750 ms low time.
  const auto plan = PlanPrescaler(0, 3, 999.996, 750.0);
  ASSERT_TRUE(plan);
  EXPECT_EQ(plan->timeBase.decade, 2u);
  EXPECT_EQ(plan->timeBase.divisor, 7u);
  EXPECT_EQ(plan->count, 42858);
}

TEST(PwmPrescalerPlan, NoExtraTickWhenItExceedsTheLowTime) {
  // One 50 ns tick is more than a low time of 10 ns.
  const auto plan = PlanPrescaler(0, 1, 2.0, 0.00001);
  ASSERT_TRUE(plan);
  EXPECT_EQ(plan->count, 40000);
}

TEST(PwmPrescalerPlan, WindowMustLieBetweenHalfAMillisecondAndAMinute) {
  EXPECT_FALSE(PlanPrescaler(0, 1, 0.5, 0.25));
  EXPECT_TRUE(PlanPrescaler(0, 1, 0.6, 0.25));
  EXPECT_TRUE(PlanPrescaler(0, 600, 100.0, 50.0));  // exactly 60 s
  EXPECT_FALSE(PlanPrescaler(0, 601, 100.0, 50.0));
  EXPECT_FALSE(PlanPrescaler(0, 0xFFFFFFFFu, 100.0, 50.0));
}

// The window of a counted run is count - 1 ticks; it must close after the
// last high phase (N x Pa) and before the next rising edge (N x Pa + La).
// Where no time base can place it there, the plan is empty.
TEST(PwmPrescalerPlan, WindowClosesAfterTheLastPeriodOrThereIsNoPlan) {
  struct Run {
    float periodMs, highMs;
    std::uint32_t pulses;
    bool planned;
  };
  const Run runs[] = {
      {100.0f, 50.0f, 5, true},     {10.0f, 5.0f, 5, true},      {1000.0f, 250.0f, 3, true},
      {0.6f, 0.5f, 1, true},        {1.0f, 0.5f, 20000, true},   {0.6f, 0.5f, 1000, true},
      {0.6f, 0.5f, 20000, false},   {0.6f, 0.54f, 6000, false},  {1.0f, 0.9f, 20000, false},
      {0.6f, 0.5f, 65535, false},   {10.0f, 9.0f, 6000, false},  {1000.0f, 900.0f, 60, true},
  };
  for (const Run& run : runs) {
    SCOPED_TRACE(::testing::Message() << run.periodMs << " ms, high " << run.highMs << " ms, " << run.pulses);
    const auto output = PlanOutput(run.periodMs, run.highMs, true, kBaseMode1Cascaded);
    ASSERT_TRUE(output);
    const auto plan = PlanPrescaler(0, run.pulses, output->periodMs, output->lowMs);
    EXPECT_EQ(plan.has_value(), run.planned);
    if (!plan) continue;
    const double windowMs = (plan->count - 1) / plan->frequencyHz * 1000.0;
    const double runMs = run.pulses * output->periodMs;
    EXPECT_GE(windowMs, runMs - 1e-9);
    EXPECT_LT(windowMs, runMs + output->lowMs);
  }
}

}  // namespace
}  // namespace qio::driver::counter::pwm
