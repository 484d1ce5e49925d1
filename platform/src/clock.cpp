// The one clock of the hosted target: a monotonic nanosecond count from the
// moment the platform library was loaded. This is the only file that reads a
// system clock; everything else (sleeps, time-outs, the tick count, the board
// model's counters) derives from NowNs().

#include "qio/platform/clock.h"

#include <chrono>
#include <limits>
#include <thread>

namespace qio::platform {
namespace {

using SteadyClock = std::chrono::steady_clock;

SteadyClock::time_point Epoch() {
  static const SteadyClock::time_point epoch = SteadyClock::now();
  return epoch;
}

// Fix the epoch when the library is loaded, not at the first call.
[[maybe_unused]] const SteadyClock::time_point gEpochAtLoad = Epoch();

// Deadlines this far out cannot be expressed as a steady_clock time point
// without overflow; they are waited for without a time limit.
constexpr std::uint64_t kUnboundedDeadlineNs = std::uint64_t{1} << 62;

}  // namespace

std::uint64_t NowNs() {
  const auto elapsed = SteadyClock::now() - Epoch();
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
}

std::uint32_t GetTickCount() { return static_cast<std::uint32_t>(NowNs() / 1'000'000u); }

void Sleep(std::uint32_t milliseconds) { SleepNs(std::uint64_t{milliseconds} * 1'000'000u); }

void SleepNs(std::uint64_t nanoseconds) {
  if (nanoseconds == 0) {
    std::this_thread::yield();
    return;
  }
  const std::uint64_t start = NowNs();
  const std::uint64_t deadline = nanoseconds > std::numeric_limits<std::uint64_t>::max() - start
                                     ? std::numeric_limits<std::uint64_t>::max()
                                     : start + nanoseconds;
  // sleep_for may return early on a signal; sleep on until the deadline.
  for (std::uint64_t now = NowNs(); now < deadline; now = NowNs()) {
    std::this_thread::sleep_for(std::chrono::nanoseconds(deadline - now));
  }
}

bool WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, std::uint64_t deadlineNs) {
  if (deadlineNs >= kUnboundedDeadlineNs) {
    cv.wait(lock);
    return true;
  }
  if (NowNs() >= deadlineNs) return false;
  const auto when = Epoch() + std::chrono::nanoseconds(static_cast<std::int64_t>(deadlineNs));
  return cv.wait_until(lock, when) == std::cv_status::no_timeout;
}

}  // namespace qio::platform
