// Condition, CriticalSection and ServiceThread: each has a real-time path (a
// std::condition_variable, a std::recursive_mutex, a std::thread) and, while
// the virtual clock runs, parks its waiters with the clock's scheduler, so
// that the clock knows who waits and whom a notification or an unlock
// releases.
#include <utility>

#include "qio/platform/clock.h"
#include "qio/platform/kernel.h"
#include "scheduler.h"

namespace qio::platform {
namespace {

// Deadlines this far out cannot be expressed as a steady_clock time point
// without overflow; they are waited for without a time limit.
constexpr std::uint64_t kUnboundedDeadlineNs = std::uint64_t{1} << 62;

bool RealWaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, std::uint64_t deadlineNs) {
  if (deadlineNs >= kUnboundedDeadlineNs) {
    cv.wait(lock);
    return true;
  }
  const std::uint64_t now = NowNs();
  if (now >= deadlineNs) return false;
  return cv.wait_for(lock, std::chrono::nanoseconds(deadlineNs - now)) == std::cv_status::no_timeout;
}

}  // namespace

// ---- Condition -------------------------------------------------------------

void Condition::NotifyOne() {
  cv_.notify_one();
  if (parked_.count.load() != 0) {
    auto clock = detail::ClockLock();
    detail::WakeOneLocked(parked_);
  }
}

void Condition::NotifyAll() {
  cv_.notify_all();
  if (parked_.count.load() != 0) {
    auto clock = detail::ClockLock();
    detail::WakeAllLocked(parked_);
  }
}

bool Condition::WaitUntil(std::unique_lock<std::mutex>& lock, std::uint64_t deadlineNs) {
  if (detail::VirtualClockOn()) {
    auto clock = detail::ClockLock();
    if (detail::VirtualClockOn()) {
      if (deadlineNs != kNoDeadline && detail::VirtualNowNs() >= deadlineNs) return false;
      parked_.count.fetch_add(1);
      const bool woken = detail::ParkLocked(clock, &parked_, deadlineNs, [&] { lock.unlock(); });
      clock.unlock();
      lock.lock();
      return woken;
    }
  }
  return RealWaitUntil(cv_, lock, deadlineNs);
}

// ---- CriticalSection ----------------------------------------------------------

void CriticalSection::lock() {
  if (mutex_.try_lock()) return;
  if (!detail::VirtualClockOn()) {
    mutex_.lock();
    return;
  }
  // In virtual time the holder may be a thread that waits for the turn: park
  // until it unlocks instead of blocking the turn in the OS. The count goes
  // up before the retry, so that an unlock after the retry sees it: both
  // sides change the count with a read-modify-write, which orders the retry
  // after the unlock, or the unlock's look at the count after the increase.
  auto clock = detail::ClockLock();
  for (;;) {
    if (!detail::VirtualClockOn()) {
      clock.unlock();
      mutex_.lock();
      return;
    }
    parked_.count.fetch_add(1);
    if (mutex_.try_lock()) {
      parked_.count.fetch_sub(1);
      return;
    }
    detail::ParkLocked(clock, &parked_, kNoDeadline, [] {});
  }
}

void CriticalSection::unlock() {
  mutex_.unlock();
  if (!detail::VirtualClockOn()) return;
  if (parked_.count.fetch_add(0) != 0) {
    auto clock = detail::ClockLock();
    detail::WakeOneLocked(parked_);
  }
}

bool CriticalSection::try_lock() { return mutex_.try_lock(); }

// ---- ServiceThread --------------------------------------------------------------

ServiceThread::ServiceThread(std::string name, std::function<void()> body) {
  detail::Runner* runner = detail::PrepareThreadRunner(name, detail::RunnerRank::kService);
  try {
    thread_ = std::thread(&ServiceThread::Run, this, runner, std::move(body));
  } catch (...) {
    detail::AbandonThreadRunner(runner);
    throw;
  }
}

ServiceThread::~ServiceThread() { Join(); }

void ServiceThread::Run(detail::Runner* runner, std::function<void()> body) {
  detail::BindThreadRunner(runner);
  body();
  {
    std::scoped_lock lock(mutex_);
    ended_ = true;
  }
  endedCondition_.NotifyAll();
  detail::EndThreadRunner();
}

void ServiceThread::Join() {
  if (!thread_.joinable()) return;
  {
    std::unique_lock lock(mutex_);
    while (!ended_) endedCondition_.Wait(lock);
  }
  thread_.join();
}

}  // namespace qio::platform
