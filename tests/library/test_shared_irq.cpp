// Two boards configured on one interrupt line: the first to open gets the
// line and its events; the second opens without events. Whatever the second
// does, the first keeps its line: closing the second must not unbind it.
#include <gtest/gtest.h>

#include <string>

#include "BoardFixture.h"

namespace qio::library::testing {
namespace {

class SharedIrqTest : public BoardTest {
 protected:
  std::string ExtraRegistry() const override { return SecondBoardKey(5, "00,00,00"); }

  void ExpectDiEvent(std::uint32_t handle, QioSimBoard* board) {
    ASSERT_EQ(qio_sim_set_di(board, 0, 0x00), QIO_TARGET_OK);
    ASSERT_EQ(EnableEvent(handle, ZQS_EVENT_DI(1), 1, 1), ZQS_SUCCESS);
    ASSERT_EQ(qio_sim_set_di(board, 0, 0x02), QIO_TARGET_OK);
    std::uint16_t type = 0;
    ASSERT_EQ(CheckEvent(handle, &type, 2000), ZQS_SUCCESS);
    EXPECT_EQ(type, ZQS_EVENT_DI(1));
    ASSERT_EQ(qio_sim_set_di(board, 0, 0x00), QIO_TARGET_OK);
  }
};

TEST_F(SharedIrqTest, ClosingTheSecondBoardLeavesTheFirstItsInterrupt) {
  ExpectDiEvent(handle_, board_);
  QioSimBoard* second = qio_target_board(target_, 0x340);
  ASSERT_NE(second, nullptr);
  std::uint32_t other = 0;
  ASSERT_EQ(DeviceOpen(1, &other), ZQS_SUCCESS);
  std::uint8_t value = 0;
  EXPECT_EQ(DioReadPortByte(other, 0, &value), ZQS_SUCCESS);  // usable, without events
  ASSERT_EQ(DeviceClose(&other), ZQS_SUCCESS);
  ExpectDiEvent(handle_, board_);
}

}  // namespace
}  // namespace qio::library::testing
