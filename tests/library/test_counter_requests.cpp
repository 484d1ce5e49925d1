// Counter calls as the driver receives them: counter and range checks before
// any request, the request records byte for byte, seconds to milliseconds for
// PWM, and the PWM-configured flag.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "RecorderFixture.h"
#include "qio/protocol/ioctl.h"
#include "qio/protocol/records.h"

namespace qio::library::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kRange = kRecorderBase + ZQS_LOW_RANGE;
constexpr std::uint32_t kParameter = kRecorderBase + ZQS_LOW_PARAMETER;
constexpr std::uint32_t kArgument = kRecorderBase + ZQS_LOW_ARGUMENT;

float FloatAt(const RecRequest& r, std::size_t offset) {
  float value = 0;
  std::memcpy(&value, r.in + offset, sizeof value);
  return value;
}

std::uint32_t U32At(const RecRequest& r, std::size_t offset) {
  std::uint32_t value = 0;
  std::memcpy(&value, r.in + offset, sizeof value);
  return value;
}

using CounterRequestTest = RecorderTest;

TEST_F(CounterRequestTest, CounterNumbersAboveOneAreRefusedWithoutARequest) {
  std::uint16_t tally = 0;
  std::uint32_t count = 0;
  float f = 0;
  EXPECT_EQ(CounterEventStart(handle_, 2, 0), kRange);
  EXPECT_EQ(CounterEventRead(handle_, 2, &tally, &count), kRange);
  EXPECT_EQ(CounterPulseStart(handle_, 2, 1.0f, 0, 0), kRange);
  EXPECT_EQ(CounterReset(handle_, 2), kRange);
  EXPECT_EQ(FreqOutStart(handle_, 2, 1, 0x0100), kRange);
  EXPECT_EQ(FreqOutReset(handle_, 2), kRange);
  EXPECT_EQ(CounterPWMSetting(handle_, 2, 1.0f, 0.5f, 0, 0), kRange);
  EXPECT_EQ(CounterPWMEnable(handle_, 2), kRange);
  EXPECT_EQ(CounterFreqStart(handle_, 1, 0, 0), kRange);  // only counter 0 measures frequency
  EXPECT_EQ(CounterFreqRead(handle_, 1, &f), kRange);
  EXPECT_EQ(PWMStartRead(handle_, 1, &f, &f), kRange);
  EXPECT_EQ(rec_count(), 0u);
}

TEST_F(CounterRequestTest, EventStartAndReadRecords) {
  ASSERT_EQ(CounterEventStart(handle_, 1, 0xBEEF), ZQS_SUCCESS);
  RecRequest r = OnlyRequest();
  EXPECT_EQ(r.code, protocol::IOCTL_COUNTER_EVENT_START);
  EXPECT_EQ(InputOf(r), (Bytes{1, 0, 0xEF, 0xBE}));

  rec_clear();
  const Bytes response{1, 0, 0x34, 0x12, 0x78, 0x56, 0, 0};
  rec_set_response(protocol::IOCTL_COUNTER_EVENT_READ, response.data(), 8);
  std::uint16_t tally = 0;
  std::uint32_t count = 0;
  ASSERT_EQ(CounterEventRead(handle_, 1, &tally, &count), ZQS_SUCCESS);
  r = OnlyRequest();
  EXPECT_EQ(InputOf(r), (Bytes{1, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(r.outLength, 8u);
  EXPECT_EQ(tally, 0x1234);
  EXPECT_EQ(count, 0x5678u);
  EXPECT_EQ(CounterEventRead(handle_, 0, nullptr, &count), kArgument);
}

TEST_F(CounterRequestTest, OutputsAreUntouchedWhenTheDriverRefuses) {
  rec_fail(0, 0x20000032);
  std::uint16_t tally = 7;
  std::uint32_t count = 7;
  float first = 7, second = 7, f = 7;
  EXPECT_EQ(CounterEventRead(handle_, 0, &tally, &count), 0x4032u);
  EXPECT_EQ(CounterFreqRead(handle_, 0, &f), 0x4032u);
  EXPECT_EQ(PWMStartRead(handle_, 0, &first, &second), 0x4032u);
  EXPECT_EQ(tally, 7);
  EXPECT_EQ(count, 7u);
  EXPECT_EQ(f, 7.0f);
  EXPECT_EQ(first, 7.0f);
}

TEST_F(CounterRequestTest, FrequencyStartSendsSixBytesAndReadTakesOffsetFour) {
  ASSERT_EQ(CounterFreqStart(handle_, 0, 0, 0x0102), ZQS_SUCCESS);
  RecRequest r = OnlyRequest();
  EXPECT_EQ(r.code, protocol::IOCTL_COUNTER_FREQ_START);
  EXPECT_EQ(InputOf(r), (Bytes{0, 0, 0, 0, 0x02, 0x01}));
  rec_clear();
  ASSERT_EQ(CounterFreqStart(handle_, 0, 2500, 0), ZQS_SUCCESS);  // the gate is the driver's to check
  r = OnlyRequest();
  EXPECT_EQ(r.in[2] | r.in[3] << 8, 2500);

  rec_clear();
  protocol::CounterFreqReadRecord reply{0, 0, 1234.5f};
  rec_set_response(protocol::IOCTL_COUNTER_FREQ_READ, &reply, sizeof reply);
  float f = 0;
  ASSERT_EQ(CounterFreqRead(handle_, 0, &f), ZQS_SUCCESS);
  r = OnlyRequest();
  EXPECT_EQ(r.inLength, 8u);
  EXPECT_EQ(r.outLength, 8u);
  EXPECT_EQ(f, 1234.5f);
}

TEST_F(CounterRequestTest, PulsePeriodLimitsAreInclusiveInDoublePrecision) {
  EXPECT_EQ(CounterPulseStart(handle_, 0, 0.0009f, 0, 0), kParameter);
  EXPECT_EQ(CounterPulseStart(handle_, 0, 50.5f, 0, 0), kParameter);
  EXPECT_EQ(CounterPulseStart(handle_, 0, std::numeric_limits<float>::quiet_NaN(), 0, 0), kParameter);
  EXPECT_EQ(CounterPulseStart(handle_, 0, -1.0f, 0, 0), kParameter);
  EXPECT_EQ(rec_count(), 0u);
  ASSERT_EQ(CounterPulseStart(handle_, 0, 0.001f, 0, 0), ZQS_SUCCESS);
  ASSERT_EQ(CounterPulseStart(handle_, 1, 50.0f, 0xA1B2C3D4, 0x5566), ZQS_SUCCESS);
  const std::vector<RecRequest> sent = Requests();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].code, protocol::IOCTL_COUNTER_PULSE_START);
  EXPECT_EQ(sent[1].inLength, 16u);
  EXPECT_EQ(sent[1].in[0], 1);
  EXPECT_EQ(FloatAt(sent[1], 4), 50.0f);
  EXPECT_EQ(U32At(sent[1], 8), 0xA1B2C3D4u);
  EXPECT_EQ(sent[1].in[12] | sent[1].in[13] << 8, 0x5566);
  EXPECT_EQ(FloatAt(sent[0], 4), 0.001f);
}

TEST_F(CounterRequestTest, FreqOutAcceptsDivisors1To16AndTheSevenSources) {
  EXPECT_EQ(FreqOutStart(handle_, 0, 0, 0x0100), kParameter);
  EXPECT_EQ(FreqOutStart(handle_, 0, 17, 0x0100), kParameter);
  EXPECT_EQ(FreqOutStart(handle_, 0, 1, 0x0800), kParameter);
  EXPECT_EQ(FreqOutStart(handle_, 0, 1, 0x0000), kParameter);
  EXPECT_EQ(FreqOutStart(handle_, 0, 1, 0x0180), kParameter);
  EXPECT_EQ(rec_count(), 0u);
  for (std::uint16_t code = 1; code <= 7; ++code) {
    EXPECT_EQ(FreqOutStart(handle_, 1, 1, static_cast<std::uint16_t>(code << 8)), ZQS_SUCCESS);
  }
  rec_clear();
  ASSERT_EQ(FreqOutStart(handle_, 1, 16, 0x0700), ZQS_SUCCESS);
  const RecRequest r = OnlyRequest();
  EXPECT_EQ(r.code, protocol::IOCTL_FREQOUT_START);
  EXPECT_EQ(InputOf(r), (Bytes{1, 0, 16, 0, 0x00, 0x07}));
}

TEST_F(CounterRequestTest, FreqOutResetIsTheCounterReset) {
  ASSERT_EQ(FreqOutReset(handle_, 1), ZQS_SUCCESS);
  const RecRequest r = OnlyRequest();
  EXPECT_EQ(r.code, protocol::IOCTL_COUNTER_RESET);
  EXPECT_EQ(InputOf(r), (Bytes{1, 0}));
}

TEST_F(CounterRequestTest, PwmSettingSendsMillisecondsAndMarksTheCounter) {
  EXPECT_EQ(CounterPWMEnable(handle_, 1), kArgument);  // not set yet
  EXPECT_EQ(rec_count(), 0u);
  ASSERT_EQ(CounterPWMSetting(handle_, 1, 1.0f, 0.5f, 5, 0x0A0B), ZQS_SUCCESS);
  RecRequest r = OnlyRequest();
  EXPECT_EQ(r.code, protocol::IOCTL_PWM_SETTING);
  EXPECT_EQ(r.inLength, 20u);
  EXPECT_EQ(r.in[0], 1);
  EXPECT_EQ(FloatAt(r, 4), 1000.0f);
  EXPECT_EQ(FloatAt(r, 8), 500.0f);
  EXPECT_EQ(U32At(r, 12), 5u);
  EXPECT_EQ(r.in[16] | r.in[17] << 8, 0x0A0B);

  rec_clear();
  ASSERT_EQ(CounterPWMEnable(handle_, 1), ZQS_SUCCESS);
  EXPECT_EQ(InputOf(OnlyRequest()), (Bytes{1, 0}));
  EXPECT_EQ(OnlyRequest().code, protocol::IOCTL_PWM_ENABLE);
  // The mark survives a reset; counter 0 has none of its own.
  ASSERT_EQ(CounterReset(handle_, 1), ZQS_SUCCESS);
  EXPECT_EQ(CounterPWMEnable(handle_, 1), ZQS_SUCCESS);
  EXPECT_EQ(CounterPWMEnable(handle_, 0), kArgument);
}

TEST_F(CounterRequestTest, RefusedPwmSettingLeavesTheCounterUnmarked) {
  rec_fail(protocol::IOCTL_PWM_SETTING, 0x20000032);
  EXPECT_EQ(CounterPWMSetting(handle_, 0, 1.0f, 0.5f, 0, 0), 0x4032u);
  EXPECT_EQ(CounterPWMEnable(handle_, 0), kArgument);
}

TEST_F(CounterRequestTest, PwmPulseCountNeedsTheOddCounter) {
  EXPECT_EQ(CounterPWMSetting(handle_, 0, 1.0f, 0.5f, 5, 0), kRange);
  EXPECT_EQ(rec_count(), 0u);
  EXPECT_EQ(CounterPWMSetting(handle_, 0, 1.0f, 0.5f, 0, 0), ZQS_SUCCESS);
}

TEST_F(CounterRequestTest, PwmTimeLimitsInMilliseconds) {
  struct Case {
    float period, high;
    bool accepted;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Case cases[] = {
      {60.0f, 0.0005f, true},     // both at their inclusive limits
      {60.001f, 1.0f, false},     // period above 60 s
      {0.0005f, 0.0004f, false},  // period must be above 0.5 ms
      {0.00051f, 0.0005f, true},
      {1.0f, 0.00049f, false},    // high time below 0.5 ms
      {60.0f, 59.999f, true},
      {1.0f, 1.0f, false},        // high time equal to the period
      {1.0f, 1.5f, false},
      {nan, 0.5f, false},
      {1.0f, nan, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.period << " / " << c.high);
    rec_clear();
    const std::uint32_t result = CounterPWMSetting(handle_, 1, c.period, c.high, 0, 0);
    EXPECT_EQ(result, c.accepted ? ZQS_SUCCESS : kParameter);
    EXPECT_EQ(rec_count(), c.accepted ? 1u : 0u);
  }
}

TEST_F(CounterRequestTest, PwmHighTimeCheckUsesTheSingleProductNotTheExactValue) {
  // 60 s times 1000 in single precision is exactly 60000, the period limit.
  ASSERT_EQ(CounterPWMSetting(handle_, 1, 60.0f, 59.0f, 0, 0), ZQS_SUCCESS);
  EXPECT_EQ(FloatAt(OnlyRequest(), 4), 60000.0f);
  // The largest float below 60 s is accepted as high time; 60 itself is not.
  rec_clear();
  EXPECT_EQ(CounterPWMSetting(handle_, 1, 60.0f, 60.0f, 0, 0), kParameter);
  EXPECT_EQ(CounterPWMSetting(handle_, 1, 60.0f, std::nextafter(60.0f, 0.0f), 0, 0), ZQS_SUCCESS);
}

TEST_F(CounterRequestTest, PwmStartReadAsksCounterZeroAndReturnsMicroseconds) {
  protocol::PwmStartReadRecord reply{0, 0, 250.0f, 750.0f};
  rec_set_response(protocol::IOCTL_PWM_START_READ, &reply, sizeof reply);
  float first = 0, second = 0;
  ASSERT_EQ(PWMStartRead(handle_, 0, &first, &second), ZQS_SUCCESS);
  const RecRequest r = OnlyRequest();
  EXPECT_EQ(InputOf(r), Bytes(12, 0));
  EXPECT_EQ(r.outLength, 12u);
  EXPECT_EQ(first, 250.0f);
  EXPECT_EQ(second, 750.0f);
  EXPECT_EQ(PWMStartRead(handle_, 0, nullptr, &second), kArgument);
}

}  // namespace
}  // namespace qio::library::testing
