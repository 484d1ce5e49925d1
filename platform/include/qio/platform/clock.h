// The one clock of the hosted target. Every time-out, sleep and tick count in
// the project goes through here, and the board model computes its counts from
// NowNs(); nothing else reads the system clock or sleeps directly. While the
// virtual clock runs (virtual_clock.h) these are virtual time.
#pragma once

#include <cstdint>

#include "qio/platform/api.h"

namespace qio::platform {

// Monotonic nanoseconds: in real time since the platform library was loaded,
// in virtual time since the virtual clock started.
QIO_PLATFORM_API std::uint64_t NowNs();

// Milliseconds of NowNs(), wrapping at 2^32.
QIO_PLATFORM_API std::uint32_t GetTickCount();

// Suspends the calling thread; Sleep(0) yields the processor (in virtual
// time: lets the threads that are ready to run go first).
QIO_PLATFORM_API void Sleep(std::uint32_t milliseconds);
QIO_PLATFORM_API void SleepNs(std::uint64_t nanoseconds);

}  // namespace qio::platform
