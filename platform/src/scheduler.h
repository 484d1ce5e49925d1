// The single-runner scheduler behind the virtual clock (virtual_clock.h),
// as the platform's blocking primitives use it. Internal to the platform
// library.
//
// Every thread the clock knows is a Runner. One of them at a time holds the
// turn (`current`); the others are ready (queued for the turn, oldest
// first), blocked (parked on a ParkQueue and/or waiting for a deadline),
// detached, or idle (not attached in this session of the clock). All of it
// is guarded by one lock, ClockLock(); a parked thread waits on its own
// condition variable under that lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "qio/platform/condition.h"

namespace qio::platform::detail {

// Whether the virtual clock runs: one relaxed load, for the real-time paths.
bool VirtualClockOn();
// Virtual now (valid while the clock runs).
std::uint64_t VirtualNowNs();
// The system's monotonic clock, for the few things that must measure real
// time whatever the platform clock shows (the clock's own stall watch).
std::uint64_t RealNowNs();

std::unique_lock<std::mutex> ClockLock();

// Who goes first among the threads ready at one instant.
enum class RunnerRank : std::uint8_t {
  kService = 0,      // a thread of the hosted system (ServiceThread): the board models
  kPlatform = 1,     // a thread of the target's software (CreateThread): the driver's
  kApplication = 2,  // any other thread that calls into the target
};

// The calling thread's runner, created on first use. Requires ClockLock().
Runner& ThisRunnerLocked();

// Parks the calling thread: registers it on `queue` (may be null) and at
// `deadlineNs` (may be kNoDeadline), gives up the turn if it holds it, then
// calls `release` (which lets go of the caller's own lock, or does nothing),
// and waits until the thread is released and holds the turn again. Returns
// false when the clock released it at its deadline, true when it was woken
// (or the clock stopped meanwhile). Requires ClockLock() held as `clock`
// and the clock running.
template <class Release>
bool ParkLocked(std::unique_lock<std::mutex>& clock, ParkQueue* queue, std::uint64_t deadlineNs, Release&& release);

// The implementation behind ParkLocked, with `release` type-erased.
bool ParkLockedImpl(std::unique_lock<std::mutex>& clock, ParkQueue* queue, std::uint64_t deadlineNs,
                    void (*release)(void*), void* context);

template <class Release>
bool ParkLocked(std::unique_lock<std::mutex>& clock, ParkQueue* queue, std::uint64_t deadlineNs, Release&& release) {
  return ParkLockedImpl(
      clock, queue, deadlineNs, [](void* context) { (*static_cast<Release*>(context))(); }, &release);
}

// Releases the oldest (or every) thread parked on the queue: it becomes
// ready to run. Requires ClockLock().
void WakeOneLocked(ParkQueue& queue);
void WakeAllLocked(ParkQueue& queue);

// Gives the turn to the next ready thread, if any, and stays ready itself
// (a yield). Requires ClockLock(); attaches the caller first.
void YieldLocked(std::unique_lock<std::mutex>& clock);

// A thread started by the platform: its runner is made by the creating
// thread (ready, queued behind the threads of its rank ready now) before the
// thread exists, so that the clock cannot jump past its start. Null in real
// time.
Runner* PrepareThreadRunner(const std::string& name, RunnerRank rank);
// Undoes PrepareThreadRunner when the thread could not be started.
void AbandonThreadRunner(Runner* runner);
// The new thread's first act: takes its runner and waits for its turn.
void BindThreadRunner(Runner* runner);
// The thread's last act on the clock: gives up the turn and leaves.
void EndThreadRunner();

}  // namespace qio::platform::detail
