// Digital I/O, directions and raw registers end to end on the simulated board.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "BoardFixture.h"

namespace qio::library::testing {
namespace {

constexpr std::uint16_t kPortA = 0x26;
constexpr std::uint16_t kPortB = 0x28;
constexpr std::uint16_t kDirection = 0x2C;

using BoardDioTest = BoardTest;

TEST_F(BoardDioTest, DiPinsReadBackAsPortsWordsAndBits) {
  ASSERT_EQ(qio_sim_set_di(board_, 0, 0xA5), QIO_TARGET_OK);
  ASSERT_EQ(qio_sim_set_di(board_, 1, 0x3C), QIO_TARGET_OK);
  ASSERT_EQ(qio_sim_set_di(board_, 2, 0x81), QIO_TARGET_OK);
  std::uint8_t ports[3] = {};
  ASSERT_EQ(DioReadDiPorts(handle_, 0, 3, ports), ZQS_SUCCESS);
  EXPECT_EQ(ports[0], 0xA5);
  EXPECT_EQ(ports[1], 0x3C);
  EXPECT_EQ(ports[2], 0x81);

  std::uint32_t mask = 0, dword = 0;
  ASSERT_EQ(DioReadPortDword(handle_, 0, &mask, &dword), ZQS_SUCCESS);
  EXPECT_EQ(dword, 0x00813CA5u);
  EXPECT_EQ(mask, 0x00FFFFFFu);
  std::uint16_t wmask = 0, word = 0;
  ASSERT_EQ(DioReadPortWord(handle_, 2, &wmask, &word), ZQS_SUCCESS);
  EXPECT_EQ(word & 0xFF, 0x81);
  EXPECT_EQ(wmask, 0x00FF);
  std::uint16_t bit = 9;
  ASSERT_EQ(DioReadBit(handle_, 2, 7, &bit), ZQS_SUCCESS);
  EXPECT_EQ(bit, 1);
  ASSERT_EQ(DioReadBit(handle_, 2, 6, &bit), ZQS_SUCCESS);
  EXPECT_EQ(bit, 0);
  EXPECT_EQ(DioReadDiPorts(handle_, 1, 3, ports), ZQS_ERROR_BASE(0) + ZQS_LOW_RANGE);
}

TEST_F(BoardDioTest, MaskedWriteIsAReadModifyWriteOfTheOutputLatch) {
  ASSERT_EQ(DioSetPortMode(handle_, 1, ZQS_DIR_OUTPUT), ZQS_SUCCESS);
  const std::uint8_t start = 0x50;
  ASSERT_EQ(DioWriteDoPorts(handle_, 1, 1, &start), ZQS_SUCCESS);
  ASSERT_EQ(qio_sim_trace_enable(board_, 1), QIO_TARGET_OK);
  ASSERT_EQ(DioWritePortByte(handle_, 1, 0x0F, 0xFF), ZQS_SUCCESS);
  const std::vector<QioPortAccess> writes = Writes(kPortB);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].value, 0x5Fu);
  std::uint8_t pins = 0;
  ASSERT_EQ(qio_sim_get_pins(board_, 1, &pins), QIO_TARGET_OK);
  EXPECT_EQ(pins, 0x5F);
  std::uint8_t current = 0;
  ASSERT_EQ(DioGetCurrentDOByte(handle_, 1, &current), ZQS_SUCCESS);
  EXPECT_EQ(current, 0x5F);

  ASSERT_EQ(DioWriteBit(handle_, 1, 7, 1), ZQS_SUCCESS);
  ASSERT_EQ(DioWriteBit(handle_, 1, 0, 0), ZQS_SUCCESS);
  ASSERT_EQ(qio_sim_get_pins(board_, 1, &pins), QIO_TARGET_OK);
  EXPECT_EQ(pins, 0xDE);
}

class BoardDioRealTime : public BoardTest {
 protected:
  unsigned BootFlags() const override { return 0; }
};

// Threads that each own some lines of one port write them at the same time,
// by bit and by masked byte: no thread's line is lost to another's write.
TEST_F(BoardDioRealTime, WritesOfDifferentLinesFromSeveralThreadsAreNotLost) {
  ASSERT_EQ(DioSetPortMode(handle_, 0, ZQS_DIR_OUTPUT), ZQS_SUCCESS);
  const std::uint8_t zero = 0;
  ASSERT_EQ(DioWriteDoPorts(handle_, 0, 1, &zero), ZQS_SUCCESS);
  constexpr int kRounds = 2000;
  std::vector<std::thread> writers;
  for (std::uint16_t bit = 0; bit < 4; ++bit) {
    writers.emplace_back([this, bit] {
      for (int round = 0; round < kRounds; ++round) {
        ASSERT_EQ(DioWriteBit(handle_, 0, bit, round % 2 == 0 ? 1 : 0), ZQS_SUCCESS);
      }
      ASSERT_EQ(DioWriteBit(handle_, 0, bit, 1), ZQS_SUCCESS);
    });
  }
  for (std::uint16_t bit = 4; bit < 8; ++bit) {
    writers.emplace_back([this, bit] {
      const auto mask = static_cast<std::uint16_t>(1u << bit);
      for (int round = 0; round < kRounds; ++round) {
        ASSERT_EQ(DioWritePortByte(handle_, 0, mask, round % 2 == 0 ? 0xFF : 0x00), ZQS_SUCCESS);
      }
      ASSERT_EQ(DioWritePortByte(handle_, 0, mask, 0xFF), ZQS_SUCCESS);
    });
  }
  for (std::thread& writer : writers) writer.join();
  std::uint8_t current = 0;
  ASSERT_EQ(DioGetCurrentDOByte(handle_, 0, &current), ZQS_SUCCESS);
  EXPECT_EQ(current, 0xFF);
  std::uint8_t pins = 0;
  ASSERT_EQ(qio_sim_get_pins(board_, 0, &pins), QIO_TARGET_OK);
  EXPECT_EQ(pins, 0xFF);
}

// Threads that set the modes of different ports at once: no thread's mode is
// undone by another's (each port has one writer, which reads its own mode
// back after every change).
TEST_F(BoardDioRealTime, ModesOfDifferentPortsSetAtOnceAreNotLost) {
  constexpr int kRounds = 1000;
  std::atomic<int> lost{0};
  std::vector<std::thread> setters;
  for (std::uint16_t port = 0; port < 2; ++port) {
    setters.emplace_back([this, port, &lost] {
      for (int round = 0; round < kRounds; ++round) {
        const std::uint16_t mode = round % 2 == 0 ? ZQS_DIR_OUTPUT : ZQS_DIR_INPUT;
        ASSERT_EQ(DioSetPortMode(handle_, port, mode), ZQS_SUCCESS);
        std::uint16_t codes[3] = {};
        ASSERT_EQ(DioGetConfig(handle_, codes, 3), ZQS_SUCCESS);
        if (codes[port] != mode) ++lost;
      }
    });
  }
  for (std::thread& setter : setters) setter.join();
  EXPECT_EQ(lost.load(), 0);
}

TEST_F(BoardDioTest, WideWritesSpanThePortsThatExist) {
  for (std::uint16_t port = 0; port < 3; ++port) ASSERT_EQ(DioSetPortMode(handle_, port, 1), ZQS_SUCCESS);
  ASSERT_EQ(DioWritePortDword(handle_, 0, 0xFFFFFFFF, 0x99332211), ZQS_SUCCESS);
  std::uint32_t mask = 0, value = 0;
  ASSERT_EQ(DioGetCurrentDODword(handle_, 0, &mask, &value), ZQS_SUCCESS);
  EXPECT_EQ(value, 0x00332211u);  // the fourth byte has no port
  EXPECT_EQ(mask, 0x00FFFFFFu);
  ASSERT_EQ(DioWritePortWord(handle_, 1, 0xF00F, 0xAAAA), ZQS_SUCCESS);
  std::uint8_t pins[3] = {};
  for (unsigned p = 0; p < 3; ++p) ASSERT_EQ(qio_sim_get_pins(board_, p, &pins[p]), QIO_TARGET_OK);
  EXPECT_EQ(pins[0], 0x11);
  EXPECT_EQ(pins[1], 0x2A);  // 0x22 with bits 0-3 from 0xA
  EXPECT_EQ(pins[2], 0xA3);  // 0x33 with bits 4-7 from 0xA
}

TEST_F(BoardDioTest, DirectionCodesReachTheDirectionRegister) {
  ASSERT_EQ(qio_sim_trace_enable(board_, 1), QIO_TARGET_OK);
  ASSERT_EQ(DioSetPortMode(handle_, 2, ZQS_DIR_LOW_IN_HIGH_OUT), ZQS_SUCCESS);
  std::vector<QioPortAccess> writes = Writes(kDirection);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].value, 0x13u);  // A input, B input, C lines 0-3 input
  std::uint16_t codes[3] = {9, 9, 9};
  ASSERT_EQ(DioGetConfig(handle_, codes, 3), ZQS_SUCCESS);
  EXPECT_EQ(codes[0], 0);
  EXPECT_EQ(codes[1], 0);
  EXPECT_EQ(codes[2], 3);

  ASSERT_EQ(DioSetPortMode(handle_, 0, ZQS_DIR_OUTPUT), ZQS_SUCCESS);
  ASSERT_EQ(DioSetPortMode(handle_, 2, ZQS_DIR_LOW_OUT_HIGH_IN), ZQS_SUCCESS);
  writes = Writes(kDirection);
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[1].value, 0x0Au);  // codes 1, 0, 4
  EXPECT_EQ(DioSetPortMode(handle_, 0, ZQS_DIR_LOW_OUT_HIGH_IN), ZQS_ERROR_BASE(0) + ZQS_LOW_ARGUMENT);
  EXPECT_TRUE(Writes(kDirection).empty());
}

TEST_F(BoardDioTest, OutputMaskPropertiesFollowTheDirections) {
  ASSERT_EQ(DioSetPortMode(handle_, 1, ZQS_DIR_OUTPUT), ZQS_SUCCESS);
  ASSERT_EQ(DioSetPortMode(handle_, 2, ZQS_DIR_LOW_IN_HIGH_OUT), ZQS_SUCCESS);
  std::uint32_t masks[3] = {};
  std::uint32_t length = sizeof masks;
  ASSERT_EQ(DeviceGetProperty(handle_, ZQS_PROPERTY_DIO_OUTPUT_MASKS, masks, &length), ZQS_SUCCESS);
  EXPECT_EQ(masks[0], 0x00u);
  EXPECT_EQ(masks[1], 0xFFu);
  EXPECT_EQ(masks[2], 0xF0u);

  const std::uint32_t set[3] = {0xFF, 0x00, 0x0F};
  ASSERT_EQ(qio_sim_trace_enable(board_, 1), QIO_TARGET_OK);
  ASSERT_EQ(DeviceSetProperty(handle_, ZQS_PROPERTY_DIO_OUTPUT_MASKS, set, sizeof set), ZQS_SUCCESS);
  const std::vector<QioPortAccess> writes = Writes(kDirection);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].value, 0x0Au);
}

TEST_F(BoardDioTest, RawWindowBoundOfTenAgainstTheDriversOwn) {
  // "IoPortCount" 0x40: the library lets offsets up to 0x40 through; the
  // driver refuses any access that does not end below 0x40.
  std::uint16_t value = 0xBEEF;
  EXPECT_EQ(ReadPortByte(handle_, 0x2FF, &value), ZQS_ERROR_PORT_WINDOW);
  EXPECT_EQ(ReadPortByte(handle_, 0x341, &value), ZQS_ERROR_PORT_WINDOW);
  EXPECT_EQ(ReadPortByte(handle_, 0x340, &value), ZQS_ERROR_BASE(0) + ZQS_LOW_OUTSIDE_WINDOW);
  EXPECT_EQ(ReadPortWord(handle_, 0x33F, &value), ZQS_ERROR_BASE(0) + ZQS_LOW_OUTSIDE_WINDOW);
  EXPECT_EQ(value, 0xBEEF);
  ASSERT_EQ(qio_sim_set_di(board_, 0, 0x6C), QIO_TARGET_OK);
  ASSERT_EQ(ReadPortByte(handle_, kBoardBase + kPortA, &value), ZQS_SUCCESS);
  EXPECT_EQ(value, 0x006C);
}

TEST_F(BoardDioTest, RawWritesReachTheRegisters) {
  ASSERT_EQ(DioSetPortMode(handle_, 1, ZQS_DIR_OUTPUT), ZQS_SUCCESS);
  ASSERT_EQ(qio_sim_trace_enable(board_, 1), QIO_TARGET_OK);
  ASSERT_EQ(WritePortByte(handle_, kBoardBase + kPortB, 0xC3), ZQS_SUCCESS);
  const std::vector<QioPortAccess> writes = Writes(kPortB);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].width, 1);
  EXPECT_EQ(writes[0].value, 0xC3u);
  std::uint8_t pins = 0;
  ASSERT_EQ(qio_sim_get_pins(board_, 1, &pins), QIO_TARGET_OK);
  EXPECT_EQ(pins, 0xC3);
  std::uint32_t dword = 0;
  ASSERT_EQ(ReadPortDword(handle_, kBoardBase + 0x3C, &dword), ZQS_ERROR_BASE(0) + ZQS_LOW_OUTSIDE_WINDOW);
}

}  // namespace
}  // namespace qio::library::testing
