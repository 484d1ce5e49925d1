// Counters end to end: what the requests make the board put out, the
// driver's busy refusals, and the reset through the generic entry.
#include <gtest/gtest.h>

#include <vector>

#include "BoardFixture.h"

namespace qio::library::testing {
namespace {

constexpr std::uint32_t kBusy = ZQS_ERROR_BASE(0) + ZQS_LOW_BUSY;

class BoardCounterTest : public BoardTest {
 protected:
  double OutputHz(unsigned counter, double* high = nullptr) {
    double hz = -1, highSeconds = -1;
    EXPECT_EQ(qio_sim_get_output(board_, counter, &hz, &highSeconds), QIO_TARGET_OK);
    if (high != nullptr) *high = highSeconds;
    return hz;
  }
  double FreqOutHz(unsigned generator) {
    double hz = -1;
    EXPECT_EQ(qio_sim_get_freqout(board_, generator, &hz), QIO_TARGET_OK);
    return hz;
  }
};

TEST_F(BoardCounterTest, FrequencyOutputRunsUntilItsReset) {
  ASSERT_EQ(FreqOutStart(handle_, 0, 4, ZQS_FREQOUT_SOURCE(4)), ZQS_SUCCESS);  // 1 MHz / 4
  EXPECT_DOUBLE_EQ(FreqOutHz(0), 250000.0);
  EXPECT_EQ(FreqOutStart(handle_, 0, 2, ZQS_FREQOUT_SOURCE(4)), kBusy);
  ASSERT_EQ(FreqOutReset(handle_, 0), ZQS_SUCCESS);
  EXPECT_DOUBLE_EQ(FreqOutHz(0), 0.0);
  ASSERT_EQ(FreqOutStart(handle_, 0, 16, ZQS_FREQOUT_SOURCE(7)), ZQS_SUCCESS);  // 1 kHz / 16
  EXPECT_DOUBLE_EQ(FreqOutHz(0), 62.5);
  EXPECT_EQ(FreqOutStart(handle_, 0, 17, ZQS_FREQOUT_SOURCE(7)), ZQS_ERROR_BASE(0) + ZQS_LOW_PARAMETER);
}

TEST_F(BoardCounterTest, PulseOutputAndTheBusyCounter) {
  ASSERT_EQ(CounterPulseStart(handle_, 0, 0.01f, 0, 0), ZQS_SUCCESS);
  double high = 0;
  EXPECT_NEAR(OutputHz(0, &high), 100.0, 0.01);
  EXPECT_NEAR(high, 0.005, 1e-6);
  EXPECT_EQ(CounterPulseStart(handle_, 0, 0.02f, 0, 0), kBusy);
  EXPECT_EQ(CounterPulseStart(handle_, 0, 50.5f, 0, 0), ZQS_ERROR_BASE(0) + ZQS_LOW_PARAMETER);
}

TEST_F(BoardCounterTest, DriverProc35ResetsCounterOneOnly) {
  ASSERT_EQ(CounterPulseStart(handle_, 0, 0.01f, 0, 0), ZQS_SUCCESS);
  ASSERT_EQ(CounterPulseStart(handle_, 1, 0.004f, 0, 0), ZQS_SUCCESS);
  EXPECT_NEAR(OutputHz(1), 250.0, 0.01);
  ASSERT_EQ(qio_sim_trace_enable(board_, 1), QIO_TARGET_OK);
  ASSERT_EQ(DriverProc(0, 0, ZQS_FN_COUNTER_RESET, handle_, 1), ZQS_SUCCESS);
  bool resetCommand = false, strobe = false;
  for (const QioPortAccess& a : Trace()) {
    if (!a.isWrite) continue;
    if (a.offset == 0x0E && a.value == 0x07) resetCommand = true;  // counter 1 command register
    if (a.offset == 0x20 && a.value == 0x06) strobe = resetCommand;  // blocks 1 and 2, after the command
    EXPECT_NE(a.offset, 0x06) << "counter 0's command register was written";
  }
  EXPECT_TRUE(resetCommand);
  EXPECT_TRUE(strobe);
  EXPECT_DOUBLE_EQ(OutputHz(1), 0.0);
  EXPECT_NEAR(OutputHz(0), 100.0, 0.01);
  // Counter 1 is free again.
  EXPECT_EQ(CounterPulseStart(handle_, 1, 0.004f, 0, 0), ZQS_SUCCESS);
}

TEST_F(BoardCounterTest, PwmNeedsItsSettingFirst) {
  EXPECT_EQ(CounterPWMEnable(handle_, 1), ZQS_ERROR_BASE(0) + ZQS_LOW_ARGUMENT);
  ASSERT_EQ(CounterPWMSetting(handle_, 1, 0.002f, 0.001f, 0, 0), ZQS_SUCCESS);
  ASSERT_EQ(CounterPWMEnable(handle_, 1), ZQS_SUCCESS);
  double high = 0;
  EXPECT_NEAR(OutputHz(1, &high), 500.0, 0.5);
  EXPECT_NEAR(high, 0.001, 1e-5);
  ASSERT_EQ(CounterReset(handle_, 1), ZQS_SUCCESS);
  EXPECT_EQ(CounterPWMEnable(handle_, 1), ZQS_SUCCESS);  // the setting is remembered
}

TEST_F(BoardCounterTest, EventCountingReadsEdgesOfTheInputPin) {
  ASSERT_EQ(CounterEventStart(handle_, 1, 0), ZQS_SUCCESS);
  ASSERT_EQ(qio_sim_set_counter_input(board_, 1, 1000.0, 50.0), QIO_TARGET_OK);
  platform::Sleep(60);
  ASSERT_EQ(qio_sim_set_counter_input(board_, 1, 0.0, 50.0), QIO_TARGET_OK);
  std::uint16_t tally = 0xFFFF;
  std::uint32_t count = 0;
  ASSERT_EQ(CounterEventRead(handle_, 1, &tally, &count), ZQS_SUCCESS);
  EXPECT_EQ(tally, 0);
  EXPECT_GE(count, 40u);   // about 60 edges; generous for a loaded machine
  EXPECT_LE(count, 2000u);
}

// A counted PWM puts out exactly N whole periods and leaves OUT1 low, or is
// refused: the prescaler's window must close after the last high phase and
// before the next rising edge. Short low phases in long runs leave too
// little room for the coarse ticks such a window needs.
TEST_F(BoardCounterTest, CountedPwmGivesExactlyItsPeriodsOrIsRefused) {
  struct Run {
    float period, high;
    std::uint32_t pulses;
  };
  const Run runs[] = {
      {0.01f, 0.005f, 5},        {0.1f, 0.025f, 3},          {0.0006f, 0.0005f, 1},
      {0.0006f, 0.0005f, 1000},  {0.0006f, 0.0005f, 20000},  {0.0006f, 0.00054f, 6000},
      {0.001f, 0.0009f, 20000},  {0.002f, 0.0018f, 20000},   {0.005f, 0.0045f, 6000},
      {0.01f, 0.009f, 6000},     {0.0025f, 0.00225f, 6000},  {1.0f, 0.9f, 60},
      {0.0031f, 0.0028f, 6000},  {0.001f, 0.0005f, 20000},   {30.0f, 15.0f, 2},
  };
  std::vector<QioPinChange> changes(50000);
  for (const Run& run : runs) {
    SCOPED_TRACE(::testing::Message() << "period " << run.period << " s, high " << run.high << " s, "
                                      << run.pulses << " periods");
    const std::uint32_t setting = CounterPWMSetting(handle_, 1, run.period, run.high, run.pulses, 0);
    if (setting != ZQS_SUCCESS) {
      EXPECT_EQ(setting, ZQS_ERROR_BASE(0) + ZQS_LOW_PARAMETER);
      continue;
    }
    ASSERT_EQ(qio_sim_record_pins(board_, changes.size()), QIO_TARGET_OK);
    const std::uint64_t start = qio_target_now_ns(target_);
    ASSERT_EQ(CounterPWMEnable(handle_, 1), ZQS_SUCCESS);
    const double runSeconds = static_cast<double>(run.period) * run.pulses;
    ASSERT_EQ(qio_target_sleep(target_, static_cast<std::uint32_t>(runSeconds * 1000.0) + 1000), QIO_TARGET_OK);
    QioPinListing listing{};
    ASSERT_EQ(qio_sim_list_edges(board_, QIO_SIM_PIN_OUT1, start, qio_target_now_ns(target_), changes.data(),
                                 changes.size(), &listing),
              QIO_TARGET_OK);
    ASSERT_EQ(listing.notListed, 0u);
    std::uint32_t rises = 0;
    for (std::size_t k = 0; k < listing.count; ++k) rises += changes[k].value == 1 ? 1 : 0;
    EXPECT_EQ(rises, run.pulses);
    int level = -1;
    ASSERT_EQ(qio_sim_get_output_level(board_, 1, &level), QIO_TARGET_OK);
    EXPECT_EQ(level, 0) << "OUT1 stays high after the run";
    ASSERT_EQ(qio_sim_record_pins(board_, 0), QIO_TARGET_OK);
    ASSERT_EQ(CounterReset(handle_, 1), ZQS_SUCCESS);
  }
}

}  // namespace
}  // namespace qio::library::testing
