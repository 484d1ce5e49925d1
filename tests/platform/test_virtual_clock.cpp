// The virtual clock: time that jumps from deadline to deadline while every
// thread waits, one thread running at a time in a fixed order, the platform's
// blocking primitives parking with the clock, detaching, reports of a clock
// that stands still, and stopping it under waiting threads.

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "qio/platform/clock.h"
#include "qio/platform/condition.h"
#include "qio/platform/kernel.h"
#include "qio/platform/virtual_clock.h"

namespace qio::platform {
namespace {

constexpr std::uint64_t kMs = 1'000'000;

// Real time, for the sanity bounds on how long virtual waits take.
std::uint64_t WallNs() {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

// What the threads of a test did, in the order they did it, with the
// virtual instant of each step. Only the thread holding the turn appends.
struct Log {
  std::mutex mutex;
  std::vector<std::string> lines;
  void Add(const std::string& what) {
    std::scoped_lock lock(mutex);
    lines.push_back(std::to_string(NowNs() / kMs) + " ms " + what);
  }
};

class VirtualClockTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(StartVirtualClock()); }
  void TearDown() override {
    EXPECT_EQ(JoinAllThreads(60'000), 0u);
    StopVirtualClock();
    SetClockStallLimit(0);
  }
};

TEST_F(VirtualClockTest, StartsAtZeroAndASleepMovesItExactlyAtOnce) {
  EXPECT_TRUE(VirtualClockRunning());
  EXPECT_FALSE(StartVirtualClock());
  EXPECT_EQ(NowNs(), 0u);
  const std::uint64_t wall = WallNs();
  Sleep(4001);
  EXPECT_EQ(NowNs(), 4001 * kMs);
  EXPECT_EQ(GetTickCount(), 4001u);
  SleepNs(250);
  EXPECT_EQ(NowNs(), 4001 * kMs + 250);
  EXPECT_LT(WallNs() - wall, 2000 * kMs);  // sanity: no real sleeping
  // Time does not pass while this thread runs.
  const std::uint64_t before = NowNs();
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(NowNs(), before);
}

struct Sleeper {
  Log* log;
  std::uint32_t ms;
  const char* name;
};

std::uint32_t SleeperProc(void* argument) {
  auto* s = static_cast<Sleeper*>(argument);
  s->log->Add(std::string(s->name) + " starts");
  Sleep(s->ms);
  s->log->Add(std::string(s->name) + " wakes");
  return 0;
}

TEST_F(VirtualClockTest, ThreadsWakeAtTheirDeadlinesInTheOrderTheyBeganToWait) {
  Log log;
  Sleeper a{&log, 30, "a"}, b{&log, 10, "b"}, c{&log, 10, "c"};
  const Handle ha = CreateThread(SleeperProc, &a);
  const Handle hb = CreateThread(SleeperProc, &b);
  const Handle hc = CreateThread(SleeperProc, &c);
  log.Add("main waits");
  const Handle all[] = {ha, hb, hc};
  for (Handle h : all) EXPECT_EQ(WaitForSingleObject(h, kInfinite), kWaitObject0);
  log.Add("main goes on");
  for (Handle h : all) CloseHandle(h);
  const std::vector<std::string> expected{"0 ms main waits", "0 ms a starts",  "0 ms b starts", "0 ms c starts",
                                          "10 ms b wakes",   "10 ms c wakes",  "30 ms a wakes", "30 ms main goes on"};
  EXPECT_EQ(log.lines, expected);
}

TEST_F(VirtualClockTest, AtOneInstantServiceThreadsGoFirstThenPlatformThreadsThenApplications) {
  Log log;
  // The main thread waits first; then a platform thread and a service
  // thread wait for the same instant.
  Sleeper p{&log, 10, "platform"};
  const Handle platformThread = CreateThread(SleeperProc, &p);
  ServiceThread service("service", [&] {
    Sleep(1);
    log.Add("service starts");
    Sleep(9);
    log.Add("service wakes");
  });
  Sleep(10);
  log.Add("main wakes");
  service.Join();
  WaitForSingleObject(platformThread, kInfinite);
  CloseHandle(platformThread);
  const std::vector<std::string> expected{"0 ms platform starts", "1 ms service starts", "10 ms service wakes",
                                          "10 ms platform wakes", "10 ms main wakes"};
  EXPECT_EQ(log.lines, expected);
}

struct Signaller {
  Handle event;
  std::uint32_t afterMs;
};

std::uint32_t SignalLater(void* argument) {
  auto* s = static_cast<Signaller*>(argument);
  Sleep(s->afterMs);
  SetEvent(s->event);
  return 0;
}

TEST_F(VirtualClockTest, AWaitEndsAtTheSignalOrExactlyAtItsTimeOut) {
  const Handle event = CreateEvent(false, false);
  EXPECT_EQ(WaitForSingleObject(event, 250), kWaitTimeout);
  EXPECT_EQ(NowNs(), 250 * kMs);
  Signaller s{event, 40};
  const Handle thread = CreateThread(SignalLater, &s);
  EXPECT_EQ(WaitForSingleObject(event, 1000), kWaitObject0);
  EXPECT_EQ(NowNs(), 290 * kMs);
  // A zero time-out polls: no time passes.
  EXPECT_EQ(WaitForSingleObject(event, 0), kWaitTimeout);
  EXPECT_EQ(NowNs(), 290 * kMs);
  WaitForSingleObject(thread, kInfinite);
  CloseHandle(thread);
  CloseHandle(event);
}

// A thread that holds a critical section across a platform wait: a plain
// mutex would block the turn in the OS; the section parks the other thread.
struct Holder {
  CriticalSection* section;
  Log* log;
};

std::uint32_t HoldAcrossASleep(void* argument) {
  auto* h = static_cast<Holder*>(argument);
  std::scoped_lock lock(*h->section);
  h->log->Add("holder locked");
  Sleep(15);
  h->log->Add("holder unlocks");
  return 0;
}

TEST_F(VirtualClockTest, AContendedCriticalSectionWaitsForItsHolderWithTheClock) {
  CriticalSection section;
  Log log;
  Holder holder{&section, &log};
  const Handle thread = CreateThread(HoldAcrossASleep, &holder);
  Sleep(1);  // the holder runs and locks
  {
    std::scoped_lock lock(section);
    log.Add("main locked");
  }
  WaitForSingleObject(thread, kInfinite);
  CloseHandle(thread);
  const std::vector<std::string> expected{"0 ms holder locked", "15 ms holder unlocks", "15 ms main locked"};
  EXPECT_EQ(log.lines, expected);
}

TEST_F(VirtualClockTest, AConditionIsNotifiedOrTimesOutOnTheVirtualClock) {
  std::mutex mutex;
  Condition condition;
  bool ready = false;
  {
    std::unique_lock lock(mutex);
    EXPECT_FALSE(condition.WaitUntil(lock, NowNs() + 70 * kMs));
    EXPECT_EQ(NowNs(), 70 * kMs);
  }
  ServiceThread notifier("notifier", [&] {
    Sleep(5);
    std::scoped_lock lock(mutex);
    ready = true;
    condition.NotifyAll();
  });
  std::unique_lock lock(mutex);
  while (!ready) ASSERT_TRUE(condition.WaitUntil(lock, NowNs() + 1000 * kMs));
  EXPECT_EQ(NowNs(), 75 * kMs);
  lock.unlock();
  notifier.Join();
  EXPECT_EQ(NowNs(), 75 * kMs);
}

TEST_F(VirtualClockTest, ASleepZeroLetsTheReadyThreadsGoFirst) {
  Log log;
  Sleeper a{&log, 1, "a"};
  const Handle thread = CreateThread(SleeperProc, &a);
  log.Add("main yields");
  Sleep(0);
  log.Add("main goes on");
  WaitForSingleObject(thread, kInfinite);
  CloseHandle(thread);
  const std::vector<std::string> expected{"0 ms main yields", "0 ms a starts", "0 ms main goes on", "1 ms a wakes"};
  EXPECT_EQ(log.lines, expected);
}

// The same program of threads, events, sleeps and a lock, run many times:
// the same steps at the same instants every time.
struct Worker {
  Log* log;
  Handle go;
  Handle done;
  CriticalSection* section;
  int index;
};

std::uint32_t WorkerProc(void* argument) {
  auto* w = static_cast<Worker*>(argument);
  for (int round = 0; round < 3; ++round) {
    WaitForSingleObject(w->go, 100);
    {
      std::scoped_lock lock(*w->section);
      w->log->Add("worker " + std::to_string(w->index) + " round " + std::to_string(round));
      Sleep(static_cast<std::uint32_t>(1 + w->index));
    }
    SetEvent(w->done);
  }
  return 0;
}

std::vector<std::string> RunProgram() {
  Log log;
  CriticalSection section;
  const Handle go = CreateEvent(false, false);
  const Handle done = CreateEvent(false, false);
  std::vector<Worker> workers;
  workers.reserve(4);
  std::vector<Handle> threads;
  for (int i = 0; i < 4; ++i) workers.push_back({&log, go, done, &section, i});
  for (Worker& w : workers) threads.push_back(CreateThread(WorkerProc, &w));
  for (int i = 0; i < 6; ++i) {
    Sleep(3);
    SetEvent(go);
    const std::uint32_t wait = WaitForSingleObject(done, 7);
    log.Add("main sees " + std::string(wait == kWaitObject0 ? "done" : "time-out"));
  }
  WaitForMultipleObjects(threads, kInfinite);
  for (Handle h : threads) {
    WaitForSingleObject(h, kInfinite);
    CloseHandle(h);
  }
  CloseHandle(go);
  CloseHandle(done);
  return log.lines;
}

TEST(VirtualClockRuns, TheSameProgramTakesTheSameStepsAtTheSameInstantsEveryTime) {
  std::vector<std::string> first;
  for (int run = 0; run < 20; ++run) {
    ASSERT_TRUE(StartVirtualClock());
    const std::vector<std::string> steps = RunProgram();
    EXPECT_EQ(JoinAllThreads(60'000), 0u);
    StopVirtualClock();
    if (run == 0) {
      first = steps;
      EXPECT_GE(first.size(), 18u);
    } else {
      ASSERT_EQ(steps, first) << "run " << run;
    }
  }
}

TEST_F(VirtualClockTest, ADetachedThreadLeavesTheClockToTheOthersAtNoMoreThanRealSpeed) {
  Log log;
  Sleeper a{&log, 30, "a"};
  const Handle thread = CreateThread(SleeperProc, &a);
  const std::uint64_t wall = WallNs();
  DetachThread();
  // Outside the target: the sleeper runs and the clock follows real time.
  while (WaitForSingleObject(thread, 0) != kWaitObject0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_LT(WallNs() - wall, 10'000 * kMs);
  }
  EXPECT_GE(WallNs() - wall, 30 * kMs);  // paced
  EnterTarget();
  EXPECT_EQ(NowNs(), 30 * kMs);
  CloseHandle(thread);
  const std::vector<std::string> expected{"0 ms a starts", "30 ms a wakes"};
  EXPECT_EQ(log.lines, expected);
}

std::uint32_t StallWithTheOs(void* argument) {
  NameThread(static_cast<const char*>(argument));
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  return 0;
}

TEST_F(VirtualClockTest, AThreadThatHoldsTheClockTooLongIsReportedOnceByName) {
  SetClockStallLimit(100);
  const std::uint64_t before = LatestClockReport().number;
  char name[] = "the stalling worker";
  const Handle thread = CreateThread(StallWithTheOs, name);
  EXPECT_EQ(WaitForSingleObject(thread, kInfinite), kWaitObject0);
  CloseHandle(thread);
  const ClockReport report = LatestClockReport();
  EXPECT_EQ(report.number, before + 1);
  EXPECT_NE(report.text.find("the stalling worker has held the clock for"), std::string::npos) << report.text;
  EXPECT_NE(report.text.find("virtual time stands still at 0.000000 s"), std::string::npos) << report.text;
  EXPECT_EQ(NowNs(), 0u);
}

TEST_F(VirtualClockTest, EveryThreadWaitingWithoutATimeOutIsReported) {
  SetClockStallLimit(100);
  NameThread("the waiting main thread");
  const std::uint64_t before = LatestClockReport().number;
  const Handle never = CreateEvent(true, false);
  // A thread outside the target ends the wait after the report had time.
  std::thread rescuer([&] {
    while (LatestClockReport().number == before) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    SetEvent(never);
  });
  EXPECT_EQ(WaitForSingleObject(never, kInfinite), kWaitObject0);
  rescuer.join();
  const ClockReport report = LatestClockReport();
  EXPECT_EQ(report.number, before + 1);
  EXPECT_NE(report.text.find("every thread of the target waits without a time-out"), std::string::npos);
  EXPECT_NE(report.text.find("the waiting main thread"), std::string::npos) << report.text;
  CloseHandle(never);
}

std::uint32_t WaitForEver(void* argument) {
  return WaitForSingleObject(*static_cast<Handle*>(argument), kInfinite) == kWaitObject0 ? 7 : 8;
}

TEST(VirtualClockStop, ThreadsStillWaitingGoOnUnderRealTime) {
  ASSERT_TRUE(StartVirtualClock());
  Handle event = CreateEvent(false, false);
  const Handle thread = CreateThread(WaitForEver, &event);
  Sleep(5);
  StopVirtualClock();
  EXPECT_FALSE(VirtualClockRunning());
  // Real time again, and the waiter still waits for its event.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(WaitForSingleObject(thread, 0), kWaitTimeout);
  SetEvent(event);
  EXPECT_EQ(WaitForSingleObject(thread, 5000), kWaitObject0);
  std::uint32_t code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 7u);
  CloseHandle(thread);
  CloseHandle(event);
  EXPECT_EQ(JoinAllThreads(5000), 0u);
}

}  // namespace
}  // namespace qio::platform
