// Simulated boards in the hosted target: plugged from the registry or by
// hand, reached on the port bus, refused where their ports are taken, and
// unusable (not dangerous) after shutdown.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qio5162/target.h"

namespace {

std::string BoardKey(const std::string& name, const std::string& dll, unsigned ioBase, unsigned irq) {
  char values[128];
  std::snprintf(values, sizeof values, "\"IoBase\"=dword:%08x\r\n\"Irq\"=dword:%08x\r\n", ioBase, irq);
  return "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\" + name + "]\r\n\"Dll\"=\"" + dll +
         "\"\r\n\"Prefix\"=\"Q62\"\r\n" + values;
}

std::string Report(QioTarget* target) {
  size_t needed = 0;
  qio_target_boot_report(target, nullptr, 0, &needed);
  std::vector<char> buffer(needed + 1);
  if (qio_target_boot_report(target, buffer.data(), buffer.size(), nullptr) != QIO_TARGET_OK) return "(failed)";
  return buffer.data();
}

class BoardTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (QioTarget* target = qio_target_current()) {
      EXPECT_EQ(qio_target_shutdown(target), QIO_TARGET_OK) << qio_target_last_message();
    }
  }

  QioTarget* Boot(const std::string& text, unsigned flags) {
    QioTarget* target = nullptr;
    EXPECT_EQ(qio_target_boot_ex(text.c_str(), flags, &target), QIO_TARGET_OK) << qio_target_last_message();
    return target;
  }
};


constexpr uint16_t kBase = 0x300;
constexpr uint16_t kDirection = 0x2C;
constexpr uint16_t kPortA = 0x26;
constexpr uint8_t kAllInputs = 0x1B;  // port A, B, C low and C high as inputs

TEST_F(BoardTest, ConfiguredBoardsArePluggedOncePerBase) {
  QioTarget* target = Boot(BoardKey("ZQS5162S0", "Zqs5162s.dll", 0x300, 5) +
                               BoardKey("ZQS5162S1", "\\Windows\\ZQS5162S.DLL", 0x300, 5) +
                               BoardKey("ZQS5162S2", "Zqs5162S.dll", 0x280, 7) +
                               BoardKey("OTHER0", "Other.dll", 0x200, 3),
                           QIO_TARGET_BARE);
  ASSERT_NE(target, nullptr);
  const std::string report = Report(target);
  EXPECT_NE(report.find("board at 0x300 IRQ 5 for Drivers\\BuiltIn\\ZQS5162S0"), std::string::npos) << report;
  EXPECT_NE(report.find("no second board for Drivers\\BuiltIn\\ZQS5162S1: the board at 0x300 serves "
                        "Drivers\\BuiltIn\\ZQS5162S0"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("board at 0x280 IRQ 7 for Drivers\\BuiltIn\\ZQS5162S2"), std::string::npos) << report;
  EXPECT_NE(qio_target_board(target, 0x300), nullptr);
  EXPECT_NE(qio_target_board(target, 0x280), nullptr);
  EXPECT_EQ(qio_target_board(target, 0x200), nullptr);  // not the board's driver
}

TEST_F(BoardTest, NoBoardsFlagPlugsNone) {
  QioTarget* target = Boot(BoardKey("ZQS5162S0", "Zqs5162s.dll", 0x300, 5), QIO_TARGET_BARE | QIO_TARGET_NO_BOARDS);
  EXPECT_EQ(qio_target_board(target, 0x300), nullptr);
  EXPECT_EQ(qio_target_port_in(target, kBase + kDirection, 1), 0xFFu);
}

TEST_F(BoardTest, BadOrOverlappingPlugsAreRefused) {
  QioTarget* target = Boot("", QIO_TARGET_BARE | QIO_TARGET_NO_BOARDS);
  QioSimBoard* board = nullptr;
  ASSERT_EQ(qio_target_plug_board(target, kBase, 5, &board), QIO_TARGET_OK) << qio_target_last_message();
  EXPECT_EQ(qio_target_board(target, kBase), board);
  QioSimBoard* other = nullptr;
  EXPECT_EQ(qio_target_plug_board(target, kBase, 7, &other), QIO_TARGET_E_BUS);
  EXPECT_EQ(qio_target_plug_board(target, 0x320, 7, &other), QIO_TARGET_E_BUS);  // overlaps 0x300-0x33F
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(qio_target_plug_board(target, 0x2C0, 16, &other), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_target_plug_board(target, 0xFFF0, 7, &other), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_target_plug_board(target, 0x340, 7, &other), QIO_TARGET_OK);  // just after the first
  EXPECT_EQ(qio_target_plug_board(nullptr, 0x380, 7, &other), QIO_TARGET_E_ARGUMENT);
}

TEST_F(BoardTest, PortsReachThePluggedBoardAndItsTrace) {
  QioTarget* target = Boot("", QIO_TARGET_BARE | QIO_TARGET_NO_BOARDS);
  QioSimBoard* board = nullptr;
  ASSERT_EQ(qio_target_plug_board(target, kBase, 5, &board), QIO_TARGET_OK);
  ASSERT_EQ(qio_sim_trace_enable(board, 1), QIO_TARGET_OK);
  EXPECT_EQ(qio_target_port_out(target, kBase + kDirection, 1, 0xFF), QIO_TARGET_OK);
  EXPECT_EQ(qio_target_port_in(target, kBase + kDirection, 1), kAllInputs);
  ASSERT_EQ(qio_sim_set_di(board, 0, 0xA5), QIO_TARGET_OK);
  EXPECT_EQ(qio_target_port_in(target, kBase + kPortA, 1), 0xA5u);
  uint8_t levels = 0;
  EXPECT_EQ(qio_sim_get_pins(board, 0, &levels), QIO_TARGET_OK);
  EXPECT_EQ(levels, 0xA5);

  QioPortAccess trace[8] = {};
  size_t count = 0;
  ASSERT_EQ(qio_sim_trace_read(board, trace, 8, &count), QIO_TARGET_OK);
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(trace[0].offset, kDirection);
  EXPECT_EQ(trace[0].isWrite, 1);
  EXPECT_EQ(trace[0].value, 0xFFu);
  EXPECT_EQ(trace[1].isWrite, 0);
  EXPECT_EQ(trace[2].offset, kPortA);
  EXPECT_EQ(trace[2].value, 0xA5u);
  EXPECT_LE(trace[0].timeNs, trace[2].timeNs);
}

TEST_F(BoardTest, BoardsAreGoneAfterShutdown) {
  QioTarget* target = Boot("", QIO_TARGET_BARE | QIO_TARGET_NO_BOARDS);
  QioSimBoard* board = nullptr;
  ASSERT_EQ(qio_target_plug_board(target, kBase, 5, &board), QIO_TARGET_OK);
  ASSERT_EQ(qio_target_shutdown(target), QIO_TARGET_OK) << qio_target_last_message();
  uint8_t levels = 0;
  EXPECT_EQ(qio_sim_set_di(board, 0, 0xFF), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_sim_get_pins(board, 0, &levels), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_sim_trace_enable(board, 1), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_sim_set_counter_input(nullptr, 0, 1000.0, 50.0), QIO_TARGET_E_ARGUMENT);
  // A new target starts with an empty bus.
  target = Boot("", QIO_TARGET_BARE | QIO_TARGET_NO_BOARDS);
  EXPECT_EQ(qio_target_port_in(target, kBase + kDirection, 1), 0xFFu);
  EXPECT_EQ(qio_target_board(target, kBase), nullptr);
}

TEST_F(BoardTest, BoardsOfEarlierBootsStayRefusedAfterLaterBoots) {
  // A board pointer kept from a target shut down earlier must not drive the
  // board plugged since, whatever address the new one got.
  std::vector<QioSimBoard*> earlier;
  for (int boot = 0; boot < 16; ++boot) {
    QioTarget* target = Boot("", 0);
    QioSimBoard* board = qio_target_board(target, kBase);
    ASSERT_NE(board, nullptr);
    for (QioSimBoard* old : earlier) {
      EXPECT_EQ(qio_sim_set_di(old, 0, 0x5A), QIO_TARGET_E_ARGUMENT) << "boot " << boot;
    }
    uint8_t levels = 0;
    ASSERT_EQ(qio_sim_get_pins(board, 0, &levels), QIO_TARGET_OK);
    EXPECT_NE(levels, 0x5A) << "boot " << boot << ": an earlier board's pointer drove this board";
    ASSERT_EQ(qio_target_shutdown(target), QIO_TARGET_OK) << qio_target_last_message();
    earlier.push_back(board);
  }
}

TEST_F(BoardTest, PinArgumentsAreCheckedBeforeTheModel) {
  QioTarget* target = Boot("", QIO_TARGET_BARE | QIO_TARGET_NO_BOARDS);
  QioSimBoard* board = nullptr;
  ASSERT_EQ(qio_target_plug_board(target, kBase, 5, &board), QIO_TARGET_OK);
  uint8_t levels = 0;
  double hz = 0;
  double high = 0;
  int level = 0;
  EXPECT_EQ(qio_sim_set_counter_input(board, 2, 1000.0, 50.0), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_sim_set_counter_input(board, 0, 1000.0, 0.0), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_sim_set_counter_input(board, 0, -1.0, 50.0), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_sim_set_counter_input_ex(board, 0, 1000.0, 50.0, 1.5), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_sim_set_counter_level(board, 0, 2), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_sim_wire_counter_input(board, 1, 4), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_sim_set_di(board, 3, 0xFF), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_sim_set_di_square(board, 24, 10.0), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_sim_set_loopback(board, 1, 1), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_sim_set_loopback(board, 3, 1), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_sim_get_pins(board, 0, nullptr), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_sim_get_pins(board, 3, &levels), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_sim_get_output(board, 0, &hz, nullptr), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_sim_get_output(board, 2, &hz, &high), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_sim_get_output_level(board, 0, nullptr), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_sim_get_freqout(board, 2, &hz), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_sim_trace_read(board, nullptr, 4, nullptr), QIO_TARGET_E_ARGUMENT);
  // The good forms of the same calls.
  EXPECT_EQ(qio_sim_set_counter_input_ex(board, 0, 1000.0, 50.0, 0.25), QIO_TARGET_OK);
  EXPECT_EQ(qio_sim_set_counter_level(board, 1, 1), QIO_TARGET_OK);
  EXPECT_EQ(qio_sim_wire_counter_input(board, 1, QIO_SIM_WIRE_OUT0), QIO_TARGET_OK);
  EXPECT_EQ(qio_sim_set_di_square(board, 23, 10.0), QIO_TARGET_OK);
  EXPECT_EQ(qio_sim_set_loopback(board, 1, 0), QIO_TARGET_OK);
  EXPECT_EQ(qio_sim_set_loopback(board, -1, 0), QIO_TARGET_OK);
  EXPECT_EQ(qio_sim_get_output(board, 0, &hz, &high), QIO_TARGET_OK);
  EXPECT_EQ(qio_sim_get_output_level(board, 1, &level), QIO_TARGET_OK);
  EXPECT_EQ(level, 0);  // OUT1 of an unprogrammed counter is low
}

TEST_F(BoardTest, ClockGeneratorWrittenOnTheBusShowsOnFreqOut) {
  QioTarget* target = Boot("", QIO_TARGET_BARE | QIO_TARGET_NO_BOARDS);
  QioSimBoard* board = nullptr;
  ASSERT_EQ(qio_target_plug_board(target, kBase, 5, &board), QIO_TARGET_OK);
  double hz = -1;
  ASSERT_EQ(qio_sim_get_freqout(board, 0, &hz), QIO_TARGET_OK);
  EXPECT_EQ(hz, 0.0);
  // Enable, 1 MHz source, divisor 4.
  ASSERT_EQ(qio_target_port_out(target, kBase + 0x38, 2, 0x1403), QIO_TARGET_OK);
  ASSERT_EQ(qio_sim_get_freqout(board, 0, &hz), QIO_TARGET_OK);
  EXPECT_DOUBLE_EQ(hz, 250000.0);
  ASSERT_EQ(qio_sim_get_freqout(board, 1, &hz), QIO_TARGET_OK);
  EXPECT_EQ(hz, 0.0);
}


}  // namespace
