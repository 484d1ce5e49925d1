// DriverProc: function numbers, record unpacking and the layouts of the
// parameter records.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "RecorderFixture.h"
#include "qio/protocol/ioctl.h"

namespace qio::library::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Records without references sit at the offsets of the function table on
// every target; references are pointer-sized and naturally aligned.
static_assert(offsetof(ZqsCounterPulseStartParams, Period) == 4);
static_assert(offsetof(ZqsCounterPulseStartParams, Reserved1) == 8);
static_assert(offsetof(ZqsCounterPulseStartParams, Reserved2) == 12);
static_assert(offsetof(ZqsCounterPwmSettingParams, HighTime) == 8);
static_assert(offsetof(ZqsCounterPwmSettingParams, PulseCount) == 12);
static_assert(offsetof(ZqsCounterPwmSettingParams, Reserved) == 16);
static_assert(offsetof(ZqsCounterConfigParams, Mode) == 4 && sizeof(ZqsCounterConfigParams) == 20);
static_assert(offsetof(ZqsWritePortWordParams, Value) == 2);
static_assert(offsetof(ZqsWritePortWordAltParams, Value) == 4);
static_assert(offsetof(ZqsPortMaskParams, State) == 4);
static_assert(offsetof(ZqsPortDwordMaskParams, Mask) == 4 && offsetof(ZqsPortDwordMaskParams, State) == 8);
static_assert(offsetof(ZqsEnableEventParams, Count) == 4);
static_assert(offsetof(ZqsEnableEventDiPortsParams, PortCount) == 8);
static_assert(offsetof(ZqsSetPropertyParams, Length) == 4);
static_assert(offsetof(ZqsSetPropertyParams, Data) == 8);
static_assert(offsetof(ZqsPortByteRefParams, Value) == sizeof(void*));
static_assert(offsetof(ZqsPortWordRefParams, ValidMask) == 2 * sizeof(void*));
static_assert(offsetof(ZqsCheckEventParams, Milliseconds) == sizeof(void*));
static_assert(offsetof(ZqsLatestEventDiPortsParams, Length) == 2 * sizeof(void*));

constexpr std::uint32_t kArgument = kRecorderBase + ZQS_LOW_ARGUMENT;

class DriverProcTest : public RecorderTest {
 protected:
  std::uint32_t Call(std::uint32_t function, const void* record) {
    return DriverProc(0, 0, function, handle_, reinterpret_cast<uintptr_t>(record));
  }
};

TEST_F(DriverProcTest, NumbersOutsideTheTableReturn27) {
  for (std::uint32_t function : {3u, 26u, 28u, 107u, 137u, 200u, 0xFFFFu}) {
    EXPECT_EQ(DriverProc(0, 0, function, handle_, 0), ZQS_ERROR_FUNCTION) << function;
  }
  EXPECT_EQ(rec_count(), 0u);
}

TEST_F(DriverProcTest, Function35ResetsTheCounterGivenAsParameter) {
  ASSERT_EQ(DriverProc(0, 0, 35, handle_, 1), ZQS_SUCCESS);
  const RecRequest r = OnlyRequest();
  EXPECT_EQ(r.code, protocol::IOCTL_COUNTER_RESET);
  EXPECT_EQ(InputOf(r), (Bytes{1, 0}));
  // Only the low 16 bits of the function number count.
  rec_clear();
  ASSERT_EQ(DriverProc(7, 9, 0x50023, handle_, 0), ZQS_SUCCESS);
  EXPECT_EQ(InputOf(OnlyRequest()), (Bytes{0, 0}));
  EXPECT_EQ(DriverProc(0, 0, 35, handle_, 2), kRecorderBase + ZQS_LOW_RANGE);
}

// A counter or event type given as the parameter itself is taken whole: a
// value beyond the callee's argument is out of range, not its low bits.
TEST_F(DriverProcTest, ValueParametersAreNotCutToTheirLowBits) {
  for (std::uint32_t function : {35u, 85u, 105u}) {
    for (uintptr_t counter : {uintptr_t{0x10000}, uintptr_t{0x10001}, ~uintptr_t{0}}) {
      EXPECT_EQ(DriverProc(0, 0, function, handle_, counter), kRecorderBase + ZQS_LOW_RANGE)
          << function << " " << counter;
    }
  }
  if (sizeof(uintptr_t) > 4) {
    const uintptr_t wide = static_cast<uintptr_t>(static_cast<std::uint64_t>(1) << 32 | 0x3405u);
    EXPECT_EQ(DriverProc(0, 0, 132, handle_, wide), kRecorderBase + ZQS_LOW_EVENT_TYPE);
  }
  EXPECT_EQ(rec_count(), 0u);
  // The handle is still checked first.
  EXPECT_EQ(DriverProc(0, 0, 35, 0x777, 0x10001), ZQS_ERROR_HANDLE);
}

TEST_F(DriverProcTest, OpenAndCloseThroughTheHandleVariable) {
  std::uint32_t h = 0;
  ASSERT_EQ(DriverProc(0, 0, 0, kRecorderDevice, reinterpret_cast<uintptr_t>(&h)), ZQS_SUCCESS);
  EXPECT_EQ(h, handle_);
  ASSERT_EQ(DriverProc(0, 0, 1, reinterpret_cast<uintptr_t>(&h), 0), ZQS_SUCCESS);
  EXPECT_EQ(h, 0u);
  EXPECT_EQ(rec_open_count(), 1);
}

TEST_F(DriverProcTest, MaskedWriteRecord) {
  rec_set_response(protocol::IOCTL_DIO_GET_CURRENT_DO_PORTS, "\x50", 1);
  const ZqsPortMaskParams p{1, 0x0F, 0xFF};
  ASSERT_EQ(Call(21, &p), ZQS_SUCCESS);
  const std::vector<RecRequest> sent = Requests();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1].in[0], 1);
  EXPECT_EQ(sent[1].in[8], 0x5F);
}

TEST_F(DriverProcTest, BothWordWritersReachWritePortWordFromTheirOwnOffsets) {
  const ZqsWritePortWordParams at2{0x302, 0xBEEF};
  const ZqsWritePortWordAltParams at4{0x304, 0xAAAA, 0x1234};
  ASSERT_EQ(Call(27, &at2), ZQS_SUCCESS);
  ASSERT_EQ(Call(110, &at4), ZQS_SUCCESS);
  const std::vector<RecRequest> sent = Requests();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(InputOf(sent[0]), (Bytes{2, 0, 0, 0, 0xEF, 0xBE}));
  EXPECT_EQ(InputOf(sent[1]), (Bytes{4, 0, 0, 0, 0x34, 0x12}));
}

TEST_F(DriverProcTest, WordReadRecordHoldsValueBeforeMask) {
  rec_set_response(protocol::IOCTL_DIO_READ_DI_PORTS, "\x11\x22", 2);
  std::uint16_t value = 0, mask = 0;
  const ZqsPortWordRefParams p{1, &value, &mask};
  ASSERT_EQ(Call(122, &p), ZQS_SUCCESS);
  EXPECT_EQ(value, 0x2211);
  EXPECT_EQ(mask, 0xFFFF);
}

TEST_F(DriverProcTest, PwmAndPulseRecordsCarryTheirFloats) {
  const ZqsCounterPwmSettingParams pwm{1, 0.2f, 0.05f, 3, 0};
  ASSERT_EQ(Call(84, &pwm), ZQS_SUCCESS);
  const ZqsCounterPulseStartParams pulse{0, 0.5f, 0, 0};
  ASSERT_EQ(Call(34, &pulse), ZQS_SUCCESS);
  ASSERT_EQ(DriverProc(0, 0, 85, handle_, 1), ZQS_SUCCESS);
  const std::vector<RecRequest> sent = Requests();
  ASSERT_EQ(sent.size(), 3u);
  float f = 0;
  std::memcpy(&f, sent[0].in + 4, 4);
  EXPECT_EQ(f, 0.2f * 1000.0f);
  EXPECT_EQ(sent[0].in[12], 3);
  std::memcpy(&f, sent[1].in + 4, 4);
  EXPECT_EQ(f, 0.5f);
  EXPECT_EQ(sent[2].code, protocol::IOCTL_PWM_ENABLE);
}

TEST_F(DriverProcTest, RawCounterConfigurationSendsTenWords) {
  ZqsCounterConfigParams p{1, 0, {1, 2, 3, 4, 5, 6, 7, 8}};
  EXPECT_EQ(Call(106, &p), kArgument);  // initial count 0
  p.Counter = 2;
  p.InitialCount = 100;
  EXPECT_EQ(Call(106, &p), kRecorderBase + ZQS_LOW_RANGE);
  EXPECT_EQ(rec_count(), 0u);
  p.Counter = 1;
  p.Mode[5] = 0x0400;
  ASSERT_EQ(Call(106, &p), ZQS_SUCCESS);
  const RecRequest r = OnlyRequest();
  EXPECT_EQ(r.code, protocol::IOCTL_COUNTER_CONFIG);
  EXPECT_EQ(InputOf(r), (Bytes{1, 0, 100, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 0, 4, 7, 0, 8, 0}));
}

TEST_F(DriverProcTest, PropertyRecords) {
  std::uint32_t length = 4;
  std::uint32_t value = 0;
  const ZqsGetPropertyParams get{0x3C84, &length, &value};
  ASSERT_EQ(Call(109, &get), ZQS_SUCCESS);
  EXPECT_EQ(value, 3u);
  const std::uint32_t masks[3] = {0, 0xFF, 0xF0};
  const ZqsSetPropertyParams set{0x3006, sizeof masks, masks};
  ASSERT_EQ(Call(108, &set), ZQS_SUCCESS);
  EXPECT_EQ(InputOf(OnlyRequest()), (Bytes{0, 0, 0, 0, 0, 1, 3, 0}));
}

TEST_F(DriverProcTest, EventRecords) {
  const ZqsEnableEventDiPortsParams enable{0x3405, 1, 2};
  ASSERT_EQ(Call(131, &enable), ZQS_SUCCESS);
  std::uint16_t type = 0;
  const ZqsCheckEventParams check{&type, 0};
  ASSERT_EQ(Call(78, &check), ZQS_SUCCESS);
  EXPECT_EQ(type, ZQS_EVENT_TIMEOUT);
  ASSERT_EQ(DriverProc(0, 0, 132, handle_, 0x3405), ZQS_SUCCESS);
  std::uint8_t latched[2] = {};
  const ZqsLatestEventDiPortsParams latest{0x3405, latched, 2};
  ASSERT_EQ(Call(133, &latest), ZQS_SUCCESS);
  const std::vector<RecRequest> sent = Requests();
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[2].code, protocol::IOCTL_EVENT_ENABLE);
  EXPECT_EQ(sent[2].in[0], 0);  // disabled
  EXPECT_EQ(sent[3].code, protocol::IOCTL_DIO_GET_EVENT_DI_PORTS);
  EXPECT_EQ(sent[3].outLength, 2u);
}

TEST_F(DriverProcTest, MissingRecordIsAnArgumentErrorOrABadHandle) {
  EXPECT_EQ(Call(21, nullptr), kArgument);
  EXPECT_EQ(Call(78, nullptr), kArgument);
  EXPECT_EQ(DriverProc(0, 0, 21, 0x777, 0), ZQS_ERROR_HANDLE);
  EXPECT_EQ(DriverProc(0, 0, 21, uintptr_t{1} << 40 | handle_, 0), ZQS_ERROR_HANDLE);  // not a 32-bit value
  EXPECT_EQ(rec_count(), 0u);
}

}  // namespace
}  // namespace qio::library::testing
