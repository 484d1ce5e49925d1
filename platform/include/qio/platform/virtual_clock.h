// The virtual clock of the hosted target: discrete-event time for the whole
// target, so that a 4-second gate takes microseconds and every run gives the
// same register trace.
//
// While it runs, NowNs() is virtual time, starting at 0. Time stands still
// while any attached thread runs; when every attached thread waits in a
// platform wait (kernel waits, Sleep, Condition, a contended
// CriticalSection), the clock jumps to the earliest deadline among them and
// releases the waiters of that instant.
//
// Attached threads run one at a time, in a fixed order: the thread holding
// the turn runs until it waits in the platform (or detaches, or ends); then
// the turn passes to a thread that is ready to run (released by a signal, a
// notification, an unlocked lock, or by the clock), and when none is ready
// the clock jumps. Among the ready threads the hosted system's service
// threads (the board models' timers) go first, then the platform's threads
// (the driver's), then application threads, so that at every instant the
// board and the driver have done their part before an application looks;
// within each of these, the thread that became ready first goes first, and
// threads the clock releases at one instant become ready in the order in
// which they began to wait. So, given the same calls from the application,
// the target runs the same way every time.
//
// Attached are the platform's own threads (CreateThread, ServiceThread) from
// their creation, every thread that waits in the platform, and every thread
// that calls EnterTarget (the library's and the harness's exports do), until
// it ends or detaches. A thread must not block outside the platform while it
// holds the turn (an OS sleep, a read from a terminal): the clock stands
// still meanwhile, and after a few seconds the clock reports the thread that
// holds it. A thread that waits for something outside the target detaches
// first; while any thread is detached, the clock runs no faster than real
// time, so that a prompt or a window waiting for a person does not race the
// target's time ahead.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "qio/platform/api.h"

namespace qio::platform {

// Starts the virtual clock at 0 ns; the calling thread is attached and holds
// the turn. False when it already runs.
QIO_PLATFORM_API bool StartVirtualClock();
// Stops it: NowNs() is real time again and every thread still waiting on
// the virtual clock goes on under real time (its wait may return early).
QIO_PLATFORM_API void StopVirtualClock();
QIO_PLATFORM_API bool VirtualClockRunning();

// Attaches the calling thread (waiting for its turn) unless it is attached.
// Does nothing in real time.
QIO_PLATFORM_API void EnterTarget();
// Gives up the turn: the clock goes on without this thread until it calls
// EnterTarget or waits in the platform again.
QIO_PLATFORM_API void DetachThread();
// The name under which the clock reports the calling thread.
QIO_PLATFORM_API void NameThread(std::string_view name);

// How long an attached thread may hold the turn, in real time, before the
// clock reports that it stands still (default 3000 ms; 0 restores it).
QIO_PLATFORM_API void SetClockStallLimit(std::uint32_t milliseconds);

// The clock's latest report (a thread holding a standing clock, or every
// thread waiting without a time-out), numbered from 1; number 0 and empty
// text when there has been none. Reports are also written to stderr.
struct ClockReport {
  std::uint64_t number = 0;
  std::string text;
};
QIO_PLATFORM_API ClockReport LatestClockReport();

}  // namespace qio::platform
