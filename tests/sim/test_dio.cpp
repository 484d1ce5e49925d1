// The DIO ports: direction, pin levels, DI flags and the interrupt status
// they set, loopback wiring and square waves on DI lines.
#include <vector>

#include "core_fixture.h"

namespace qio::sim::test {
namespace {

constexpr std::uint8_t kAllInputs = direction::kAll;
constexpr std::uint16_t kPortAEnable = 0x04;
constexpr std::uint16_t kPortBEnable = 0x08;

class Dio : public CoreTest {
 protected:
  std::uint8_t Data(unsigned port) { return R8(offset::PortData(port)); }
  std::uint8_t Flags(unsigned port) { return R8(offset::DiFlags(port)); }
};

TEST_F(Dio, InputLinesReadWhatIsDriven) {
  EXPECT_EQ(Data(0), 0x00);
  ASSERT_TRUE(core.SetDiLevels(0, 0xA5, now));
  ASSERT_TRUE(core.SetDiLevels(2, 0x3C, now));
  EXPECT_EQ(Data(0), 0xA5);
  EXPECT_EQ(Data(1), 0x00);
  EXPECT_EQ(Data(2), 0x3C);
  EXPECT_EQ(core.Pins(0, now), 0xA5);
}

TEST_F(Dio, OutputLinesReadBackTheLatch) {
  ASSERT_TRUE(core.SetDiLevels(0, 0xFF, now));
  W8(offset::PortData(0), 0x3C);  // latched while the port is an input
  EXPECT_EQ(Data(0), 0xFF);
  W8(offset::kDirectionControl, kAllInputs & ~direction::kPortA);
  EXPECT_EQ(Data(0), 0x3C);
  EXPECT_EQ(core.Pins(0, now), 0x3C);
}

TEST_F(Dio, PortCHalvesHaveTheirOwnDirection) {
  ASSERT_TRUE(core.SetDiLevels(2, 0xFF, now));
  W8(offset::PortData(2), 0x50);
  W8(offset::kDirectionControl, direction::kPortCLow);  // low half in, high half out
  EXPECT_EQ(Data(2), 0x5F);
  W8(offset::kDirectionControl, direction::kPortCHigh);
  EXPECT_EQ(Data(2), 0xF0);
}

TEST_F(Dio, RisingEdgeSetsFlagAndStatusOnlyWhenEnabled) {
  ASSERT_TRUE(core.SetDiLevels(1, 0x01, now));
  EXPECT_EQ(Flags(1), 0);
  EXPECT_EQ(Status(), 0);
  ASSERT_TRUE(core.SetDiLevels(1, 0x00, now));
  Enable(kPortBEnable);
  ASSERT_TRUE(core.SetDiLevels(1, 0x01, now));
  EXPECT_EQ(Flags(1), 0x01);
  EXPECT_EQ(Status(), kPortBEnable);
  EXPECT_EQ(core.TakeInterruptRequests(), 1u);
  ASSERT_TRUE(core.SetDiLevels(1, 0x02, now));  // bit 0 falls, bit 1 rises
  EXPECT_EQ(Flags(1), 0x03);
  EXPECT_EQ(core.TakeInterruptRequests(), 0u);  // the status was already set
  ASSERT_TRUE(core.SetDiLevels(0, 0xFF, now));  // port A is not enabled
  EXPECT_EQ(Flags(0), 0);
  EXPECT_EQ(Status(), kPortBEnable);
  W8(offset::kInterruptClear, 0);
  EXPECT_EQ(Status(), 0);
  EXPECT_EQ(Flags(1), 0);
  ASSERT_TRUE(core.SetDiLevels(1, 0x06, now));
  EXPECT_EQ(Flags(1), 0x04);
  EXPECT_EQ(core.TakeInterruptRequests(), 1u);
}

TEST_F(Dio, OutputLinesRaiseNoFlags) {
  Enable(kPortAEnable);
  W8(offset::kDirectionControl, kAllInputs & ~direction::kPortA);
  W8(offset::PortData(0), 0xFF);
  ASSERT_TRUE(core.SetDiLevels(0, 0xFF, now));
  EXPECT_EQ(Flags(0), 0);
  EXPECT_EQ(Status(), 0);
}

TEST_F(Dio, LoopbackFollowsTheOtherPortsOutputLatch) {
  ASSERT_TRUE(core.SetLoopback(0, 1, now));
  W8(offset::PortData(0), 0x81);
  EXPECT_EQ(Data(1), 0x00);  // port A is still an input: the wire is undriven
  W8(offset::kDirectionControl, kAllInputs & ~direction::kPortA);
  EXPECT_EQ(Data(1), 0x81);
  Enable(kPortBEnable);
  W8(offset::PortData(0), 0x83);
  EXPECT_EQ(Data(1), 0x83);
  EXPECT_EQ(Flags(1), 0x02);
  EXPECT_EQ(Status(), kPortBEnable);
  ASSERT_TRUE(core.SetLoopback(-1, 1, now));
  EXPECT_EQ(Data(1), 0x00);
}

TEST_F(Dio, SquareWaveEdgesRaiseTheStatusOnTime) {
  ASSERT_TRUE(core.SetDiSquare(9, 1000.0, now));  // port B line 1, rising now
  const std::uint64_t start = now;
  Enable(kPortBEnable);
  const auto due = core.NextInterruptTime();
  ASSERT_TRUE(due.has_value());
  EXPECT_EQ(*due, start + 1 * kMs);
  core.Advance(*due - 1);
  EXPECT_EQ(core.TakeInterruptRequests(), 0u);
  core.Advance(*due);
  EXPECT_EQ(core.TakeInterruptRequests(), 1u);
  now = *due + 100;
  EXPECT_EQ(Flags(1), 0x02);
  EXPECT_FALSE(core.NextInterruptTime().has_value());  // status set: nothing due
  W8(offset::kInterruptClear, 0);
  ASSERT_TRUE(core.NextInterruptTime().has_value());
  EXPECT_EQ(*core.NextInterruptTime(), start + 2 * kMs);
  // Half a period later the line is low; stopping the wave holds that level.
  now = start + 2500 * kUs;
  EXPECT_EQ(Data(1), 0x00);
  ASSERT_TRUE(core.SetDiSquare(9, 0.0, now));
  now = start + 10 * kMs;
  EXPECT_EQ(Data(1), 0x00);
}

TEST_F(Dio, PortWritesLeaveACountingBlockExactlyAsWithoutThem) {
  // Two boards with the same counting block 0 (up, repeat, own pin, 1 MHz)
  // and its terminal-count interrupt; only one of them gets port writes.
  BoardCore quiet{now};
  auto both = [&](auto&& action) {
    action(core);
    action(quiet);
  };
  both([&](BoardCore& b) { ASSERT_TRUE(b.SetCounterInput(0, 1e6, 50.0, 0.0, now)); });
  both([&](BoardCore& b) {
    b.Write(offset::ModeRegister(0), 2, 0x0218, now);
    b.Write(offset::LoadRegister(0), 2, 1, now);
    b.Write(offset::CommandRegister(0), 2, command::kLoadAndArm, now);
    b.Write(offset::kInterruptControl, 2, interrupt::TerminalCount(0), now);
    b.Write(offset::kCommandStrobe, 1, command::StrobeMask(0), now);
    b.Write(offset::kDirectionControl, 1, kAllInputs & ~direction::kPortA, now);
  });
  const std::uint64_t armed = now;
  // A write to port A's latch every 7 us for 100 ms, across a terminal count.
  for (std::uint64_t t = armed + 1; t < armed + 100 * kMs; t += 7 * kUs) {
    core.Write(offset::PortData(0), 1, static_cast<std::uint32_t>(t & 0xFF), t);
  }
  const std::uint64_t end = armed + 100 * kMs;
  EXPECT_EQ(core.CountNow(0, end), quiet.CountNow(0, end));
  EXPECT_EQ(core.CountNow(0, end), static_cast<std::uint16_t>(100'000 % 65536));
  EXPECT_EQ(core.TerminalCounts(0, end), quiet.TerminalCounts(0, end));
  EXPECT_EQ(core.TerminalCounts(0, end), 1u);
  // The terminal count at 65 536 us set the status as on the quiet board.
  EXPECT_EQ(core.Read(offset::kInterruptControl, 2, end), quiet.Read(offset::kInterruptControl, 2, end));
  EXPECT_EQ(core.Read(offset::kInterruptControl, 2, end) & interrupt::TerminalCount(0), interrupt::TerminalCount(0));
  EXPECT_EQ(core.TakeInterruptRequests(), quiet.TakeInterruptRequests());
}

TEST_F(Dio, PortWritesWhileThePinHistoryRecordsAreListed) {
  W8(offset::kDirectionControl, kAllInputs & ~direction::kPortA);
  core.StartPinHistory(100, now);
  const std::uint64_t from = now;
  std::vector<PinChange> written;
  for (std::uint8_t v : {std::uint8_t{0x11}, std::uint8_t{0x22}, std::uint8_t{0x44}}) {
    Wait(3 * kUs);
    written.push_back({now, v});
    W8(offset::PortData(0), v);
  }
  const PinListing listing = core.ListPinChanges(Pin::kPortA, from, now + kMs, 10);
  ASSERT_TRUE(listing.known);
  ASSERT_EQ(listing.changes.size(), written.size());
  for (std::size_t i = 0; i < written.size(); ++i) {
    EXPECT_EQ(listing.changes[i].timeNs, written[i].timeNs);
    EXPECT_EQ(listing.changes[i].value, written[i].value);
  }
}

}  // namespace
}  // namespace qio::sim::test
