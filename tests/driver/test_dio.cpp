// DIO, port directions, the DO shadow and raw register access, against a
// fake board on the port bus.
#include <gtest/gtest.h>

#include "driver/core/Dio.h"
#include "driver_calls.h"
#include "qio/protocol/ioctl.h"

namespace qio::test {
namespace {

using namespace protocol;

constexpr std::uint32_t kBadBuffer = 0x2000000A;

class DioTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(board.mapped()); }

  Reply SetCodes(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    return Send(ctx.get(), IOCTL_PROPERTY_SET, Bytes().U32(0).U8(a).U8(b).U8(c).U8(0).get(), 0);
  }
  std::uint32_t LastDirectionWrite() {
    std::uint32_t value = 0xFFFF;
    for (const PortAccess& a : board.Writes()) {
      if (a.offset == 0x2C) value = a.value;
    }
    return value;
  }

  FakeBoard board{kTestBase};
  std::unique_ptr<driver::DeviceContext> ctx = MakeContext();
};

TEST_F(DioTest, DirectionCodesWriteTheControlByte) {
  struct Case {
    std::uint8_t a, b, c;
    std::uint32_t control;
  };
  for (const Case& c : {Case{0, 1, 3, 0x11}, Case{1, 0, 4, 0x0A}, Case{0, 0, 0, 0x1B}, Case{1, 1, 1, 0x00},
                        Case{2, 2, 2, 0x00}, Case{3, 4, 0, 0x19}}) {
    board.ClearAccesses();
    const Reply r = SetCodes(c.a, c.b, c.c);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.bytesReturned, 0u);
    const auto writes = board.Writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0], (PortAccess{0x2C, 1, true, c.control}))
        << int(c.a) << "," << int(c.b) << "," << int(c.c);
  }
}

TEST_F(DioTest, ConfigurationReadsBackAsCanonicalCodes) {
  ASSERT_EQ(SetCodes(2, 2, 2).result, 1);
  Reply r = Send(ctx.get(), IOCTL_PROPERTY_GET, Bytes().U32(7).get(), 3);
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.bytesReturned, 3u);
  EXPECT_EQ(r.out, (std::vector<std::uint8_t>{1, 1, 1}));

  ASSERT_EQ(SetCodes(0, 1, 3).result, 1);
  r = Send(ctx.get(), IOCTL_PROPERTY_GET, Bytes().U32(0).get(), 3);
  EXPECT_EQ(r.out, (std::vector<std::uint8_t>{0, 1, 3}));
  ASSERT_EQ(SetCodes(1, 0, 4).result, 1);
  r = Send(ctx.get(), IOCTL_PROPERTY_GET, Bytes().U32(0).get(), 3);
  EXPECT_EQ(r.out, (std::vector<std::uint8_t>{1, 0, 4}));
}

TEST_F(DioTest, PropertySetLeavesTheRegistryConfiguration) {
  ctx->portConfig = {1, 1, 1};
  ASSERT_EQ(SetCodes(0, 0, 0).result, 1);
  EXPECT_EQ(ctx->portConfig, (driver::PortCodes{1, 1, 1}));
}

TEST_F(DioTest, UndefinedDirectionCodeIsRefused) {
  const Reply r = SetCodes(0, 5, 0);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.error, kBadBuffer);
  EXPECT_EQ(ctx->lastError.load(), 0x0Au);
  EXPECT_TRUE(board.Accesses().empty());
  // At open an undefined code (from the registry) leaves the lines inputs.
  EXPECT_EQ(driver::DirectionControlByte({9, 9, 9}), 0x1B);
}

TEST_F(DioTest, DoShadowReturnsWhatWasWritten) {
  Reply r = Send(ctx.get(), IOCTL_DIO_WRITE_DO_PORTS, Bytes().U32(1).U32(1).U8(0x5A).Pad(3).get(), 0);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.bytesReturned, 0u);
  EXPECT_EQ(board.Writes(), (std::vector<PortAccess>{{0x28, 1, true, 0x5A}}));

  board.ClearAccesses();
  r = Send(ctx.get(), IOCTL_DIO_GET_CURRENT_DO_PORTS, Bytes().U32(0).U32(3).get(), 3);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.bytesReturned, 3u);
  // Port B reads back 0x5A whatever its direction; A and C were never written.
  EXPECT_EQ(r.out, (std::vector<std::uint8_t>{0x00, 0x5A, 0x00}));
  EXPECT_TRUE(board.Accesses().empty()) << "the read-back never consults the hardware";
}

TEST_F(DioTest, WriteRunGoesToConsecutivePorts) {
  const Reply r =
      Send(ctx.get(), IOCTL_DIO_WRITE_DO_PORTS, Bytes().U32(0).U32(3).U8(0x11).U8(0x22).U8(0x33).U8(0x99).get(), 0);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(board.Writes(), (std::vector<PortAccess>{{0x26, 1, true, 0x11}, {0x28, 1, true, 0x22},
                                                     {0x2A, 1, true, 0x33}}));
}

TEST_F(DioTest, ReadDiPortsReadsTheDataRegisters) {
  board.SetRead(0x26, 0xA1, 1);
  board.SetRead(0x28, 0xB2, 1);
  board.SetRead(0x2A, 0xC3, 1);
  Reply r = Send(ctx.get(), IOCTL_DIO_READ_DI_PORTS, Bytes().U32(1).U32(2).get(), 2);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.bytesReturned, 2u);
  EXPECT_EQ(r.out, (std::vector<std::uint8_t>{0xB2, 0xC3}));

  // Only the low 16 bits of the start port count.
  r = Send(ctx.get(), IOCTL_DIO_READ_DI_PORTS, Bytes().U32(0x00010000).U32(1).get(), 1);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.out, (std::vector<std::uint8_t>{0xA1}));
}

TEST_F(DioTest, ReadOfCountZeroReturnsNothing) {
  const Reply r = Send(ctx.get(), IOCTL_DIO_READ_DI_PORTS, Bytes().U32(0).U32(0).get(), 1);
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.bytesReturned, 0u);
  EXPECT_TRUE(board.Accesses().empty());
}

TEST_F(DioTest, RunsBeyondPortCAreRefusedUntouched) {
  ctx->doShadow[2].store(0x77);
  const struct {
    std::uint32_t code;
    std::vector<std::uint8_t> in;
    std::size_t out;
  } cases[] = {
      {IOCTL_DIO_READ_DI_PORTS, Bytes().U32(2).U32(2).get(), 8},
      {IOCTL_DIO_READ_DI_PORTS, Bytes().U32(0).U32(4).get(), 8},
      {IOCTL_DIO_READ_DI_PORTS, Bytes().U32(3).U32(1).get(), 8},
      {IOCTL_DIO_READ_DI_PORTS, Bytes().U32(0).U32(0xFFFFFFFF).get(), 8},
      {IOCTL_DIO_GET_CURRENT_DO_PORTS, Bytes().U32(1).U32(3).get(), 8},
      {IOCTL_DIO_WRITE_DO_PORTS, Bytes().U32(2).U32(2).U32(0x01010101).get(), 0},
      {IOCTL_DIO_WRITE_DO_PORTS, Bytes().U32(0).U32(5).U32(0x01010101).get(), 0},
      // Output shorter than the count.
      {IOCTL_DIO_READ_DI_PORTS, Bytes().U32(0).U32(3).get(), 2},
      {IOCTL_DIO_GET_CURRENT_DO_PORTS, Bytes().U32(0).U32(2).get(), 1},
  };
  for (const auto& c : cases) {
    const Reply r = Send(ctx.get(), c.code, c.in, c.out);
    EXPECT_EQ(r.result, 0) << std::hex << c.code;
    EXPECT_EQ(r.error, kBadBuffer);
    EXPECT_EQ(r.bytesReturned, 0u);
    for (std::size_t k = 0; k < c.out; ++k) EXPECT_EQ(r.out[k], 0xEE) << "output byte " << k << " touched";
  }
  EXPECT_TRUE(board.Accesses().empty());
  EXPECT_EQ(ctx->doShadow[2].load(), 0x77);
}

TEST_F(DioTest, RawAccessIsBoundedByThePortWindow) {
  board.SetRead(0x3E, 0x5C, 1);
  Reply r = Send(ctx.get(), IOCTL_PORT_READ_BYTE, Bytes().U32(0x3E).get(), 1);
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.bytesReturned, 1u);
  EXPECT_EQ(r.out[0], 0x5C);

  board.ClearAccesses();
  for (const auto& [code, offset, out] : {std::tuple{IOCTL_PORT_READ_BYTE, 0x3Fu, 1u},
                                          std::tuple{IOCTL_PORT_READ_WORD, 0x3Eu, 2u},
                                          std::tuple{IOCTL_PORT_READ_DWORD, 0x3Cu, 4u},
                                          std::tuple{IOCTL_PORT_READ_BYTE, 0xFFFFFFFFu, 1u}}) {
    r = Send(ctx.get(), code, Bytes().U32(offset).get(), out);
    EXPECT_EQ(r.result, 0) << std::hex << offset;
    EXPECT_EQ(r.error, 0x20000040u);
    EXPECT_EQ(r.bytesReturned, 0u);
    EXPECT_EQ(ctx->lastError.load(), 0x40u);
    EXPECT_EQ(r.out[0], 0xEE);
  }
  r = Send(ctx.get(), IOCTL_PORT_WRITE_BYTE, Bytes().U32(0x3F).U8(1).get(), 0);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.error, 0x20000040u);
  EXPECT_TRUE(board.Accesses().empty());
}

TEST_F(DioTest, RawAccessReachesAnyRegisterInTheWindow) {
  board.SetRead(0x38, 0x11223344, 4);
  Reply r = Send(ctx.get(), IOCTL_PORT_READ_DWORD, Bytes().U32(0x38).get(), 4);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.bytesReturned, 4u);
  EXPECT_EQ(r.out, (std::vector<std::uint8_t>{0x44, 0x33, 0x22, 0x11}));
  r = Send(ctx.get(), IOCTL_PORT_READ_WORD, Bytes().U32(0x3A).get(), 2);
  EXPECT_EQ(r.out, (std::vector<std::uint8_t>{0x22, 0x11}));

  board.ClearAccesses();
  r = Send(ctx.get(), IOCTL_PORT_WRITE_WORD, Bytes().U32(0x22).U16(0x001C).get(), 6);
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.bytesReturned, 6u) << "raw writes return the output length given";
  r = Send(ctx.get(), IOCTL_PORT_WRITE_DWORD, Bytes().U32(0x00).U32(0xCAFEF00D).get(), 0);
  EXPECT_EQ(r.result, 1);
  r = Send(ctx.get(), IOCTL_PORT_WRITE_BYTE, Bytes().U32(0x24).U8(0).get(), 0);
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(board.Writes(), (std::vector<PortAccess>{{0x22, 2, true, 0x001C},
                                                     {0x00, 4, true, 0xCAFEF00D},
                                                     {0x24, 1, true, 0x00}}));
}

TEST_F(DioTest, PortNumbersWrapAtSixteenBits) {
  FakeBoard low{0x0000};
  ASSERT_TRUE(low.mapped());
  ctx->ioBase = 0xFFF0;  // data register of port A: 0xFFF0 + 0x26 -> 0x0016
  ASSERT_EQ(Send(ctx.get(), IOCTL_DIO_WRITE_DO_PORTS, Bytes().U32(0).U32(1).U32(0x3C).get(), 0).result, 1);
  EXPECT_EQ(low.Writes(), (std::vector<PortAccess>{{0x16, 1, true, 0x3C}}));
}

}  // namespace
}  // namespace qio::test
