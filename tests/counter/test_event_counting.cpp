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
  Input(0, 10'000.0);  // rising edges at 0, 100 us, 200 us, ... of the clock
  TraceOn();
  ASSERT_EQ(EventStart(0).result, 1);
  std::vector<QioPortAccess> trace = TraceAccesses();
  std::vector<Write> writes;
  for (const QioPortAccess& a : trace) {
    if (a.isWrite) writes.push_back({a.offset, a.width, a.value});
  }
  EXPECT_TRUE(Contains(writes, regs::ModeRegister(0), 0x0218));
  EXPECT_TRUE(Contains(writes, regs::LoadRegister(0), 1));
  EXPECT_TRUE(Contains(writes, regs::kInterruptControl, 0x0001));  // counter 0's terminal count
  const std::vector<std::uint64_t> arms = InstantsOf(trace, 0, qio::board::command::kLoadAndArm);
  ASSERT_EQ(arms.size(), 1u);
  // The start settles 50 ms after the arm.
  EXPECT_EQ(Now() - arms[0], Ms(50));

  platform::Sleep(100);
  const EventCount read = Read(0);
  const std::vector<std::uint64_t> latches = InstantsOf(TraceAccesses(), 0, qio::board::command::kLatch);
  ASSERT_EQ(latches.size(), 1u);
  EXPECT_EQ(read.result, 1);
  EXPECT_EQ(read.tally, 0);
  // One edge every 100 us after the arm, up to the latch: 150 ms, 1500 edges.
  EXPECT_EQ(latches[0] - arms[0], Ms(150));
  EXPECT_EQ(read.count, 1500u);
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
  // 65536 edges per terminal count: one every 65.536 ms at 1 MHz.
  Input(1, 1'000'000.0);
  TraceOn();
  ASSERT_EQ(EventStart(1).result, 1);
  const std::vector<std::uint64_t> arms = InstantsOf(TraceAccesses(), 1, qio::board::command::kLoadAndArm);
  ASSERT_EQ(arms.size(), 1u);
  for (const std::uint64_t after : {Ms(65), Ms(66), Ms(300), Ms(1000)}) {
    SleepUntil(arms[0] + after);
    const EventCount read = Read(1);
    ASSERT_EQ(read.result, 1);
    // Every terminal count is serviced at its instant: the total is the
    // edges since the arm, exactly, also right after a wrap.
    const std::uint64_t edges = after / 1000;
    EXPECT_EQ(read.tally, edges / 65536) << after;
    EXPECT_EQ(std::uint64_t{read.tally} * 65536 + read.count, edges) << after;
  }

  // The reset removes the counter's interrupt: the tally stands still.
  ASSERT_EQ(Reset(1).result, 1);
  platform::Sleep(20);
  const std::uint16_t tally = Read(1).tally;
  platform::Sleep(150);
  const EventCount later = Read(1);
  EXPECT_EQ(later.result, 1);
  EXPECT_EQ(later.tally, tally);
  EXPECT_EQ(tally, 15u);
}

TEST_F(EventCountingTest, ReadOfAnIdleCounterReportsWhatItHolds) {
  ASSERT_EQ(Config(0, 42, {0, 0, 0, 0, 0, 0, 0, 0}).result, 1);
  const EventCount read = Read(0);
  EXPECT_EQ(read.result, 1);
  EXPECT_EQ(read.count, 0u);  // reset and never armed
  EXPECT_EQ(read.tally, 0);
}

class EventCountingRealTime : public RealTimeCounterTarget {};

TEST_F(EventCountingRealTime, TheTallyFollowsTheEdgesOnTheRealClock) {
  Input(1, 1'000'000.0);
  const std::uint64_t before = platform::NowNs();
  ASSERT_EQ(EventStart(1).result, 1);
  const std::uint64_t started = platform::NowNs();
  platform::Sleep(300);
  const std::uint64_t readBegin = platform::NowNs();
  const Reply reply = EventRead(1);
  const std::uint64_t readEnd = platform::NowNs();
  ASSERT_EQ(reply.result, 1);
  const auto record = reply.As<proto::CounterEventReadRecord>();
  EXPECT_GE(record.tally, 3);
  const std::uint64_t total = std::uint64_t{record.tally} * 65536 + record.count;
  // A terminal count just before the latch may not be tallied yet: allow one.
  EXPECT_GE(total + 65536, (readBegin - started) / 1000);
  EXPECT_LE(total, (readEnd - before) / 1000 + 1);
}

TEST_F(EventCountingRealTime, ReadsRightAfterATerminalCountNeverGoBack) {
  // At 1 MHz the count wraps every 65.5 ms; a read between the wrap and the
  // interrupt service that tallies it must still report the full total.
  Input(1, 1'000'000.0);
  ASSERT_EQ(EventStart(1).result, 1);
  const std::uint64_t until = platform::NowNs() + 700'000'000;
  std::uint64_t last = 0;
  unsigned reads = 0;
  while (platform::NowNs() < until) {
    const Reply reply = EventRead(1);
    ASSERT_EQ(reply.result, 1);
    const auto record = reply.As<proto::CounterEventReadRecord>();
    const std::uint64_t total = std::uint64_t{record.tally} * 65536 + record.count;
    ASSERT_GE(total, last) << "read " << reads << ": tally " << record.tally << ", count " << record.count;
    last = total;
    ++reads;
  }
  EXPECT_GE(last, 7u * 65536);
}

}  // namespace
}  // namespace qio::test
