// Request handlers, the interrupt service thread and the measurement threads
// of one board at work at the same time (run under ThreadSanitizer).
#include <atomic>
#include <thread>

#include "counter_target.h"

namespace qio::test {
namespace {

using EngineConcurrency = CounterTarget;

TEST_F(EngineConcurrency, RequestsInterruptsAndMeasurementThreadsShareTheBoard) {
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
  std::thread reader([&] {
    while (!stop.load()) {
      const Reply freq = FreqRead(0);
      const Reply events = EventRead(1);
      if (freq.result == 1 && events.result == 1) reads.fetch_add(1);
      platform::Sleep(2);
    }
  });
  std::thread outputs([&] {
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
  reader.join();
  outputs.join();

  EXPECT_GT(reads.load(), 10);
  // A read after the reset may have started a new measurement; the next
  // reset ends it.
  EXPECT_EQ(Reset(0).result, 1);
  EXPECT_EQ(platform::LiveThreadCount(), threadsBefore);
}

}  // namespace
}  // namespace qio::test
