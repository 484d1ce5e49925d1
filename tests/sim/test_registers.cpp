// The register window: access widths, reserved offsets, commands and the
// strobe, the latch, and the register trace.
#include <cmath>

#include "core_fixture.h"

namespace qio::sim::test {
namespace {

class Registers : public CoreTest {};

TEST_F(Registers, ByteAccessReachesLowAndHighHalves) {
  W16(offset::LoadRegister(2), 0x1234);
  EXPECT_EQ(R8(offset::LoadRegister(2)), 0x34);
  EXPECT_EQ(R8(offset::LoadRegister(2) + 1), 0x12);
  W8(offset::LoadRegister(2) + 1, 0xAB);
  EXPECT_EQ(R16(offset::LoadRegister(2)), 0xAB34);
  W8(offset::LoadRegister(2), 0xCD);
  EXPECT_EQ(R16(offset::LoadRegister(2)), 0xABCD);
}

TEST_F(Registers, DwordIsTwoWordsLowFirst) {
  core.Write(offset::ModeRegister(1), 4, 0x00640218u, now++);
  EXPECT_EQ(R16(offset::ModeRegister(1)), 0x0218);
  EXPECT_EQ(R16(offset::LoadRegister(1)), 0x0064);
  EXPECT_EQ(core.Read(offset::ModeRegister(1), 4, now++), 0x00640218u);
  // Odd offsets split into bytes.
  core.Write(offset::ModeRegister(1) + 1, 2, 0x5502, now++);
  EXPECT_EQ(R16(offset::ModeRegister(1)), 0x0218 | 0x0200);
  EXPECT_EQ(R8(offset::LoadRegister(1)), 0x55);
}

TEST_F(Registers, ReservedOffsetsReadZeroAndIgnoreWrites) {
  for (const unsigned raw : {0x34u, 0x36u, 0x3Cu, 0x3Eu, 0x21u, 0x25u, 0x27u}) {
    const auto off = static_cast<std::uint16_t>(raw);
    core.Write(off, 1, 0xFF, now++);
    EXPECT_EQ(R8(off), 0) << std::hex << off;
  }
  EXPECT_EQ(R16(offset::kCommandStrobe), 0);
  EXPECT_EQ(R16(offset::kInterruptClear), 0);
  Command(0, command::kLoadAndArm);
  EXPECT_EQ(R16(offset::CommandRegister(0)), 0);  // write-only
  EXPECT_EQ(core.Read(0x40, 1, now++), 0xFFu);  // outside the window
}

TEST_F(Registers, DirectionReadsBackItsDefinedBits) {
  EXPECT_EQ(R8(offset::kDirectionControl), direction::kAll);  // power-up: all inputs
  W8(offset::kDirectionControl, 0xFF);
  EXPECT_EQ(R8(offset::kDirectionControl), 0x1B);
  W8(offset::kDirectionControl, 0x0A);
  EXPECT_EQ(R8(offset::kDirectionControl), 0x0A);
}

TEST_F(Registers, GeneratorWordReadsBack) {
  Generator(1, 0x1504);
  EXPECT_EQ(R16(offset::ClockGenerator(1)), 0x1504);
}

class Commands : public CoreTest {
 protected:
  void SetUp() override {
    Mode(0, 0x0010);  // base clock, down, repeat
    Load(0, 1000);
  }
};

TEST_F(Commands, PendingUntilStrobedByTheBlocksBit) {
  Command(0, command::kLoadAndArm);
  Wait(100 * kUs);
  EXPECT_EQ(core.CountNow(0, now), 0);
  Strobe(0x02);  // another block's bit: nothing for block 0
  Wait(100 * kUs);
  EXPECT_EQ(core.CountNow(0, now), 0);
  Strobe(0x01);
  const std::uint64_t armed = now - 1;
  EXPECT_EQ(core.CountNow(0, armed + 10 * 50), 990);
  // Applied once: a later strobe does not reload.
  now = armed + 20 * 50;
  Strobe(0x01);
  EXPECT_EQ(core.CountNow(0, armed + 30 * 50), 970);
}

TEST_F(Commands, OneStrobeAppliesAllAtTheSameInstant) {
  Mode(2, 0x0010);
  Load(2, 1000);
  Command(0, command::kLoadAndArm);
  Command(2, command::kLoadAndArm);
  Strobe(0x05);
  for (std::uint64_t dt : {0ull, 49ull, 50ull, 777ull, 51'234ull, 3'000'001ull}) {
    EXPECT_EQ(core.CountNow(0, now + dt), core.CountNow(2, now + dt)) << dt;
  }
}

TEST_F(Commands, LatchTakesTheCountOnceAndDoesNotDisturbCounting) {
  BoardCore quiet(now);
  quiet.Write(offset::ModeRegister(0), 2, 0x0010, now);
  quiet.Write(offset::LoadRegister(0), 2, 1000, now);
  Command(0, command::kLoadAndArm);
  quiet.Write(offset::CommandRegister(0), 2, command::kLoadAndArm, now);
  Strobe(0x01);
  quiet.Write(offset::kCommandStrobe, 1, 0x01, now - 1);
  const std::uint64_t armed = now - 1;
  std::uint16_t last = 0;
  for (int i = 0; i < 50; ++i) {
    Wait(3'217);
    last = LatchAndRead(0);
    EXPECT_EQ(last, quiet.CountNow(0, now - 2));
  }
  Wait(10 * kMs);
  EXPECT_EQ(R16(offset::HoldRegister(0)), last);  // no new latch without a command
  Strobe(0x01);
  EXPECT_EQ(R16(offset::HoldRegister(0)), last);
  EXPECT_EQ(core.CountNow(0, armed + 5 * kMs), quiet.CountNow(0, armed + 5 * kMs));
  EXPECT_EQ(core.TerminalCounts(0, armed + 5 * kMs), quiet.TerminalCounts(0, armed + 5 * kMs));
}

TEST_F(Commands, ResetClearsAndStops) {
  Mode(0, 0x0016);
  Command(0, command::kLoadAndArm);
  Strobe(0x01);
  Wait(75 * kUs);  // 1500 ticks: one terminal count, output high
  EXPECT_TRUE(core.OutputLevel(0, now));
  EXPECT_EQ(core.CountNow(0, now), 500);
  W8(offset::CommandRegister(0), command::kDisarm);
  W8(offset::CommandRegister(0), command::kReset);
  Strobe(0x01);
  EXPECT_EQ(core.CountNow(0, now), 0);
  EXPECT_FALSE(core.OutputLevel(0, now));
  Wait(10 * kMs);
  EXPECT_EQ(LatchAndRead(0), 0);
}

TEST_F(Commands, DisarmKeepsTheCountAndLoadReloadsWithoutArming) {
  Command(0, command::kLoadAndArm);
  Strobe(0x01);
  Wait(5 * kUs);  // 100 ticks
  Command(0, command::kDisarm);
  Strobe(0x01);
  const std::uint16_t kept = core.CountNow(0, now);
  EXPECT_EQ(kept, 900);
  Wait(10 * kMs);
  EXPECT_EQ(core.CountNow(0, now), kept);
  Load(0, 4321);
  Command(0, command::kLoad);
  Strobe(0x01);
  Wait(10 * kMs);
  EXPECT_EQ(core.CountNow(0, now), 4321);
  Command(0, 0x03);  // not a command: ignored
  Strobe(0x01);
  EXPECT_EQ(core.CountNow(0, now), 4321);
}

TEST_F(Commands, UpCountingArmsAtLoadMinusOne) {
  Mode(0, 0x0018);  // base, up, repeat
  Load(0, 1);
  Command(0, command::kLoadAndArm);
  Strobe(0x01);
  const std::uint64_t armed = now - 1;
  EXPECT_EQ(core.CountNow(0, armed), 0);
  EXPECT_EQ(core.CountNow(0, armed + 50), 1);
  EXPECT_EQ(core.CountNow(0, armed + 65535 * 50), 65535);
  EXPECT_EQ(core.CountNow(0, armed + 65536 * 50), 0);
  EXPECT_EQ(core.TerminalCounts(0, armed + 65536 * 50), 1u);
}

TEST(Trace, RecordsEveryAccessWhenOn) {
  BoardCore core(100);
  core.Write(offset::LoadRegister(0), 2, 7, 200);
  EXPECT_TRUE(core.TakeTrace().empty());
  core.SetTraceEnabled(true);
  core.Write(offset::LoadRegister(0), 2, 0x1234, 300);
  core.Read(offset::LoadRegister(0), 1, 400);
  core.Write(offset::ModeRegister(0), 4, 0xAABBCCDD, 500);
  const auto first = core.TakeTrace(2);
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0].timeNs, 300u);
  EXPECT_EQ(first[0].offset, offset::LoadRegister(0));
  EXPECT_EQ(first[0].width, 2);
  EXPECT_TRUE(first[0].isWrite);
  EXPECT_EQ(first[0].value, 0x1234u);
  EXPECT_FALSE(first[1].isWrite);
  EXPECT_EQ(first[1].value, 0x34u);
  const auto rest = core.TakeTrace();
  ASSERT_EQ(rest.size(), 1u);
  EXPECT_EQ(rest[0].width, 4);
  EXPECT_EQ(rest[0].value, 0xAABBCCDDu);
  EXPECT_TRUE(core.TakeTrace().empty());
}

TEST(Stimulus, RejectsBadArguments) {
  BoardCore core(0);
  EXPECT_FALSE(core.SetCounterInput(2, 1000.0, 50.0, 0.0, 1));
  EXPECT_FALSE(core.SetCounterInput(0, 0.001, 50.0, 0.0, 1));
  EXPECT_FALSE(core.SetCounterInput(0, 1000.0, 0.5, 0.0, 1));
  EXPECT_FALSE(core.SetCounterInput(0, 1000.0, 50.0, 1.0, 1));
  EXPECT_FALSE(core.SetCounterInput(0, -5.0, 50.0, 0.0, 1));
  EXPECT_TRUE(core.SetCounterInput(0, 30e6, 50.0, 0.0, 1));
  EXPECT_TRUE(core.SetCounterInput(0, 0.01, 99.0, 0.5, 1));
  EXPECT_TRUE(core.SetCounterInput(1, 0.0, 50.0, 0.0, 1));  // held low
  EXPECT_FALSE(core.WireCounterInput(1, static_cast<ClockWire>(4), 1));
  EXPECT_FALSE(core.SetDiLevels(3, 0xFF, 1));
  EXPECT_FALSE(core.SetDiSquare(24, 10.0, 1));
  EXPECT_FALSE(core.SetLoopback(1, 1, 1));
  EXPECT_FALSE(core.SetLoopback(-2, 1, 1));
}

TEST(Stimulus, WaveFromFrequencyIsExactForRoundFigures) {
  const auto mhz = WaveFromFrequency(1e6, 50.0);
  ASSERT_TRUE(mhz);
  EXPECT_EQ(mhz->periodNum, 1'000'000 * mhz->den);
  EXPECT_EQ(2 * mhz->highNum, mhz->periodNum);
  const auto three = WaveFromFrequency(3e6, 50.0);
  ASSERT_TRUE(three);
  EXPECT_EQ(three->periodNum * 3, 1'000'000 * three->den);  // 1e6/3 ps exactly
  EXPECT_EQ(2 * three->highNum, three->periodNum);
  const auto slow = WaveFromFrequency(0.01, 25.0);
  ASSERT_TRUE(slow);
  EXPECT_EQ(slow->periodNum, 100'000'000'000'000 * slow->den);
  EXPECT_EQ(4 * slow->highNum, slow->periodNum);
  EXPECT_FALSE(WaveFromFrequency(std::nan(""), 50.0));
}

}  // namespace
}  // namespace qio::sim::test
