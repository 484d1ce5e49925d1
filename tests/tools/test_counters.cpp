// count, freq and the output commands, one-shot, checked against the
// simulated signals they were given.
#include <chrono>

#include "ToolRunner.h"

namespace qio::tool::test {
namespace {

using ::testing::HasSubstr;

class CounterTest : public ToolTest {};

TEST_F(CounterTest, CountStartReadAndWatch) {
  ToolResult result = Run({"count", "start", "0"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_THAT(result.out, HasSubstr("event counting started"));
  result = Run({"count", "read", "1", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(result.Json().contains("total"));

  // On the virtual clock: a sample every 250 ms and one when the 0.7 s are
  // up, each the exact number of 100 kHz edges since the arm (which the
  // start's 50 ms settle puts before the watch begins).
  result = Run({"--virtual-time", "count", "watch", "0", "--for", "0.7s", "--input", "0=100kHz", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const nlohmann::json watch = result.Json();
  ASSERT_EQ(watch["samples"].size(), 3u) << watch.dump();
  const double times[] = {0.25, 0.5, 0.7};
  const unsigned totals[] = {30000, 55000, 75000};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_DOUBLE_EQ(watch["samples"][i]["t"].get<double>(), times[i]);
    EXPECT_EQ(watch["samples"][i]["total"].get<unsigned>(), totals[i]);
  }
  // Counted past the 16 bits of the counter: one terminal count tallied.
  EXPECT_EQ(watch["total"].get<unsigned>(), 75000u);
  EXPECT_EQ(watch["samples"].back()["tally"].get<unsigned>(), 1u);
  EXPECT_EQ(watch["samples"].back()["count"].get<unsigned>(), 75000u - 65536u);
  EXPECT_DOUBLE_EQ(watch["rate"].get<double>(), 100e3);
}

TEST_F(CounterTest, FrequencyOnThePeriodMethod) {
  const ToolResult result = Run({"freq", "0", "--input", "0=1kHz", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const nlohmann::json freq = result.Json();
  EXPECT_NEAR(freq["hz"].get<double>(), 1000, 1);
  EXPECT_THAT(freq["method"].get<std::string>(), HasSubstr("period method, 20 MHz"));
}

TEST_F(CounterTest, SlowFrequencyAnnouncesItsPass) {
  const ToolResult result = Run({"--virtual-time", "freq", "0", "--input", "0=100Hz"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_THAT(result.out, HasSubstr("measuring: "));
  EXPECT_THAT(result.out, HasSubstr("100 kHz time base"));
  EXPECT_THAT(result.out, HasSubstr("counter 0: 100 Hz"));
}

TEST_F(CounterTest, OneShotWaitsForTheFirstResultOfTheSlowPass) {
  // A 1 Hz phase can still be counting when the 1.3 s pass latches: the
  // result comes after the pass's completion wait, and one read is enough.
  const ToolResult result = Run({"--virtual-time", "freq", "0", "--input", "0=1Hz", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.Json()["hz"].get<double>(), 1.0);
  const ToolResult text = Run({"freq", "0", "--input", "0=2Hz", "--virtual-time"});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  EXPECT_THAT(text.out, HasSubstr("about 1.3 s (up to 2.0 s)"));
  EXPECT_THAT(text.out, HasSubstr("counter 0: 2 Hz"));
  // No signal at all: the pass publishes 0 Hz, and says so.
  const ToolResult none = Run({"--virtual-time", "freq", "0", "--json"});
  ASSERT_EQ(none.exitCode, 0) << none.err;
  EXPECT_EQ(none.Json()["hz"].get<double>(), 0.0);
}

TEST_F(CounterTest, OneHertzOnTheVirtualClockTakesNoRealTime) {
  const auto begin = std::chrono::steady_clock::now();
  const ToolResult result = Run({"--virtual-time", "freq", "0", "--input", "0=1Hz"});
  const auto wall = std::chrono::steady_clock::now() - begin;
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_THAT(result.out, HasSubstr("counter 0: 1 Hz  (period method, 100 kHz time base)"));
  // About 20 ms on an idle machine; the real clock's measurement takes 2 s.
  EXPECT_LT(wall, std::chrono::milliseconds(1500)) << "a sanity bound, generous for a loaded machine";
}

TEST_F(CounterTest, OneHertzOnTheRealClockToo) {
  const ToolResult result = Run({"freq", "0", "--input", "0=1Hz"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_THAT(result.out, HasSubstr("counter 0: 1 Hz"));
}

TEST_F(CounterTest, FixedGateAndWatch) {
  ToolResult result = Run({"--virtual-time", "freq", "0", "--gate", "10ms", "--input", "0=50kHz", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.Json()["hz"].get<double>(), 50000.0);
  EXPECT_EQ(result.Json()["gateMs"], 10);

  result = Run({"--virtual-time", "freq", "0", "--watch", "--for", "1.2s", "--input", "0=1MHz", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const nlohmann::json watch = result.Json();
  // A reading every half second, each with the 14 ms of its new 2 ms pass.
  ASSERT_EQ(watch["readings"].size(), 3u) << watch.dump();
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(watch["readings"][i]["hz"].get<double>(), 1e6);
    EXPECT_DOUBLE_EQ(watch["readings"][i]["t"].get<double>(), 0.514 * static_cast<double>(i + 1));
  }
}

TEST_F(CounterTest, PulseShowsTheOutputAndItsWaveform) {
  const ToolResult result = Run({"pulse", "1", "--period", "10ms", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const nlohmann::json pulse = result.Json();
  EXPECT_NEAR(pulse["output"]["hz"].get<double>(), 100, 0.01);
  EXPECT_NEAR(pulse["output"]["highSeconds"].get<double>(), 0.005, 1e-5);
  EXPECT_EQ(pulse["timebaseHz"], 5e6);
  EXPECT_EQ(pulse["halfPeriodCounts"], 25000);

  const ToolResult text = Run({"pulse", "0", "--period", "0.002"});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  EXPECT_THAT(text.out, HasSubstr("OUT0: 500 Hz, period 2 ms, high 1 ms"));
  EXPECT_THAT(text.out, HasSubstr("|_______"));
}

TEST_F(CounterTest, FreqOutAndReset) {
  ToolResult result = Run({"freqout", "0", "--source", "1MHz", "--divisor", "4", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NEAR(result.Json()["output"]["hz"].get<double>(), 250e3, 1e-3);
  result = Run({"freqout", "1", "--source", "10kHz", "--divisor", "17"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.err, HasSubstr("0x1020"));
  result = Run({"reset", "1", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.Json()["output"]["hz"], 0.0);
  EXPECT_EQ(result.Json()["frequencyOutput"]["hz"], 0.0);
}

TEST_F(CounterTest, PwmContinuousAndCounted) {
  ToolResult result = Run({"pwm", "1", "--period", "10ms", "--high", "2.5ms", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const nlohmann::json pwm = result.Json();
  EXPECT_NEAR(pwm["output"]["hz"].get<double>(), 100, 0.01);
  EXPECT_NEAR(pwm["output"]["highSeconds"].get<double>(), 0.0025, 1e-5);

  result = Run({"pwm", "1", "--period", "2ms", "--high", "1ms", "--count", "5"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_THAT(result.out, HasSubstr("counter 0 (prescaler) opens a window of 50000 counts of 5 MHz = 10 ms"));
  EXPECT_THAT(result.out, HasSubstr("the prescaler's terminal count ended the run"));

  result = Run({"pwm", "0", "--period", "2ms", "--high", "1ms", "--count", "5"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.err, HasSubstr("0x1007"));
}

TEST_F(CounterTest, PwmMeasure) {
  const ToolResult result = Run({"pwm-measure", "--input", "0=1kHz,duty=25", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const nlohmann::json measure = result.Json();
  EXPECT_NEAR(measure["highUs"].get<double>(), 250, 2.5);
  EXPECT_NEAR(measure["lowUs"].get<double>(), 750, 7.5);
  EXPECT_NEAR(measure["dutyPercent"].get<double>(), 25, 0.5);
}

}  // namespace
}  // namespace qio::tool::test
