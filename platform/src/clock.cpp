// The one clock of the hosted target. In real time a monotonic nanosecond
// count from the moment the platform library was loaded; while the virtual
// clock runs (virtual_clock.cpp), its virtual time. This is the only file that
// reads a system clock; everything else (sleeps, time-outs, the tick count,
// the board model's counters) derives from NowNs().

#include "qio/platform/clock.h"

#include <chrono>
#include <limits>
#include <thread>

#include "scheduler.h"

namespace qio::platform {
namespace {

using SteadyClock = std::chrono::steady_clock;

SteadyClock::time_point Epoch() {
  static const SteadyClock::time_point epoch = SteadyClock::now();
  return epoch;
}

// Fix the epoch when the library is loaded, not at the first call.
[[maybe_unused]] const SteadyClock::time_point gEpochAtLoad = Epoch();

void VirtualSleep(std::uint64_t nanoseconds) {
  auto clock = detail::ClockLock();
  if (!detail::VirtualClockOn()) {
    clock.unlock();
    std::this_thread::sleep_for(std::chrono::nanoseconds(nanoseconds));
    return;
  }
  if (nanoseconds == 0) {
    detail::YieldLocked(clock);
    return;
  }
  const std::uint64_t now = detail::VirtualNowNs();
  const std::uint64_t deadline =
      nanoseconds >= kNoDeadline - now ? kNoDeadline - 1 : now + nanoseconds;
  // Only the clock releases a sleeper; a stop of the clock ends the sleep early.
  detail::ParkLocked(clock, nullptr, deadline, [] {});
}

}  // namespace

namespace detail {

std::uint64_t RealNowNs() {
  const auto elapsed = SteadyClock::now() - Epoch();
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
}

}  // namespace detail

std::uint64_t NowNs() {
  if (detail::VirtualClockOn()) return detail::VirtualNowNs();
  return detail::RealNowNs();
}

std::uint32_t GetTickCount() { return static_cast<std::uint32_t>(NowNs() / 1'000'000u); }

void Sleep(std::uint32_t milliseconds) { SleepNs(std::uint64_t{milliseconds} * 1'000'000u); }

void SleepNs(std::uint64_t nanoseconds) {
  if (detail::VirtualClockOn()) {
    VirtualSleep(nanoseconds);
    return;
  }
  if (nanoseconds == 0) {
    std::this_thread::yield();
    return;
  }
  const std::uint64_t start = detail::RealNowNs();
  const std::uint64_t deadline = nanoseconds > std::numeric_limits<std::uint64_t>::max() - start
                                     ? std::numeric_limits<std::uint64_t>::max()
                                     : start + nanoseconds;
  // sleep_for may return early on a signal; sleep on until the deadline.
  for (std::uint64_t now = start; now < deadline; now = detail::RealNowNs()) {
    std::this_thread::sleep_for(std::chrono::nanoseconds(deadline - now));
  }
}

}  // namespace qio::platform
