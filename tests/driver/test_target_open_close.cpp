// The open/close cycle of a board against other threads and other boards:
// the last close racing first opens, two boards configured on one interrupt
// line, and interrupt status left pending while a board was closed.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "qio/protocol/events.h"
#include "qio/protocol/ioctl.h"
#include "request_bytes.h"
#include "target_session.h"

namespace qio::test {
namespace {

using namespace protocol;

bool Signalled(platform::Handle event, std::uint32_t ms) {
  return platform::WaitForSingleObject(event, ms) == platform::kWaitObject0;
}

class OpenCloseTest : public TargetTest {
 protected:
  void EnableDi(QioStream* stream, std::uint16_t channel) {
    ASSERT_EQ(Ioctl(stream, IOCTL_EVENT_ENABLE, EventEnable(1, channel, 1).get(), 0).result, 1);
  }
  // A rising edge on port A line `line` of a board, then back to low.
  static void Edge(QioSimBoard* board, unsigned line) {
    ASSERT_EQ(qio_sim_set_di(board, 0, static_cast<std::uint8_t>(1u << line)), QIO_TARGET_OK);
    platform::Sleep(5);
    ASSERT_EQ(qio_sim_set_di(board, 0, 0), QIO_TARGET_OK);
  }
};

TEST_F(OpenCloseTest, LastClosesRacingFirstOpensLeaveOneWorkingService) {
  Boot();
  constexpr unsigned kThreads = 6;
  // Each thread has a DI line of port A with a 200 Hz square wave on it.
  for (unsigned line = 0; line < kThreads; ++line) {
    ASSERT_EQ(qio_sim_set_di_square(board_, line, 200.0), QIO_TARGET_OK);
  }
  const std::size_t threadsBefore = platform::LiveThreadCount();
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  const std::uint64_t begin = platform::NowNs();
  for (unsigned t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const platform::Handle event = platform::OpenEvent(DiEventName(t, 0));
      for (int i = 0; i < 30; ++i) {
        QioStream* stream = nullptr;
        if (qio_target_device_open(target_, "Q621:", &stream) != QIO_TARGET_OK) {
          failures.fetch_add(1);
          continue;
        }
        // While this handle is open the board is open: its interrupt service
        // runs and its own event, once enabled, arrives.
        platform::WaitForSingleObject(event, 0);
        std::uint32_t error = 0;
        const auto enable = EventEnable(1, static_cast<std::uint16_t>(t), 1).get();
        if (qio_target_device_ioctl(stream, IOCTL_EVENT_ENABLE, enable.data(), static_cast<std::uint32_t>(enable.size()),
                                    nullptr, 0, nullptr, &error) != 1 ||
            !Signalled(event, 2000)) {
          failures.fetch_add(1);
        }
        if (qio_target_device_close(stream) != QIO_TARGET_OK) failures.fetch_add(1);
        // Gaps in which every handle may be closed, so that last closes and
        // first opens meet.
        platform::Sleep(static_cast<std::uint32_t>((i * 7 + t) % 3));
      }
      platform::CloseHandle(event);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_LT(static_cast<double>(platform::NowNs() - begin) / 1e6, 30'000.0);
  // Every close ended: no interrupt service thread is left behind.
  EXPECT_EQ(platform::LiveThreadCount(), threadsBefore);

  // One open again: one service thread, and events arrive.
  QioStream* stream = Open();
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(platform::LiveThreadCount(), threadsBefore + 1);
  const platform::Handle event = OpenNamedEvent(DiEventName(1, 0));
  EnableDi(stream, 1);
  EXPECT_TRUE(Signalled(event, 2000));
  Close(stream);
  EXPECT_EQ(platform::LiveThreadCount(), threadsBefore);
}

TEST_F(OpenCloseTest, ABoardReleasesOnlyTheInterruptItBound) {
  // A second board at 0x340 on the same IRQ 5: the configuration tools allow
  // it with a warning.
  Boot(R"(REGEDIT4
[HKEY_LOCAL_MACHINE\Drivers\BuiltIn\ZQS5162S1]
"Prefix"="Q62"
"Dll"="Zqs5162s.dll"
"Order"=dword:1
"DeviceIndex"=dword:1
"IoBase"=dword:340
"IoLen"=dword:40
"Irq"=dword:5
"TimerClock"=dword:14
"DigPortCfg"=hex:00,00,00
)");
  QioSimBoard* second = qio_target_board(target_, 0x340);
  ASSERT_NE(second, nullptr);
  QioStream* first = Open("Q621:");
  QioStream* other = Open("Q622:");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(other, nullptr);
  EnableDi(first, 3);
  const platform::Handle event = OpenNamedEvent(DiEventName(3, 0));
  Edge(board_, 3);
  ASSERT_TRUE(Signalled(event, 2000)) << "the first board services its line";

  // The second board could not bind the line; closing it leaves the first
  // board's interrupt bound.
  Close(other);
  for (int k = 0; k < 3; ++k) {
    Edge(board_, 3);
    EXPECT_TRUE(Signalled(event, 2000)) << "edge " << k << " after the other board's close";
  }
  // Reopened, the second board still leaves the line to the first.
  other = Open("Q622:");
  ASSERT_NE(other, nullptr);
  Close(other);
  Edge(board_, 3);
  EXPECT_TRUE(Signalled(event, 2000));
}

TEST_F(OpenCloseTest, StatusLeftPendingWhileClosedDoesNotSilenceTheNextOpen) {
  Boot();
  QioStream* stream = Open();
  ASSERT_NE(stream, nullptr);
  EnableDi(stream, 0);
  Close(stream);
  // Port A's interrupt stays enabled on the board; an edge now sets its
  // status with nobody to clear it.
  Edge(board_, 0);

  stream = Open();
  ASSERT_NE(stream, nullptr);
  EnableDi(stream, 5);
  const platform::Handle event = OpenNamedEvent(DiEventName(5, 0));
  Edge(board_, 5);
  EXPECT_TRUE(Signalled(event, 2000));
}

}  // namespace
}  // namespace qio::test
