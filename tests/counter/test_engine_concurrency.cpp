// Request handlers, the interrupt service thread and the measurement threads
// of one board at work at the same time (run under ThreadSanitizer): starts
// that a reset cuts short, concurrent starts of one measurement. Each test
// runs on both clocks: on the real one the threads race as they come; on the
// virtual one they take turns in a fixed order, so that a reset `delayMs`
// after a start lands exactly there. The test's own threads are platform
// ServiceThreads, which the virtual clock knows from their creation.
#include <atomic>
#include <memory>
#include <vector>

#include "counter_target.h"
#include "qio/platform/condition.h"

namespace qio::test {
namespace {

using platform::ServiceThread;

std::string ClockName(const ::testing::TestParamInfo<unsigned>& info) {
  return info.param == QIO_TARGET_VIRTUAL_TIME ? "VirtualTime" : "RealTime";
}

class EngineConcurrency : public CounterTarget, public ::testing::WithParamInterface<unsigned> {
 protected:
  unsigned BootFlags() const override { return GetParam(); }
};

TEST_P(EngineConcurrency, RequestsInterruptsAndMeasurementThreadsShareTheBoard) {
  // DI interrupts on channel 0 keep the interrupt service thread busy.
  ASSERT_EQ(qio_sim_set_di_square(board_, 0, 500.0), QIO_TARGET_OK);
  proto::EventEnableRequest enable{};
  enable.enable = 1;
  enable.source = 0;
  enable.triggerCount = 1;
  ASSERT_EQ(Send(proto::IOCTL_EVENT_ENABLE, enable).result, 1);

  const std::size_t threadsBefore = platform::LiveThreadCount();
  Input(0, 20'000.0);  // the 1 s gate thread
  ASSERT_EQ(FreqStart(0, 0).result, 1);

  std::atomic<bool> stop{false};
  std::atomic<int> reads{0};
  ServiceThread reader("reader", [&] {
    while (!stop.load()) {
      const Reply freq = FreqRead(0);
      const Reply events = EventRead(1);
      if (freq.result == 1 && events.result == 1) reads.fetch_add(1);
      platform::Sleep(2);
    }
  });
  ServiceThread outputs("outputs", [&] {
    while (!stop.load()) {
      FreqOut(1, 2, 0x0600);
      Reset(1);
      platform::Sleep(3);
    }
  });
  platform::Sleep(300);
  const std::uint64_t begin = platform::NowNs();
  EXPECT_EQ(Reset(0).result, 1);
  EXPECT_LT(MsSince(begin), 500.0);
  stop.store(true);
  reader.Join();
  outputs.Join();

  EXPECT_GT(reads.load(), 10);
  // A read after the reset may have started a new measurement; the next
  // reset ends it.
  EXPECT_EQ(Reset(0).result, 1);
  EXPECT_EQ(platform::LiveThreadCount(), threadsBefore);
}

// Whether counter n is owned by a function, asked without side effects: an
// enable without a loaded setting is refused as busy only on an owned counter.
class EngineRaces : public EngineConcurrency {
 protected:
  // The live threads once no more than `expected` remain, or after 2 s. On
  // the real clock a pass that has just handed over to the gate thread may
  // still be on its way out: it is given time to end, not to stay.
  static std::size_t SettledThreadCount(std::size_t expected) {
    for (int i = 0; i < 2000 && platform::LiveThreadCount() > expected; ++i) platform::Sleep(1);
    return platform::LiveThreadCount();
  }
  bool Owned(std::uint16_t n) {
    const Reply reply = PwmEnable(n);
    EXPECT_EQ(reply.result, 0);
    EXPECT_TRUE(reply.error == kBusy || reply.error == kNoSetting) << std::hex << reply.error;
    return reply.error == kBusy;
  }
  std::uint32_t Count(std::uint16_t n) { return EventRead(n).As<proto::CounterEventReadRecord>().count; }
};

TEST_P(EngineRaces, AnEventCountStartCutShortByAResetIsNotMarkedAgain) {
  Input(0, 1'000'000.0);
  for (std::uint32_t delayMs : {0u, 5u, 20u, 35u, 50u, 70u}) {
    // The start settles for 50 ms after arming; the reset comes at `delayMs`.
    ServiceThread start("start", [&] { EventStart(0); });
    platform::Sleep(delayMs);
    ASSERT_EQ(Reset(0).result, 1);
    start.Join();
    // Either the reset came after the start (idle, not counting) or before it
    // (counting, owned): never owned without counting. The 16-bit count
    // tells: the tally of a terminal count just before the reset (at 65.5 ms)
    // may come late on a loaded machine.
    const std::uint32_t before = Count(0);
    platform::Sleep(20);
    const bool counting = Count(0) != before;
    EXPECT_EQ(Owned(0), counting) << "reset at " << delayMs << " ms";
    ASSERT_EQ(Reset(0).result, 1);
  }
}

TEST_P(EngineRaces, AFrequencyStartCutShortByAResetLeavesNoMeasurementBehind) {
  Input(0, 20'000.0);  // the 2 ms pass hands over to the 1 s gate thread
  const std::size_t threadsBefore = platform::LiveThreadCount();
  for (std::uint32_t delayMs : {0u, 3u, 8u, 12u, 16u, 25u}) {
    ServiceThread start("start", [&] { FreqStart(0, 0); });
    platform::Sleep(delayMs);
    ASSERT_EQ(Reset(0).result, 1);
    start.Join();
    platform::Sleep(5);
    // Owned with its gate thread running, or free with no thread at all.
    const bool owned = Owned(0);
    const std::size_t expected = threadsBefore + (owned ? 1u : 0u);
    EXPECT_EQ(SettledThreadCount(expected), expected) << "reset at " << delayMs << " ms";
    EXPECT_EQ(Owned(1), owned) << "the partner block goes with the measurement";
    ASSERT_EQ(Reset(0).result, 1);
    EXPECT_EQ(platform::LiveThreadCount(), threadsBefore);
  }
}

// A start that comes while a reset waits for the measurement threads to
// leave finds the blocks still taken: otherwise the reset's end would mark
// them idle while the new measurement and its gate thread ran on unseen.
TEST_P(EngineRaces, AStartWhileAResetWaitsForTheThreadsTakesNothing) {
  Input(0, 20'000.0);
  const std::size_t threadsBefore = platform::LiveThreadCount();
  for (int round = 0; round < 4; ++round) {
    ASSERT_EQ(FreqStart(0, 0).result, 1);
    platform::Sleep(10);  // the 1 s gate thread runs
    ServiceThread reset("reset", [&] { EXPECT_EQ(Reset(0).result, 1); });
    ServiceThread start("start", [&] { FreqStart(0, 0); });
    reset.Join();
    start.Join();
    platform::Sleep(5);
    const bool owned = Owned(0);
    const std::size_t expected = threadsBefore + (owned ? 1u : 0u);
    EXPECT_EQ(SettledThreadCount(expected), expected) << "round " << round;
    EXPECT_EQ(Owned(1), owned) << "round " << round;
    ASSERT_EQ(Reset(0).result, 1);
    EXPECT_EQ(SettledThreadCount(threadsBefore), threadsBefore);
  }
}

TEST_P(EngineRaces, ConcurrentFrequencyStartsRunOneMeasurement) {
  Input(0, 20'000.0);
  const std::size_t threadsBefore = platform::LiveThreadCount();
  for (int round = 0; round < 5; ++round) {
    std::vector<std::unique_ptr<ServiceThread>> starts;
    std::atomic<int> accepted{0};
    for (int t = 0; t < 4; ++t) {
      starts.push_back(std::make_unique<ServiceThread>("start " + std::to_string(t), [&] {
        if (FreqStart(0, 0).result == 1) accepted.fetch_add(1);
      }));
    }
    for (auto& start : starts) start->Join();
    EXPECT_EQ(accepted.load(), 4);
    // One 1 s gate thread, never one per start.
    EXPECT_EQ(SettledThreadCount(threadsBefore + 1), threadsBefore + 1) << "round " << round;
    ASSERT_EQ(Reset(0).result, 1);
    EXPECT_EQ(platform::LiveThreadCount(), threadsBefore);
  }
}

INSTANTIATE_TEST_SUITE_P(Clocks, EngineConcurrency, ::testing::Values(QIO_TARGET_VIRTUAL_TIME, 0u), ClockName);
INSTANTIATE_TEST_SUITE_P(Clocks, EngineRaces, ::testing::Values(QIO_TARGET_VIRTUAL_TIME, 0u), ClockName);

}  // namespace
}  // namespace qio::test
