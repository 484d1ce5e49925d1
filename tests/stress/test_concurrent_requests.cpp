// Requests from many threads at once on one open board, each checked by what
// is left afterwards: every measurement thread the driver started was joined
// and its handle closed, whichever request started it.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "DeviceTable.h"
#include "qio/platform/kernel.h"
#include "qio5162/Zqs5162.h"
#include "qio5162/target.h"

namespace {

class ConcurrentRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(qio_target_boot(nullptr, &target_), QIO_TARGET_OK) << qio_target_last_message();
    board_ = qio_target_board(target_, 0x300);
    ASSERT_NE(board_, nullptr);
    handles_ = qio::platform::OpenHandleCount();
    threads_ = qio::platform::LiveThreadCount();
  }
  void TearDown() override {
    if (target_ != nullptr) {
      EXPECT_EQ(qio_target_shutdown(target_), QIO_TARGET_OK) << qio_target_last_message();
    }
  }

  QioTarget* target_ = nullptr;
  QioSimBoard* board_ = nullptr;
  std::size_t handles_ = 0;
  std::size_t threads_ = 0;
};

// Every frequency read restarts the measurement, and with it the worker
// threads of its method: reads on eight threads at once race for the same
// worker slots. Each slot must end with one worker, and the last close must
// leave no thread and no handle behind.
TEST_F(ConcurrentRequestTest, FrequencyReadsOnManyThreadsLeaveNoWorkerBehind) {
  ASSERT_EQ(qio_sim_set_counter_input(board_, 0, 200.0, 50.0), QIO_TARGET_OK);
  std::uint32_t h = 0;
  ASSERT_EQ(DeviceOpen(0, &h), ZQS_SUCCESS);
  std::vector<std::thread> readers;
  std::atomic<int> badHandle{0};
  for (int t = 0; t < 8; ++t) {
    readers.emplace_back([&] {
      for (int i = 0; i < 40; ++i) {
        float hz = 0;
        // The value itself is the counter engine's business when reads
        // overlap; here what counts is what the reads leave behind.
        if (CounterFreqRead(h, 0, &hz) == ZQS_ERROR_HANDLE) ++badHandle;
      }
    });
  }
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(badHandle.load(), 0);
  EXPECT_EQ(DeviceClose(&h), ZQS_SUCCESS);
  EXPECT_EQ(qio::library::OpenDeviceCount(), 0u);
  EXPECT_EQ(qio::platform::LiveThreadCount(), threads_);
  EXPECT_EQ(qio::platform::OpenHandleCount(), handles_);
}

}  // namespace
