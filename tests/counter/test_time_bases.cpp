// The time-base tables of pulse output, frequency measurement and PWM
// measurement, at their edges.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "qio/protocol/board_registers.h"
#include "driver/counter/TimeBases.h"

namespace qio::driver::counter {
namespace {

using namespace qio::board::generator;

TEST(PulseTimeBase, ShortestPeriodRunsOnTheBaseClock) {
  // T = 0.001 s: r = 2000 (in single precision just below), count 10000.
  const auto plan = PlanPulse(0.001f);
  ASSERT_TRUE(plan);
  EXPECT_FALSE(plan->row.generator.UsesGenerator());
  EXPECT_EQ(plan->halfPeriodCount, 10000u);
}

TEST(PulseTimeBase, FourMillisecondsTakeTenMegahertzHalved) {
  const auto plan = PlanPulse(0.004f);
  ASSERT_TRUE(plan);
  EXPECT_EQ(plan->row.generator.sourceCode, kSource10MHz);
  EXPECT_EQ(plan->row.generator.divisor, 2u);
  EXPECT_EQ(plan->halfPeriodCount, 10000u);
}

TEST(PulseTimeBase, FiftySecondsTakeTenKilohertzDividedByFive) {
  // r = 0.04f exactly at the lower bound of the last row.
  const auto plan = PlanPulse(50.0f);
  ASSERT_TRUE(plan);
  EXPECT_EQ(plan->row.generator.sourceCode, kSource10kHz);
  EXPECT_EQ(plan->row.generator.divisor, 5u);
  EXPECT_EQ(plan->halfPeriodCount, 50000u);
}

TEST(PulseTimeBase, PeriodsOutsideTheTableAreRefused) {
  EXPECT_FALSE(PlanPulse(std::nextafter(50.0f, 100.0f)));
  EXPECT_FALSE(PlanPulse(50.01f));
  EXPECT_FALSE(PlanPulse(0.0009f));
  EXPECT_FALSE(PlanPulse(0.0f));
  EXPECT_FALSE(PlanPulse(-1.0f));
  EXPECT_FALSE(PlanPulse(std::numeric_limits<float>::quiet_NaN()));
  EXPECT_FALSE(PlanPulse(std::numeric_limits<float>::infinity()));
}

TEST(PulseTimeBase, EveryRowKeepsTheCountBetweenTenAndFiftyThousand) {
  // One period per row, in the middle of its interval.
  const struct {
    float period;
    unsigned source;
    unsigned divisor;
  } rows[] = {{0.002f, 0, 1}, {0.01f, kSource10MHz, 2}, {0.05f, kSource1MHz, 1}, {0.2f, kSource1MHz, 5},
              {1.0f, kSource100kHz, 2}, {5.0f, kSource10kHz, 1}, {20.0f, kSource10kHz, 5}};
  for (const auto& row : rows) {
    const auto plan = PlanPulse(row.period);
    ASSERT_TRUE(plan) << row.period;
    EXPECT_EQ(plan->row.generator.sourceCode, row.source) << row.period;
    EXPECT_EQ(plan->row.generator.divisor, row.divisor) << row.period;
    EXPECT_GE(plan->halfPeriodCount, 10000u) << row.period;
    EXPECT_LE(plan->halfPeriodCount, 50000u) << row.period;
    // The count is the half period in ticks of the row's time base.
    EXPECT_NEAR(plan->halfPeriodCount, plan->row.timeBaseHz * row.period / 2, 1.0) << row.period;
  }
}

TEST(MediumRangeTable, RowsByTheTwoMillisecondEstimate) {
  const auto row1MHz = FindMediumRangeRow(1'000'000.0f);
  ASSERT_TRUE(row1MHz);
  EXPECT_EQ(row1MHz->gateMs, 20);
  EXPECT_EQ(row1MHz->generator.sourceCode, kSource1MHz);
  EXPECT_EQ(row1MHz->gateCount, 20000);

  const auto row20kHz = FindMediumRangeRow(20'000.0f);
  ASSERT_TRUE(row20kHz);
  EXPECT_EQ(row20kHz->gateMs, 1000);
  EXPECT_EQ(row20kHz->generator.sourceCode, kSource10kHz);
  EXPECT_EQ(row20kHz->gateCount, 10000);

  const auto row5kHz = FindMediumRangeRow(5'000.0f);
  ASSERT_TRUE(row5kHz);
  EXPECT_EQ(row5kHz->gateMs, 2000);
  EXPECT_EQ(row5kHz->generator.divisor, 2u);

  EXPECT_EQ(FindMediumRangeRow(9'999.0f)->gateMs, 2000);
  EXPECT_EQ(FindMediumRangeRow(10'000.0f)->gateMs, 1000);
  EXPECT_EQ(FindMediumRangeRow(50'000.0f)->gateMs, 200);
  EXPECT_EQ(FindMediumRangeRow(120'000.0f)->gateMs, 100);
  EXPECT_EQ(FindMediumRangeRow(5'999'999.0f)->gateMs, 10);
  EXPECT_FALSE(FindMediumRangeRow(4'999.0f));
  EXPECT_FALSE(FindMediumRangeRow(6'000'000.0f));
}

TEST(FixedGateTable, GateLengthsPickTheirTimeBase) {
  EXPECT_FALSE(FindFixedGateRow(0));
  EXPECT_FALSE(FindFixedGateRow(2001));

  const auto gate1 = FindFixedGateRow(1);
  ASSERT_TRUE(gate1);
  EXPECT_FALSE(gate1->generator.UsesGenerator());
  EXPECT_EQ(FixedGateCount(*gate1, 1), 20000);
  EXPECT_EQ(FixedGateCount(*gate1, 3), 60000);

  const auto gate1000 = FindFixedGateRow(1000);
  ASSERT_TRUE(gate1000);
  EXPECT_EQ(gate1000->timeBaseHz, 50'000u);
  EXPECT_EQ(gate1000->generator.sourceCode, kSource100kHz);
  EXPECT_EQ(gate1000->generator.divisor, 2u);
  EXPECT_EQ(FixedGateCount(*gate1000, 1000), 50000);

  const auto gate2000 = FindFixedGateRow(2000);
  ASSERT_TRUE(gate2000);
  EXPECT_EQ(gate2000->timeBaseHz, 20'000u);
  EXPECT_EQ(FixedGateCount(*gate2000, 2000), 40000);

  EXPECT_EQ(FindFixedGateRow(6)->timeBaseHz, 10'000'000u);
  EXPECT_EQ(FindFixedGateRow(7)->timeBaseHz, 2'000'000u);
  EXPECT_EQ(FindFixedGateRow(10)->generator.divisor, 5u);
  EXPECT_EQ(FindFixedGateRow(60)->timeBaseHz, 1'000'000u);
  EXPECT_EQ(FindFixedGateRow(100)->timeBaseHz, 200'000u);
  EXPECT_EQ(FindFixedGateRow(600)->timeBaseHz, 100'000u);
}

TEST(FixedGateTable, EveryGateCountFitsTheCounter) {
  for (unsigned g = 1; g <= 2000; ++g) {
    const auto row = FindFixedGateRow(static_cast<std::uint16_t>(g));
    ASSERT_TRUE(row) << g;
    const std::uint32_t exact = row->timeBaseHz / 1000u * g;
    EXPECT_LE(exact, 60000u) << g;
    EXPECT_EQ(FixedGateCount(*row, static_cast<std::uint16_t>(g)), exact) << g;
  }
}

TEST(PhaseTimeBaseTable, SignalFrequencyPicksTheTickOfThePhaseCounters) {
  EXPECT_EQ(FindPhaseTimeBase(1.0f).timeBaseHz, 1'000u);
  EXPECT_EQ(FindPhaseTimeBase(10.0f).generator.sourceCode, kSource1kHz);
  EXPECT_EQ(FindPhaseTimeBase(50.0f).timeBaseHz, 10'000u);
  EXPECT_EQ(FindPhaseTimeBase(50.0f).generator.sourceCode, kSource10kHz);
  EXPECT_EQ(FindPhaseTimeBase(1000.0f).timeBaseHz, 2'000'000u);
  EXPECT_EQ(FindPhaseTimeBase(1000.0f).generator.divisor, 5u);
  EXPECT_FALSE(FindPhaseTimeBase(1000.5f).generator.UsesGenerator());
  EXPECT_EQ(FindPhaseTimeBase(5'000'000.0f).timeBaseHz, 20'000'000u);
}

}  // namespace
}  // namespace qio::driver::counter
