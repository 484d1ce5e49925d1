// The harness calls beside the boards: the board behind a device number, the
// result codes in words, pin changes listed from the board model, the
// terminal-count outlook, and the boot report on a board key that misses a
// value.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "qio/platform/clock.h"
#include "qio5162/target.h"

namespace {

std::string BoardKey(unsigned index, unsigned ioBase, const char* irqLine) {
  char text[512];
  std::snprintf(text, sizeof text,
                "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S%u]\r\n\"Prefix\"=\"Q62\"\r\n"
                "\"Dll\"=\"Zqs5162s.dll\"\r\n\"Order\"=dword:%08x\r\n\"DeviceIndex\"=dword:%08x\r\n"
                "\"IoBase\"=dword:%08x\r\n\"IoLen\"=dword:00000040\r\n%s"
                "\"TimerClock\"=dword:00000014\r\n\"DigPortCfg\"=hex:00,00,00\r\n",
                index, index, index, ioBase, irqLine);
  return text;
}

std::string Report(QioTarget* target) {
  size_t needed = 0;
  qio_target_boot_report(target, nullptr, 0, &needed);
  std::vector<char> buffer(needed + 1);
  if (qio_target_boot_report(target, buffer.data(), buffer.size(), nullptr) != QIO_TARGET_OK) return "(failed)";
  return buffer.data();
}

class DeviceHarnessTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (QioTarget* target = qio_target_current()) {
      EXPECT_EQ(qio_target_shutdown(target), QIO_TARGET_OK) << qio_target_last_message();
    }
  }
  QioTarget* Boot(const char* text, unsigned flags) {
    QioTarget* target = nullptr;
    EXPECT_EQ(qio_target_boot_ex(text, flags, &target), QIO_TARGET_OK) << qio_target_last_message();
    return target;
  }
};

TEST(ResultTextTest, PlainAndDeviceCodes) {
  EXPECT_STREQ(qio_target_result_text(0), "success");
  EXPECT_STREQ(qio_target_result_text(2), "no complete registry configuration for the device, or not this board");
  EXPECT_STREQ(qio_target_result_text(3), "invalid driver handle");
  EXPECT_STREQ(qio_target_result_text(10), "port address outside the board's port window");
  EXPECT_STREQ(qio_target_result_text(27), "function number not known to DriverProc");
  // The low code carries the meaning, whatever the device.
  EXPECT_STREQ(qio_target_result_text(0x1032), "counter busy");
  EXPECT_STREQ(qio_target_result_text(0x2032), "counter busy");
  EXPECT_STREQ(qio_target_result_text(0xFF032), "counter busy");  // device 254
  EXPECT_STREQ(qio_target_result_text(0x100A), "invalid argument");
  EXPECT_STREQ(qio_target_result_text(0x1020), "counter parameter out of range");
  EXPECT_STREQ(qio_target_result_text(0x1065), "not found");
  EXPECT_STREQ(qio_target_result_text(0x1000), "request refused without an error code");
  // Not a code of the library: a generic text, never NULL.
  for (const uint32_t unknown : {1u, 4u, 0xFFFu, 0x1333u, 0x100032u, 0xFFFFFFFFu}) {
    const char* text = qio_target_result_text(unknown);
    ASSERT_NE(text, nullptr) << unknown;
    EXPECT_STREQ(text, "unknown result code") << unknown;
  }
}

TEST_F(DeviceHarnessTest, BoardOfDeviceFollowsTheRegisteredBase) {
  const std::string text = BoardKey(0, 0x300, "\"Irq\"=dword:00000005\r\n") +
                           BoardKey(1, 0x340, "\"Irq\"=dword:00000009\r\n");
  QioTarget* target = Boot(text.c_str(), QIO_TARGET_BARE);
  ASSERT_NE(target, nullptr);
  QioSimBoard* board = nullptr;
  ASSERT_EQ(qio_target_board_of_device(target, 1, &board), QIO_TARGET_OK) << qio_target_last_message();
  EXPECT_EQ(board, qio_target_board(target, 0x340));
  ASSERT_EQ(qio_target_board_of_device(target, 0, &board), QIO_TARGET_OK) << qio_target_last_message();
  EXPECT_EQ(board, qio_target_board(target, 0x300));

  board = reinterpret_cast<QioSimBoard*>(&board);
  EXPECT_EQ(qio_target_board_of_device(target, 7, &board), QIO_TARGET_E_DEVICE);
  EXPECT_EQ(board, nullptr);
  EXPECT_NE(std::strstr(qio_target_last_message(), "no device 7 is registered"), nullptr) << qio_target_last_message();
  EXPECT_EQ(qio_target_board_of_device(target, 255, &board), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_target_board_of_device(target, 0, nullptr), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_target_board_of_device(nullptr, 0, &board), QIO_TARGET_E_ARGUMENT);
}

TEST_F(DeviceHarnessTest, DeviceWithoutSimulatedBoard) {
  QioTarget* target = Boot(nullptr, QIO_TARGET_NO_BOARDS);
  ASSERT_NE(target, nullptr);
  QioSimBoard* board = nullptr;
  EXPECT_EQ(qio_target_board_of_device(target, 0, &board), QIO_TARGET_E_DEVICE);
  EXPECT_NE(std::strstr(qio_target_last_message(), "device 0 (base 0x300) has no simulated board"), nullptr)
      << qio_target_last_message();
}

TEST_F(DeviceHarnessTest, BootReportNamesOnlyTheMissingValue) {
  const std::string text = BoardKey(0, 0x300, "");
  QioTarget* target = Boot(text.c_str(), QIO_TARGET_BARE);
  ASSERT_NE(target, nullptr);
  const std::string report = Report(target);
  EXPECT_NE(report.find("no board for Drivers\\BuiltIn\\ZQS5162S0: it has no \"Irq\" dword"), std::string::npos)
      << report;
  EXPECT_EQ(report.find("IoBase"), std::string::npos) << report;
}

class PinHarnessTest : public DeviceHarnessTest {
 protected:
  void SetUp() override {
    target_ = Boot(nullptr, 0);
    ASSERT_NE(target_, nullptr);
    ASSERT_EQ(qio_target_board_of_device(target_, 0, &board_), QIO_TARGET_OK) << qio_target_last_message();
  }
  QioTarget* target_ = nullptr;
  QioSimBoard* board_ = nullptr;
};

TEST_F(PinHarnessTest, ListsAClockInputFromTheModel) {
  const uint64_t before = qio::platform::NowNs();
  ASSERT_EQ(qio_sim_record_pins(board_, 1000), QIO_TARGET_OK);
  const uint64_t start = qio::platform::NowNs();
  QioPinListing listing{};
  // The history starts when it is switched on, not before.
  EXPECT_EQ(qio_sim_list_edges(board_, QIO_SIM_PIN_CLK1, before - 1, before, nullptr, 0, &listing),
            QIO_TARGET_E_STATE);
  ASSERT_EQ(qio_sim_set_counter_input(board_, 1, 1000.0, 50.0), QIO_TARGET_OK);
  const uint64_t set = qio::platform::NowNs();
  // Ten periods from then on: 20 changes, 0.5 ms apart, the first a rise
  // within a few microseconds of the call (the wave starts with a rise).
  std::vector<QioPinChange> changes(32);
  ASSERT_EQ(qio_sim_list_edges(board_, QIO_SIM_PIN_CLK1, start, set + 10'000'000, changes.data(), changes.size(),
                               &listing),
            QIO_TARGET_OK)
      << qio_target_last_message();
  EXPECT_EQ(listing.valueAtFrom, 0u);
  ASSERT_GE(listing.count, 20u);
  EXPECT_EQ(changes[0].value, 1u);
  EXPECT_GE(changes[0].timeNs, start);
  EXPECT_LE(changes[0].timeNs, set);
  for (size_t i = 1; i < listing.count; ++i) {
    EXPECT_EQ(changes[i].timeNs - changes[i - 1].timeNs, 500'000u) << i;
    EXPECT_NE(changes[i].value, changes[i - 1].value) << i;
  }
  const uint64_t from = changes[0].timeNs;
  // Capacity below the changes: the rest is counted.
  ASSERT_EQ(qio_sim_list_edges(board_, QIO_SIM_PIN_CLK1, from, from + 10'000'000, changes.data(), 4, &listing),
            QIO_TARGET_OK);
  EXPECT_EQ(listing.valueAtFrom, 1u);
  EXPECT_EQ(listing.count, 4u);
  EXPECT_EQ(listing.notListed, 16u);
  EXPECT_EQ(listing.firstNotListedNs, from + 2'500'000u);
  // Counting only.
  ASSERT_EQ(qio_sim_list_edges(board_, QIO_SIM_PIN_CLK1, from, from + 10'000'000, nullptr, 0, &listing),
            QIO_TARGET_OK);
  EXPECT_EQ(listing.notListed, 20u);
  // Off again: only the present configuration is known.
  ASSERT_EQ(qio_sim_record_pins(board_, 0), QIO_TARGET_OK);
  EXPECT_EQ(qio_sim_list_edges(board_, QIO_SIM_PIN_CLK1, start, set, nullptr, 0, &listing), QIO_TARGET_E_STATE);
}

TEST_F(PinHarnessTest, RefusesBadArguments) {
  QioPinListing listing{};
  QioPinChange change{};
  EXPECT_EQ(qio_sim_list_edges(board_, QIO_SIM_PIN_COUNT, 0, 1, &change, 1, &listing), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_sim_list_edges(board_, 0, 5, 1, &change, 1, &listing), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_sim_list_edges(board_, 0, 0, 1, nullptr, 1, &listing), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_sim_list_edges(board_, 0, 0, 1, &change, 1, nullptr), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_sim_list_edges(nullptr, 0, 0, 1, &change, 1, &listing), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_sim_record_pins(nullptr, 10), QIO_TARGET_E_ARGUMENT);
  int counting = 0;
  EXPECT_EQ(qio_sim_next_terminal_count(board_, 2, &counting, nullptr), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_sim_next_terminal_count(board_, 0, nullptr, nullptr), QIO_TARGET_E_ARGUMENT);
}

TEST_F(PinHarnessTest, TerminalCountOutlookOfAnIdleAndACountingCounter) {
  int counting = -1;
  uint64_t next = 0;
  ASSERT_EQ(qio_sim_next_terminal_count(board_, 0, &counting, &next), QIO_TARGET_OK);
  EXPECT_EQ(counting, 0);
  EXPECT_EQ(next, UINT64_MAX);
  // Event counting on counter 0, programmed on the bus: mode, load 1, arm.
  ASSERT_EQ(qio_target_port_out(target_, 0x300, 2, 0x0218), QIO_TARGET_OK);
  ASSERT_EQ(qio_target_port_out(target_, 0x302, 2, 1), QIO_TARGET_OK);
  ASSERT_EQ(qio_target_port_out(target_, 0x306, 2, 0x05), QIO_TARGET_OK);
  ASSERT_EQ(qio_target_port_out(target_, 0x320, 1, 0x01), QIO_TARGET_OK);
  ASSERT_EQ(qio_sim_next_terminal_count(board_, 0, &counting, &next), QIO_TARGET_OK);
  EXPECT_EQ(counting, 1);
  EXPECT_EQ(next, UINT64_MAX);  // nothing on CLK0
  ASSERT_EQ(qio_sim_set_counter_input(board_, 0, 1e6, 50.0), QIO_TARGET_OK);
  ASSERT_EQ(qio_sim_next_terminal_count(board_, 0, &counting, &next), QIO_TARGET_OK);
  EXPECT_EQ(counting, 1);
  EXPECT_NE(next, UINT64_MAX);
}

}  // namespace
