// DIO, direction and raw-port calls as the driver receives them: the checks
// in their order (nothing sent when one fails), the request records byte for
// byte, the read-modify-write of the masked writers and the valid masks.
#include <gtest/gtest.h>

#include "RecorderFixture.h"
#include "qio/protocol/ioctl.h"

namespace qio::library::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
using protocol::IOCTL_DIO_GET_CURRENT_DO_PORTS;
using protocol::IOCTL_DIO_READ_DI_PORTS;
using protocol::IOCTL_DIO_WRITE_DO_PORTS;

constexpr std::uint32_t kRange = kRecorderBase + ZQS_LOW_RANGE;
constexpr std::uint32_t kArgument = kRecorderBase + ZQS_LOW_ARGUMENT;

// A port request {start, count}: 8 bytes.
Bytes PortsRecord(std::uint8_t start, std::uint8_t count) { return {start, 0, 0, 0, count, 0, 0, 0}; }

class DioRequestTest : public RecorderTest {
 protected:
  void Respond(std::uint32_t code, Bytes bytes) {
    rec_set_response(code, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  }
};

TEST_F(DioRequestTest, ReadDiPortsChecksTheRangeBeforeSending) {
  std::uint8_t buffer[4] = {};
  EXPECT_EQ(DioReadDiPorts(handle_, 1, 3, buffer), kRange);
  EXPECT_EQ(DioReadDiPorts(handle_, 3, 0, buffer), kRange);
  EXPECT_EQ(DioReadDiPorts(handle_, 1, 0xFFFFFFFFu, buffer), kRange);  // no wrap-around past the check
  EXPECT_EQ(DioReadDiPorts(handle_, 0, 3, nullptr), kArgument);
  EXPECT_EQ(rec_count(), 0u);

  Respond(IOCTL_DIO_READ_DI_PORTS, {0x11, 0x22, 0x33});
  ASSERT_EQ(DioReadDiPorts(handle_, 0, 3, buffer), ZQS_SUCCESS);
  const RecRequest r = OnlyRequest();
  EXPECT_EQ(r.code, IOCTL_DIO_READ_DI_PORTS);
  EXPECT_EQ(InputOf(r), PortsRecord(0, 3));
  EXPECT_EQ(r.outLength, 3u);
  EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{0x11, 0x22, 0x33, 0}));
}

TEST_F(DioRequestTest, ReadPortByteWritesExactlyOneByte) {
  Respond(IOCTL_DIO_READ_DI_PORTS, {0x5A});
  std::uint32_t variable = 0xFFFFFFFF;
  ASSERT_EQ(DioReadPortByte(handle_, 2, reinterpret_cast<std::uint8_t*>(&variable)), ZQS_SUCCESS);
  EXPECT_EQ(variable, 0xFFFFFF5Au);
  EXPECT_EQ(InputOf(OnlyRequest()), PortsRecord(2, 1));
  rec_clear();
  EXPECT_EQ(DioReadPortByte(handle_, 3, reinterpret_cast<std::uint8_t*>(&variable)), kRange);
  EXPECT_EQ(DioReadPortByte(handle_, 0, nullptr), kArgument);
  EXPECT_EQ(rec_count(), 0u);
}

TEST_F(DioRequestTest, WordReadsCoverTheRemainingPortsWithTheirValidMask) {
  Respond(IOCTL_DIO_READ_DI_PORTS, {0x5A, 0xA5});
  std::uint16_t mask = 0, value = 0xAB00;
  ASSERT_EQ(DioReadPortWord(handle_, 2, &mask, &value), ZQS_SUCCESS);
  EXPECT_EQ(InputOf(OnlyRequest()), PortsRecord(2, 1));
  EXPECT_EQ(mask, 0x00FF);
  EXPECT_EQ(value, 0xAB5A);  // one byte written, the other left

  rec_clear();
  ASSERT_EQ(DioReadPortWord(handle_, 1, &mask, &value), ZQS_SUCCESS);
  EXPECT_EQ(InputOf(OnlyRequest()), PortsRecord(1, 2));
  EXPECT_EQ(mask, 0xFFFF);
  EXPECT_EQ(value, 0xA55A);

  rec_clear();
  EXPECT_EQ(DioReadPortWord(handle_, 3, &mask, &value), kRange);
  EXPECT_EQ(rec_count(), 0u);
  ASSERT_EQ(DioReadPortWord(handle_, 0, nullptr, &value), ZQS_SUCCESS);  // the mask is optional
}

TEST_F(DioRequestTest, DwordReadOfPortAReadsThreePorts) {
  Respond(IOCTL_DIO_READ_DI_PORTS, {1, 2, 3});
  std::uint32_t mask = 0, value = 0xEE000000;
  ASSERT_EQ(DioReadPortDword(handle_, 0, &mask, &value), ZQS_SUCCESS);
  EXPECT_EQ(InputOf(OnlyRequest()), PortsRecord(0, 3));
  EXPECT_EQ(mask, 0x00FFFFFFu);
  EXPECT_EQ(value, 0xEE030201u);
}

TEST_F(DioRequestTest, ValidMaskIsStoredEvenWhenTheReadFails) {
  rec_fail(IOCTL_DIO_GET_CURRENT_DO_PORTS, 0x2000000A);
  std::uint32_t mask = 0, value = 7;
  EXPECT_EQ(DioGetCurrentDODword(handle_, 1, &mask, &value), kRecorderBase + 0x0Au);
  EXPECT_EQ(mask, 0x0000FFFFu);
  EXPECT_EQ(value, 7u);
}

TEST_F(DioRequestTest, ReadBitChecksTheBitFirstAndShiftsTheByte) {
  std::uint16_t value = 0xFFFF;
  EXPECT_EQ(DioReadBit(handle_, 5, 8, &value), kArgument);  // bit before port
  EXPECT_EQ(DioReadBit(handle_, 5, 7, &value), kRange);
  EXPECT_EQ(DioGetCurrentDOBit(handle_, 0, 9, &value), kArgument);
  EXPECT_EQ(rec_count(), 0u);
  Respond(IOCTL_DIO_READ_DI_PORTS, {0x08});
  ASSERT_EQ(DioReadBit(handle_, 1, 3, &value), ZQS_SUCCESS);
  EXPECT_EQ(value, 1);
  ASSERT_EQ(DioReadBit(handle_, 1, 4, &value), ZQS_SUCCESS);
  EXPECT_EQ(value, 0);
}

TEST_F(DioRequestTest, ReadBackCallsAskForTheOutputRecord) {
  Respond(IOCTL_DIO_GET_CURRENT_DO_PORTS, {0x5A, 0x01});
  std::uint8_t byte = 0;
  ASSERT_EQ(DioGetCurrentDOByte(handle_, 1, &byte), ZQS_SUCCESS);
  EXPECT_EQ(byte, 0x5A);
  std::uint16_t mask = 0, word = 0;
  ASSERT_EQ(DioGetCurrentDOWord(handle_, 0, &mask, &word), ZQS_SUCCESS);
  EXPECT_EQ(word, 0x015A);
  std::uint8_t ports[3] = {};
  ASSERT_EQ(DioGetCurrentDoPortsState(handle_, 1, 2, ports), ZQS_SUCCESS);
  const std::vector<RecRequest> sent = Requests();
  ASSERT_EQ(sent.size(), 3u);
  for (const RecRequest& r : sent) EXPECT_EQ(r.code, IOCTL_DIO_GET_CURRENT_DO_PORTS);
  EXPECT_EQ(InputOf(sent[0]), PortsRecord(1, 1));
  EXPECT_EQ(InputOf(sent[1]), PortsRecord(0, 2));
  EXPECT_EQ(InputOf(sent[2]), PortsRecord(1, 2));
}

TEST_F(DioRequestTest, WriteDoPortsPacksTheDataIntoItsFourByteField) {
  const std::uint8_t data[3] = {0xA1, 0xB2, 0xC3};
  EXPECT_EQ(DioWriteDoPorts(handle_, 2, 2, data), kRange);
  EXPECT_EQ(DioWriteDoPorts(handle_, 3, 1, data), kRange);
  EXPECT_EQ(DioWriteDoPorts(handle_, 0, 3, nullptr), kArgument);
  EXPECT_EQ(rec_count(), 0u);
  ASSERT_EQ(DioWriteDoPorts(handle_, 1, 2, data), ZQS_SUCCESS);
  const RecRequest r = OnlyRequest();
  EXPECT_EQ(r.code, IOCTL_DIO_WRITE_DO_PORTS);
  EXPECT_EQ(InputOf(r), (Bytes{1, 0, 0, 0, 2, 0, 0, 0, 0xA1, 0xB2, 0, 0}));
  EXPECT_EQ(r.outLength, 0u);
}

TEST_F(DioRequestTest, WritePortByteMergesTheMaskedBitsIntoTheCurrentOutput) {
  Respond(IOCTL_DIO_GET_CURRENT_DO_PORTS, {0x50});
  ASSERT_EQ(DioWritePortByte(handle_, 1, 0x0F, 0xFF), ZQS_SUCCESS);
  const std::vector<RecRequest> sent = Requests();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].code, IOCTL_DIO_GET_CURRENT_DO_PORTS);
  EXPECT_EQ(InputOf(sent[0]), PortsRecord(1, 1));
  EXPECT_EQ(sent[1].code, IOCTL_DIO_WRITE_DO_PORTS);
  EXPECT_EQ(InputOf(sent[1]), (Bytes{1, 0, 0, 0, 1, 0, 0, 0, 0x5F, 0, 0, 0}));
  rec_clear();
  EXPECT_EQ(DioWritePortByte(handle_, 3, 0xFF, 0), kRange);
  EXPECT_EQ(rec_count(), 0u);
}

TEST_F(DioRequestTest, WiderWritersTouchOnlyThePortsThatExist) {
  Respond(IOCTL_DIO_GET_CURRENT_DO_PORTS, {0xAA, 0xBB, 0xCC});
  ASSERT_EQ(DioWritePortDword(handle_, 0, 0x00FF00FF, 0x12345678), ZQS_SUCCESS);
  std::vector<RecRequest> sent = Requests();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(InputOf(sent[0]), PortsRecord(0, 3));
  EXPECT_EQ(InputOf(sent[1]), (Bytes{0, 0, 0, 0, 3, 0, 0, 0, 0x78, 0xBB, 0x34, 0}));

  rec_clear();
  ASSERT_EQ(DioWritePortWord(handle_, 2, 0xFFFF, 0x1234), ZQS_SUCCESS);
  sent = Requests();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(InputOf(sent[0]), PortsRecord(2, 1));
  EXPECT_EQ(InputOf(sent[1]), (Bytes{2, 0, 0, 0, 1, 0, 0, 0, 0x34, 0, 0, 0}));
}

TEST_F(DioRequestTest, FailedReadBackWritesNothing) {
  rec_fail(IOCTL_DIO_GET_CURRENT_DO_PORTS, 0x20000032);
  EXPECT_EQ(DioWritePortWord(handle_, 0, 0xFFFF, 0), 0x4032u);
  EXPECT_EQ(DioWriteBit(handle_, 0, 1, 1), 0x4032u);
  const std::vector<RecRequest> sent = Requests();
  ASSERT_EQ(sent.size(), 2u);
  for (const RecRequest& r : sent) EXPECT_EQ(r.code, IOCTL_DIO_GET_CURRENT_DO_PORTS);
}

TEST_F(DioRequestTest, WriteBitSetsAndClearsOneBit) {
  EXPECT_EQ(DioWriteBit(handle_, 0, 8, 1), kArgument);
  EXPECT_EQ(DioWriteBit(handle_, 3, 0, 1), kRange);
  EXPECT_EQ(rec_count(), 0u);
  Respond(IOCTL_DIO_GET_CURRENT_DO_PORTS, {0x81});
  ASSERT_EQ(DioWriteBit(handle_, 2, 7, 0), ZQS_SUCCESS);
  ASSERT_EQ(DioWriteBit(handle_, 2, 1, 5), ZQS_SUCCESS);
  const std::vector<RecRequest> sent = Requests();
  ASSERT_EQ(sent.size(), 4u);
  EXPECT_EQ(sent[1].in[8], 0x01);
  EXPECT_EQ(sent[3].in[8], 0x83);
}

// ---- directions --------------------------------------------------------------

TEST_F(DioRequestTest, SetPortModeReplacesOneCodeOfTheThree) {
  Respond(protocol::IOCTL_PROPERTY_GET, {0, 1, 4});
  ASSERT_EQ(DioSetPortMode(handle_, 2, ZQS_DIR_LOW_IN_HIGH_OUT), ZQS_SUCCESS);
  const std::vector<RecRequest> sent = Requests();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].code, protocol::IOCTL_PROPERTY_GET);
  EXPECT_EQ(InputOf(sent[0]), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(sent[0].outLength, 3u);
  EXPECT_EQ(sent[1].code, protocol::IOCTL_PROPERTY_SET);
  EXPECT_EQ(InputOf(sent[1]), (Bytes{0, 0, 0, 0, 0, 1, 3, 0}));
}

TEST_F(DioRequestTest, DirectionCodesAreCheckedPerPort) {
  EXPECT_EQ(DioSetPortMode(handle_, 0, 3), kArgument);
  EXPECT_EQ(DioSetPortMode(handle_, 1, 4), kArgument);
  for (std::uint16_t port = 0; port < 3; ++port) EXPECT_EQ(DioSetPortMode(handle_, port, 2), kArgument);
  EXPECT_EQ(DioSetPortMode(handle_, 2, 5), kArgument);
  EXPECT_EQ(DioSetPortMode(handle_, 3, 0), kRange);  // the port comes first
  EXPECT_EQ(rec_count(), 0u);
  EXPECT_EQ(DioSetPortMode(handle_, 2, 4), ZQS_SUCCESS);
  EXPECT_EQ(DioSetPortMode(handle_, 0, 1), ZQS_SUCCESS);
}

TEST_F(DioRequestTest, GetConfigFillsAtMostOneCodePerPort) {
  Respond(protocol::IOCTL_PROPERTY_GET, {1, 0, 3});
  std::uint16_t codes[5] = {9, 9, 9, 9, 9};
  ASSERT_EQ(DioGetConfig(handle_, codes, 5), ZQS_SUCCESS);
  EXPECT_EQ(codes[0], 1);
  EXPECT_EQ(codes[1], 0);
  EXPECT_EQ(codes[2], 3);
  EXPECT_EQ(codes[3], 9);
  EXPECT_EQ(DioGetConfig(handle_, nullptr, 2), kArgument);
  rec_fail(protocol::IOCTL_PROPERTY_GET, 0x2000000A);
  codes[0] = 7;
  EXPECT_EQ(DioGetConfig(handle_, codes, 1), kRecorderBase + 0x0Au);
  EXPECT_EQ(codes[0], 7);
}

// ---- raw registers (window 0x300, 16 ports) ------------------------------------

TEST_F(DioRequestTest, RawWindowBoundIsTheLibrarysOwnBeforeTheDrivers) {
  std::uint16_t value = 0xBEEF;
  EXPECT_EQ(ReadPortByte(handle_, 0x2FF, &value), ZQS_ERROR_PORT_WINDOW);  // below the base: wraps high
  EXPECT_EQ(ReadPortByte(handle_, 0x311, &value), ZQS_ERROR_PORT_WINDOW);
  EXPECT_EQ(WritePortDword(handle_, 0x400, 1), ZQS_ERROR_PORT_WINDOW);
  EXPECT_EQ(rec_count(), 0u);
  EXPECT_EQ(value, 0xBEEF);
  rec_set_response(protocol::IOCTL_PORT_READ_BYTE, "\xFE", 1);
  ASSERT_EQ(ReadPortByte(handle_, 0x310, &value), ZQS_SUCCESS);  // equal to the count: the driver decides
  const RecRequest r = OnlyRequest();
  EXPECT_EQ(r.code, protocol::IOCTL_PORT_READ_BYTE);
  EXPECT_EQ(InputOf(r), (Bytes{0x10, 0, 0, 0}));
  EXPECT_EQ(r.outLength, 1u);
  EXPECT_EQ(value, 0x00FE);  // zero-extended
}

TEST_F(DioRequestTest, RawWritesCarryOffsetThenValue) {
  ASSERT_EQ(WritePortByte(handle_, 0x301, 0x7E), ZQS_SUCCESS);
  ASSERT_EQ(WritePortWord(handle_, 0x302, 0xBEEF), ZQS_SUCCESS);
  ASSERT_EQ(WritePortDword(handle_, 0x304, 0x01020304), ZQS_SUCCESS);
  const std::vector<RecRequest> sent = Requests();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0].code, protocol::IOCTL_PORT_WRITE_BYTE);
  EXPECT_EQ(InputOf(sent[0]), (Bytes{1, 0, 0, 0, 0x7E}));
  EXPECT_EQ(sent[1].code, protocol::IOCTL_PORT_WRITE_WORD);
  EXPECT_EQ(InputOf(sent[1]), (Bytes{2, 0, 0, 0, 0xEF, 0xBE}));
  EXPECT_EQ(sent[2].code, protocol::IOCTL_PORT_WRITE_DWORD);
  EXPECT_EQ(InputOf(sent[2]), (Bytes{4, 0, 0, 0, 4, 3, 2, 1}));
}

TEST_F(DioRequestTest, RawReadsWriteTheirValueOnlyOnSuccess) {
  rec_set_response(protocol::IOCTL_PORT_READ_DWORD, "\x78\x56\x34\x12", 4);
  std::uint32_t dword = 0;
  ASSERT_EQ(ReadPortDword(handle_, 0x30C, &dword), ZQS_SUCCESS);
  EXPECT_EQ(dword, 0x12345678u);
  EXPECT_EQ(ReadPortWord(handle_, 0x300, nullptr), kArgument);
  rec_fail(protocol::IOCTL_PORT_READ_WORD, 0x20000040);
  std::uint16_t word = 0x1111;
  EXPECT_EQ(ReadPortWord(handle_, 0x30F, &word), kRecorderBase + 0x40u);
  EXPECT_EQ(word, 0x1111);
}

}  // namespace
}  // namespace qio::library::testing
