// The one clock of the hosted target. Every time-out, sleep and tick count in
// the project goes through here, and the board model computes its counts from
// NowNs(); nothing else reads the system clock or sleeps directly.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "qio/platform/api.h"

namespace qio::platform {

// Monotonic nanoseconds since the platform library was loaded.
QIO_PLATFORM_API std::uint64_t NowNs();

// Milliseconds since the platform library was loaded, wrapping at 2^32.
QIO_PLATFORM_API std::uint32_t GetTickCount();

// Suspends the calling thread; Sleep(0) yields the processor.
QIO_PLATFORM_API void Sleep(std::uint32_t milliseconds);
QIO_PLATFORM_API void SleepNs(std::uint64_t nanoseconds);

// Blocks on `cv` until notified or until the clock reaches `deadlineNs`.
// Returns false when the deadline has passed. Spurious wake-ups return true,
// callers re-check their predicate.
QIO_PLATFORM_API bool WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                                std::uint64_t deadlineNs);

}  // namespace qio::platform
