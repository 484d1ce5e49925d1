// The harness on the virtual clock: booting with QIO_TARGET_VIRTUAL_TIME,
// qio_target_now_ns and qio_target_sleep, two boards and several application
// threads at exact instants, a detached thread, the stalled-clock report
// through qio_target_last_message, and the real clock after shutdown.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "qio/platform/virtual_clock.h"
#include "qio5162/Zqs5162.h"
#include "qio5162/target.h"

namespace {

constexpr std::uint64_t kMs = 1'000'000;

// Two boards: device 0 at 0x300, IRQ 5 (the shipped one), device 1 at 0x340,
// IRQ 7.
const char* const kSecondBoard = R"(REGEDIT4
[HKEY_LOCAL_MACHINE\Drivers\BuiltIn\ZQS5162S1]
"Prefix"="Q62"
"Dll"="Zqs5162s.dll"
"Order"=dword:0
"DeviceIndex"=dword:1
"IoBase"=dword:340
"IoLen"=dword:40
"Irq"=dword:7
"TimerClock"=dword:14
"DigPortCfg"=hex:00,00,00
)";

std::chrono::steady_clock::duration Wall(std::chrono::steady_clock::time_point since) {
  return std::chrono::steady_clock::now() - since;
}

class VirtualTimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(qio_target_boot_ex(kSecondBoard, QIO_TARGET_VIRTUAL_TIME, &target_), QIO_TARGET_OK)
        << qio_target_last_message();
  }
  void TearDown() override {
    qio::platform::SetClockStallLimit(0);
    if (target_ != nullptr) {
      EXPECT_EQ(qio_target_shutdown(target_), QIO_TARGET_OK) << qio_target_last_message();
    }
  }
  std::uint64_t Now() { return qio_target_now_ns(target_); }

  QioTarget* target_ = nullptr;
};

TEST_F(VirtualTimeTest, TheClockStartsAtZeroAndSleepsTakeNoRealTime) {
  EXPECT_EQ(Now(), 0u);
  const auto wall = std::chrono::steady_clock::now();
  ASSERT_EQ(qio_target_sleep(target_, 4001), QIO_TARGET_OK);
  EXPECT_EQ(Now(), 4001 * kMs);
  ASSERT_EQ(qio_target_sleep(target_, 0), QIO_TARGET_OK);
  EXPECT_EQ(Now(), 4001 * kMs);
  EXPECT_LT(Wall(wall), std::chrono::seconds(2)) << "a sanity bound";
}

TEST_F(VirtualTimeTest, BadTargetsAreRefused) {
  EXPECT_EQ(qio_target_now_ns(nullptr), 0u);
  EXPECT_NE(std::string(qio_target_last_message()).find("qio_target_now_ns: target is NULL"), std::string::npos);
  EXPECT_EQ(qio_target_sleep(nullptr, 5), QIO_TARGET_E_ARGUMENT);
  auto* other = reinterpret_cast<QioTarget*>(&target_);
  EXPECT_EQ(qio_target_sleep(other, 5), QIO_TARGET_E_STATE);
  EXPECT_EQ(Now(), 0u) << "no time passed";
  // A second boot fails and leaves the running target and its clock alone.
  QioTarget* second = nullptr;
  EXPECT_EQ(qio_target_boot_ex(nullptr, QIO_TARGET_VIRTUAL_TIME, &second), QIO_TARGET_E_STATE);
  ASSERT_EQ(qio_target_sleep(target_, 3), QIO_TARGET_OK);
  EXPECT_EQ(Now(), 3 * kMs);
}

TEST_F(VirtualTimeTest, TwoBoardsCountSideBySideExactly) {
  std::uint32_t h0 = 0, h1 = 0;
  ASSERT_EQ(DeviceOpen(0, &h0), ZQS_SUCCESS);
  ASSERT_EQ(DeviceOpen(1, &h1), ZQS_SUCCESS);
  QioSimBoard* b0 = nullptr;
  QioSimBoard* b1 = nullptr;
  ASSERT_EQ(qio_target_board_of_device(target_, 0, &b0), QIO_TARGET_OK);
  ASSERT_EQ(qio_target_board_of_device(target_, 1, &b1), QIO_TARGET_OK);
  ASSERT_EQ(qio_sim_set_counter_input(b0, 0, 1'000'000.0, 50.0), QIO_TARGET_OK);
  ASSERT_EQ(qio_sim_set_counter_input(b1, 1, 300'000.0, 50.0), QIO_TARGET_OK);
  ASSERT_EQ(CounterEventStart(h0, 0, 0), ZQS_SUCCESS);
  const std::uint64_t armed0 = Now() - 50 * kMs;  // each start settles 50 ms after its arm
  ASSERT_EQ(CounterEventStart(h1, 1, 0), ZQS_SUCCESS);
  const std::uint64_t armed1 = Now() - 50 * kMs;
  ASSERT_EQ(qio_target_sleep(target_, 1000), QIO_TARGET_OK);
  std::uint16_t tally = 0;
  std::uint32_t count = 0;
  ASSERT_EQ(CounterEventRead(h0, 0, &tally, &count), ZQS_SUCCESS);
  EXPECT_EQ(std::uint64_t{tally} * 65536 + count, (Now() - armed0) / 1000);  // 1 MHz
  ASSERT_EQ(CounterEventRead(h1, 1, &tally, &count), ZQS_SUCCESS);
  EXPECT_EQ(std::uint64_t{tally} * 65536 + count, (Now() - armed1) * 3 / 10'000);  // 300 kHz
  EXPECT_EQ(DeviceClose(&h0), ZQS_SUCCESS);
  EXPECT_EQ(DeviceClose(&h1), ZQS_SUCCESS);
}

TEST_F(VirtualTimeTest, SeveralApplicationThreadsWakeAtTheirOwnInstants) {
  std::vector<std::uint64_t> wakesA, wakesB;
  auto sleeper = [this](std::uint32_t ms, int times, std::vector<std::uint64_t>* wakes) {
    for (int i = 0; i < times; ++i) {
      qio_target_sleep(target_, ms);
      wakes->push_back(qio_target_now_ns(target_));
    }
  };
  // The threads enter the target in whatever order the OS starts them; each
  // waits on the clock, so each wakes exactly on its own deadlines.
  std::thread a(sleeper, 3u, 5, &wakesA);
  std::thread b(sleeper, 5u, 3, &wakesB);
  qio_target_detach_thread();  // joining is a wait outside the target
  a.join();
  b.join();
  const std::vector<std::uint64_t> expectA{3 * kMs, 6 * kMs, 9 * kMs, 12 * kMs, 15 * kMs};
  const std::vector<std::uint64_t> expectB{5 * kMs, 10 * kMs, 15 * kMs};
  EXPECT_EQ(wakesA, expectA);
  EXPECT_EQ(wakesB, expectB);
  EXPECT_EQ(Now(), 15 * kMs);
}

TEST_F(VirtualTimeTest, AThreadThatSleepsWithTheOsIsReportedByName) {
  qio::platform::SetClockStallLimit(100);
  std::string seenByStaller;
  std::thread staller([&] {
    qio_target_now_ns(target_);  // a call into the target: it holds the clock from here
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    qio_target_now_ns(target_);
    seenByStaller = qio_target_last_message();
  });
  // The main thread waits on the clock; the clock cannot move while the
  // other thread sleeps with the OS.
  ASSERT_EQ(qio_target_sleep(target_, 10), QIO_TARGET_OK);
  qio_target_detach_thread();
  staller.join();
  EXPECT_NE(seenByStaller.find("has held the clock for"), std::string::npos) << seenByStaller;
  EXPECT_NE(seenByStaller.find("application thread"), std::string::npos) << seenByStaller;
  EXPECT_NE(seenByStaller.find("qio_target_sleep"), std::string::npos) << "the report says what to do instead";
  // Reported once: every thread is given it once, after a call that set no
  // message of its own.
  EXPECT_EQ(std::string(qio_target_last_message()), seenByStaller);
  EXPECT_EQ(std::string(qio_target_last_message()), seenByStaller) << "the message stays until the next call";
  ASSERT_EQ(qio_target_sleep(target_, 1), QIO_TARGET_OK);
  EXPECT_STREQ(qio_target_last_message(), "");
}

TEST_F(VirtualTimeTest, ASleepCutShortByShutdownIsNotReportedAsDone) {
  int slept = -1;
  std::string message;
  std::atomic<bool> entered{false};
  std::thread sleeper([&] {
    qio_target_now_ns(target_);  // holds the clock from here until it sleeps
    entered = true;
    slept = qio_target_sleep(target_, 4000);
    message = qio_target_last_message();
  });
  qio_target_detach_thread();
  while (!entered) std::this_thread::yield();
  ASSERT_EQ(qio_target_sleep(target_, 10), QIO_TARGET_OK);  // runs once the sleeper waits on the clock
  ASSERT_EQ(qio_target_shutdown(target_), QIO_TARGET_OK) << qio_target_last_message();
  target_ = nullptr;
  qio_target_detach_thread();
  sleeper.join();
  EXPECT_EQ(slept, QIO_TARGET_E_STATE) << "the clock stopped 3990 virtual ms before the sleep's end";
  EXPECT_NE(message.find("qio_target_sleep: the target was shut down"), std::string::npos) << message;
}

TEST(VirtualTimeBoot, TheFlagWorksForTextAndFilesAndShutdownReturnsToRealTime) {
  const std::string file = ::testing::TempDir() + "virtual-time-test.reg";
  std::ofstream(file) << "REGEDIT4\n";
  const char* const paths[] = {file.c_str()};
  QioTarget* target = nullptr;
  ASSERT_EQ(qio_target_boot_files(paths, 1, QIO_TARGET_VIRTUAL_TIME, &target), QIO_TARGET_OK)
      << qio_target_last_message();
  EXPECT_TRUE(qio::platform::VirtualClockRunning());
  ASSERT_EQ(qio_target_sleep(target, 250), QIO_TARGET_OK);
  EXPECT_EQ(qio_target_now_ns(target), 250 * kMs);
  ASSERT_EQ(qio_target_shutdown(target), QIO_TARGET_OK);
  EXPECT_FALSE(qio::platform::VirtualClockRunning());
  std::remove(file.c_str());

  const std::string text = "REGEDIT4\n";
  ASSERT_EQ(qio_target_boot_data(text.data(), text.size(), QIO_TARGET_VIRTUAL_TIME, &target), QIO_TARGET_OK);
  EXPECT_EQ(qio_target_now_ns(target), 0u) << "each boot starts its own clock at 0";
  ASSERT_EQ(qio_target_shutdown(target), QIO_TARGET_OK);

  // Real time again: a sleep takes its time.
  ASSERT_EQ(qio_target_boot(nullptr, &target), QIO_TARGET_OK);
  const std::uint64_t before = qio_target_now_ns(target);
  const auto wall = std::chrono::steady_clock::now();
  ASSERT_EQ(qio_target_sleep(target, 20), QIO_TARGET_OK);
  EXPECT_GE(qio_target_now_ns(target) - before, 20 * kMs);
  EXPECT_GE(Wall(wall), std::chrono::milliseconds(20));
  qio_target_detach_thread();  // nothing in real time
  ASSERT_EQ(qio_target_shutdown(target), QIO_TARGET_OK);
}

TEST(VirtualTimeBoot, UnknownFlagsAreStillRefused) {
  QioTarget* target = nullptr;
  EXPECT_EQ(qio_target_boot_ex(nullptr, QIO_TARGET_VIRTUAL_TIME | 0x80u, &target), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(target, nullptr);
  EXPECT_FALSE(qio::platform::VirtualClockRunning());
}

}  // namespace
