// Event counting: default and configured modes, busy counters, and the
// terminal-count tally that extends the count beyond 16 bits.
#include "counter_target.h"

namespace qio::test {
namespace {

struct EventCount {
  int result;
  std::uint16_t tally;
  std::uint32_t count;
};

class EventCountingTest : public CounterTarget {
 protected:
  EventCount Read(std::uint16_t n) {
    const Reply reply = EventRead(n);
    const auto record = reply.As<proto::CounterEventReadRecord>();
    return {reply.result, record.tally, record.count};
  }
};

TEST_F(EventCountingTest, DefaultModeCountsTheInputEdges) {
  Input(0, 10'000.0);
  TraceOn();
  const std::uint64_t before = platform::NowNs();
  ASSERT_EQ(EventStart(0).result, 1);
  const std::uint64_t started = platform::NowNs();
  const std::vector<Write> writes = TraceWrites();
  EXPECT_TRUE(Contains(writes, regs::ModeRegister(0), 0x0218));
  EXPECT_TRUE(Contains(writes, regs::LoadRegister(0), 1));
  EXPECT_TRUE(Contains(writes, regs::kInterruptControl, 0x0001));  // counter 0's terminal count

  platform::Sleep(100);
  const std::uint64_t readBegin = platform::NowNs();
  const EventCount read = Read(0);
  const std::uint64_t readEnd = platform::NowNs();
  EXPECT_EQ(read.result, 1);
  EXPECT_EQ(read.tally, 0);
  // 10 edges per millisecond since the arm, which lies inside the start.
  EXPECT_GE(read.count, static_cast<std::uint32_t>((readBegin - started) / 100'000));
  EXPECT_LE(read.count, static_cast<std::uint32_t>((readEnd - before) / 100'000) + 1);
}

TEST_F(EventCountingTest, ConfiguredModeIsUsedOnceThenTheDefault) {
  // Up-counting the own pin without repeat: not the default 0x0218.
  ASSERT_EQ(Config(1, 500, {0x0008, 0, 0, 0, 0, 0x0200, 0, 0}).result, 1);
  TraceOn();
  ASSERT_EQ(EventStart(1).result, 1);
  std::vector<Write> writes = TraceWrites();
  EXPECT_TRUE(WritesTo(writes, regs::ModeRegister(1)).empty());
  EXPECT_TRUE(WritesTo(writes, regs::LoadRegister(1)).empty());
  EXPECT_TRUE(Contains(writes, regs::kInterruptControl, 0x0002));
  // Without input, the configured initial count is what the counter holds.
  EXPECT_EQ(Read(1).count, 499u);  // armed up-counting: load - 1 until the first edge

  ASSERT_EQ(Reset(1).result, 1);
  TraceWrites();
  ASSERT_EQ(EventStart(1).result, 1);
  writes = TraceWrites();
  EXPECT_TRUE(Contains(writes, regs::ModeRegister(1), 0x0218));
  EXPECT_TRUE(Contains(writes, regs::LoadRegister(1), 1));
}

TEST_F(EventCountingTest, BusyCounterRefusesTheStart) {
  ASSERT_EQ(EventStart(0).result, 1);
  const Reply again = EventStart(0);
  EXPECT_EQ(again.result, 0);
  EXPECT_EQ(again.error, kBusy);
  ASSERT_EQ(Reset(0).result, 1);
  ASSERT_EQ(PulseStart(0, 0.002f).result, 1);
  EXPECT_EQ(EventStart(0).error, kBusy);
  EXPECT_NEAR(Out(0).hz, 500.0, 1e-6);  // the pulse output was left alone
}

TEST_F(EventCountingTest, TallyOfTerminalCountsExtendsTheCount) {
  // 65536 edges per terminal count: one every 65.5 ms at 1 MHz.
  Input(1, 1'000'000.0);
  const std::uint64_t before = platform::NowNs();
  ASSERT_EQ(EventStart(1).result, 1);
  const std::uint64_t started = platform::NowNs();
  platform::Sleep(300);
  const std::uint64_t readBegin = platform::NowNs();
  const EventCount read = Read(1);
  const std::uint64_t readEnd = platform::NowNs();
  ASSERT_EQ(read.result, 1);
  EXPECT_GE(read.tally, 3);
  const std::uint64_t total = std::uint64_t{read.tally} * 65536 + read.count;
  // A terminal count just before the latch may not be tallied yet: allow one.
  EXPECT_GE(total + 65536, (readBegin - started) / 1000);
  EXPECT_LE(total, (readEnd - before) / 1000 + 1);

  // The reset removes the counter's interrupt: the tally stands still.
  ASSERT_EQ(Reset(1).result, 1);
  platform::Sleep(20);
  const std::uint16_t tally = Read(1).tally;
  platform::Sleep(150);
  const EventCount later = Read(1);
  EXPECT_EQ(later.result, 1);
  EXPECT_EQ(later.tally, tally);
}

TEST_F(EventCountingTest, ReadOfAnIdleCounterReportsWhatItHolds) {
  ASSERT_EQ(Config(0, 42, {0, 0, 0, 0, 0, 0, 0, 0}).result, 1);
  const EventCount read = Read(0);
  EXPECT_EQ(read.result, 1);
  EXPECT_EQ(read.count, 0u);  // reset and never armed
  EXPECT_EQ(read.tally, 0);
}

}  // namespace
}  // namespace qio::test
