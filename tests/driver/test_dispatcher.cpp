// The dispatcher's table: exact codes, buffer checks before any handler,
// bytes-returned rules and the error convention.
#include <gtest/gtest.h>

#include "driver_calls.h"
#include "qio/protocol/ioctl.h"

namespace qio::test {
namespace {

using namespace protocol;

constexpr std::uint32_t kBadBuffer = 0x2000000A;

struct RowLimits {
  std::uint32_t code;
  std::uint32_t inMinimum;
  std::uint32_t outMinimum;  // 0: no output buffer needed for the check
  bool counter;              // served by the counter engine
};

// Minimum lengths of every control code of the protocol.
constexpr RowLimits kLimits[] = {
    {IOCTL_EVENT_ENABLE, 16, 0, false},        {IOCTL_PORT_READ_BYTE, 4, 1, false},
    {IOCTL_PORT_READ_WORD, 4, 2, false},       {IOCTL_PORT_READ_DWORD, 4, 4, false},
    {IOCTL_DIO_READ_DI_PORTS, 8, 0, false},    {IOCTL_DIO_WRITE_DO_PORTS, 12, 0, false},
    {IOCTL_DIO_SET_EVENT_DI_PORTS, 12, 0, false}, {IOCTL_DIO_GET_EVENT_DI_PORTS, 4, 1, false},
    {IOCTL_PORT_WRITE_BYTE, 5, 0, false},      {IOCTL_PORT_WRITE_WORD, 6, 0, false},
    {IOCTL_PORT_WRITE_DWORD, 8, 0, false},     {IOCTL_DIO_GET_CURRENT_DO_PORTS, 8, 0, false},
    {IOCTL_COUNTER_EVENT_START, 4, 0, true},   {IOCTL_COUNTER_EVENT_READ, 8, 8, true},
    {IOCTL_COUNTER_FREQ_START, 6, 0, true},    {IOCTL_COUNTER_FREQ_READ, 8, 8, true},
    {IOCTL_COUNTER_PULSE_START, 16, 0, true},  {IOCTL_COUNTER_RESET, 2, 0, true},
    {IOCTL_PROPERTY_GET, 4, 3, false},         {IOCTL_PROPERTY_SET, 8, 0, false},
    {IOCTL_FREQOUT_START, 6, 0, true},         {IOCTL_PWM_SETTING, 20, 0, true},
    {IOCTL_PWM_ENABLE, 2, 0, true},            {IOCTL_PWM_START_READ, 12, 12, true},
    {IOCTL_COUNTER_CONFIG, 20, 0, true},
};

class DispatcherTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(board.mapped()); }
  FakeBoard board{kTestBase};
  std::unique_ptr<driver::DeviceContext> ctx = MakeContext();
};

TEST_F(DispatcherTest, NullHandleFailsWithoutTouchingBytesReturned) {
  const Reply r = Send(nullptr, IOCTL_PORT_READ_BYTE, Bytes().U32(0).get(), 1);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.error, 0x20000003u);
  EXPECT_EQ(r.bytesReturned, 0xDEADu);
}

TEST_F(DispatcherTest, UnknownCodeFailsWith50AndKeepsLastError) {
  ctx->lastError.store(0x40);
  for (std::uint32_t code : {0u, 0x9C406401u, 0x9C406000u, 0xDC7FF8A4u, 0x9C4024C0u}) {
    const Reply r = Send(ctx.get(), code, std::vector<std::uint8_t>(32, 0), 32);
    EXPECT_EQ(r.result, 0) << std::hex << code;
    EXPECT_EQ(r.error, 50u);
    EXPECT_EQ(r.bytesReturned, 0u);
  }
  EXPECT_EQ(ctx->lastError.load(), 0x40u);
}

TEST_F(DispatcherTest, EveryCodeOfTheProtocolHasItsRow) {
  for (const RowLimits& limits : kLimits) {
    const driver::DispatchRow* row = driver::FindDispatchRow(limits.code);
    ASSERT_NE(row, nullptr) << std::hex << limits.code;
    EXPECT_EQ(row->inputMinimum, limits.inMinimum) << std::hex << limits.code;
    if (limits.outMinimum > 0) {
      EXPECT_TRUE(row->outputRequired) << std::hex << limits.code;
      EXPECT_EQ(row->outputMinimum, limits.outMinimum) << std::hex << limits.code;
    }
  }
}

TEST_F(DispatcherTest, ShortOrMissingInputIsRefusedBeforeTheHandler) {
  for (const RowLimits& limits : kLimits) {
    const std::uint32_t outLength = std::max<std::uint32_t>(limits.outMinimum, 16);
    Reply r = Send(ctx.get(), limits.code, std::vector<std::uint8_t>(limits.inMinimum - 1, 0), outLength);
    EXPECT_EQ(r.result, 0) << std::hex << limits.code;
    EXPECT_EQ(r.error, kBadBuffer) << std::hex << limits.code;
    EXPECT_EQ(r.bytesReturned, 0u) << std::hex << limits.code;
    EXPECT_EQ(ctx->lastError.load(), 0x0Au);

    // A null input pointer with a plausible length.
    ctx->lastError.store(0);
    std::uint8_t out[16] = {};
    std::uint32_t returned = 99;
    platform::SetLastError(0);
    EXPECT_EQ(driver::Dispatch(ctx.get(), limits.code, nullptr, 64, out, sizeof out, &returned), 0);
    EXPECT_EQ(platform::GetLastError(), kBadBuffer);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(ctx->lastError.load(), 0x0Au);
  }
  EXPECT_TRUE(board.Accesses().empty()) << "no handler ran";
}

TEST_F(DispatcherTest, ShortOrMissingOutputIsRefusedBeforeTheHandler) {
  for (const RowLimits& limits : kLimits) {
    if (limits.outMinimum == 0) continue;
    Reply r = Send(ctx.get(), limits.code, std::vector<std::uint8_t>(limits.inMinimum, 0), limits.outMinimum - 1);
    EXPECT_EQ(r.result, 0) << std::hex << limits.code;
    EXPECT_EQ(r.error, kBadBuffer) << std::hex << limits.code;
    EXPECT_EQ(r.bytesReturned, 0u);
  }
  // Rows whose output holds a port count need a buffer even for count 0.
  for (std::uint32_t code : {IOCTL_DIO_READ_DI_PORTS, IOCTL_DIO_GET_CURRENT_DO_PORTS}) {
    const Reply r = Send(ctx.get(), code, Bytes().U32(0).U32(0).get(), 0);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.error, kBadBuffer);
  }
  EXPECT_TRUE(board.Accesses().empty());
}

TEST_F(DispatcherTest, ExamplesOfTheBufferChecks) {
  board.SetRead(0x26, 0x42, 1);
  Reply r = Send(ctx.get(), IOCTL_PORT_READ_BYTE, Bytes().U32(0x26).get(), 1);
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.bytesReturned, 1u);
  EXPECT_EQ(r.out[0], 0x42);
  r = Send(ctx.get(), IOCTL_PORT_READ_BYTE, Bytes().U16(0x26).U8(0).get(), 1);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.error, kBadBuffer);

  r = Send(ctx.get(), IOCTL_PROPERTY_GET, Bytes().U32(0).get(), 2);
  EXPECT_EQ(r.error, kBadBuffer);
  r = Send(ctx.get(), IOCTL_PROPERTY_GET, Bytes().U32(0).get(), 3);
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.bytesReturned, 3u);

  board.ClearAccesses();
  r = Send(ctx.get(), IOCTL_DIO_WRITE_DO_PORTS, Bytes().U32(0).U32(0).get(), 0);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.error, kBadBuffer) << "8 bytes are too short even for a count of 0";
  EXPECT_TRUE(board.Accesses().empty());
}

TEST_F(DispatcherTest, LatestEventIsCutToTheOutputLength) {
  ASSERT_EQ(Send(ctx.get(), IOCTL_DIO_SET_EVENT_DI_PORTS, Bytes().U32(6).U32(0).U32(3).get(), 0).result, 1);
  ctx->diEventPorts[6].snapshot[0].store(0x61);
  ctx->diEventPorts[6].snapshot[1].store(0x62);
  Reply r = Send(ctx.get(), IOCTL_DIO_GET_EVENT_DI_PORTS, Bytes().U32(6).get(), 1);
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.bytesReturned, 1u);
  EXPECT_EQ(r.out, (std::vector<std::uint8_t>{0x61}));
}

TEST_F(DispatcherTest, MissingBytesReturnedIsRefused) {
  const std::vector<std::uint8_t> in = Bytes().U32(0x26).get();
  std::uint8_t out[1] = {0xEE};
  platform::SetLastError(0);
  EXPECT_EQ(driver::Dispatch(ctx.get(), IOCTL_PORT_READ_BYTE, in.data(), 4, out, 1, nullptr), 0);
  EXPECT_EQ(platform::GetLastError(), kBadBuffer);
  EXPECT_EQ(out[0], 0xEE);
  EXPECT_TRUE(board.Accesses().empty());
}

TEST_F(DispatcherTest, FailingHandlerSetsItsOwnCode) {
  Reply r = Send(ctx.get(), IOCTL_DIO_SET_EVENT_DI_PORTS, Bytes().U32(24).U32(0).U32(1).get(), 0);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.error, 0x20000068u);
  EXPECT_EQ(ctx->lastError.load(), 0x68u);
  r = Send(ctx.get(), IOCTL_DIO_GET_EVENT_DI_PORTS, Bytes().U32(0xFFFFFFFF).get(), 4);
  EXPECT_EQ(r.error, 0x20000068u);
  EXPECT_EQ(r.bytesReturned, 0u);
}

TEST_F(DispatcherTest, EventSourceAbove25SetsAFreshError) {
  platform::SetLastError(0x20000040);
  ctx->lastError.store(0x40);
  std::uint32_t returned = 5;
  const auto in = EventEnable(1, 26, 1).get();
  EXPECT_EQ(driver::Dispatch(ctx.get(), IOCTL_EVENT_ENABLE, in.data(), 16, nullptr, 0, &returned), 0);
  EXPECT_EQ(platform::GetLastError(), kBadBuffer);
  EXPECT_EQ(ctx->lastError.load(), 0x0Au);
  EXPECT_EQ(returned, 0u);
  EXPECT_EQ(ctx->eventEnableMask.load(), 0u);
  EXPECT_TRUE(board.Accesses().empty());
}

}  // namespace
}  // namespace qio::test
