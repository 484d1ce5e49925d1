// The DIO ports: direction, pin levels, DI flags and the interrupt status
// they set, loopback wiring and square waves on DI lines.
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

}  // namespace
}  // namespace qio::sim::test
