// Blocking primitives of the hosted target that the platform clock knows of:
// a condition variable and a thread of the hosted system itself. Code of the
// target blocks only through these, the kernel waits and Sleep (kernel.h,
// clock.h), so that in virtual time (virtual_clock.h) the clock sees every
// thread that waits, and when, and whom a notification releases.
//
// In real time they are a std::condition_variable and a std::thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "qio/platform/api.h"

namespace qio::platform {

// A deadline that never comes.
inline constexpr std::uint64_t kNoDeadline = ~std::uint64_t{0};

namespace detail {

struct Runner;

// The threads parked on one condition or lock in virtual time, oldest first.
// The list is guarded by the virtual clock's own lock; the count lets the
// real-time paths skip it with a single load.
struct ParkQueue {
  std::atomic<std::uint32_t> count{0};
  std::vector<Runner*> runners;
};

}  // namespace detail

// A condition variable. Callers hold a std::mutex, change the state they
// wait on under it, and re-check their predicate after every return (wake-ups
// may be spurious).
class QIO_PLATFORM_API Condition {
 public:
  Condition() = default;
  Condition(const Condition&) = delete;
  Condition& operator=(const Condition&) = delete;

  void NotifyOne();
  void NotifyAll();
  // Blocks until notified or until the platform clock reaches deadlineNs
  // (kNoDeadline: no time limit). Returns false when the deadline has passed.
  bool WaitUntil(std::unique_lock<std::mutex>& lock, std::uint64_t deadlineNs);
  void Wait(std::unique_lock<std::mutex>& lock) { WaitUntil(lock, kNoDeadline); }

 private:
  std::condition_variable cv_;
  detail::ParkQueue parked_;
};

// A thread that the clock knows from its construction on, under `name`, so
// that in virtual time it takes its turns in a fixed order from its first
// instruction: a thread of the hosted system itself (a device model's timer),
// or one a test starts beside the target's. It is not listed among the
// target's threads (LiveThreadCount); its owner joins it, and Join is a
// platform wait.
class QIO_PLATFORM_API ServiceThread {
 public:
  ServiceThread(std::string name, std::function<void()> body);
  ~ServiceThread();  // joins
  ServiceThread(const ServiceThread&) = delete;
  ServiceThread& operator=(const ServiceThread&) = delete;

  void Join();

 private:
  void Run(detail::Runner* runner, std::function<void()> body);

  std::mutex mutex_;
  Condition endedCondition_;
  bool ended_ = false;
  std::thread thread_;
};

}  // namespace qio::platform
