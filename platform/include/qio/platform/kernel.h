// Kernel objects of the hosted target: handles, events, waits, threads,
// critical sections and interlocked arithmetic, shaped after the target's
// services so that a port to the real target is a thin forwarding layer.
//
// Every handle is a checked entry of one process-wide handle table: a closed,
// wrong-kind or made-up handle makes the call fail with kErrorInvalidHandle
// as the thread's last error; it never crashes. All functions are thread-safe.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>

#include "qio/platform/api.h"
#include "qio/platform/condition.h"

namespace qio::platform {

using Handle = std::uint32_t;
inline constexpr Handle kNullHandle = 0;
// Pseudo handle of the calling thread (GetCurrentThread); never closed.
inline constexpr Handle kCurrentThread = 0xFFFFFFFEu;

inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;
inline constexpr std::uint32_t kWaitObject0 = 0;
inline constexpr std::uint32_t kWaitTimeout = 258;
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;
inline constexpr std::size_t kMaximumWaitObjects = 64;

inline constexpr std::uint32_t kStillActive = 259;
// Priorities run from 0 (highest) to 255 (lowest), as on the target.
inline constexpr int kThreadPriorityNormal = 251;

// ---- handles -------------------------------------------------------------

// Closes an event, thread or stream handle (a stream handle's close runs the
// driver's close entry). Registry keys are closed with RegCloseKey. Closing
// the pseudo handle kCurrentThread succeeds and does nothing.
QIO_PLATFORM_API bool CloseHandle(Handle handle);

// Number of live entries in the handle table (for leak checks).
QIO_PLATFORM_API std::size_t OpenHandleCount();

// ---- events --------------------------------------------------------------

// Creates an event, or opens the existing one of that name (then the last
// error is kErrorAlreadyExists and the flags are ignored; otherwise it is 0).
// An empty name creates an unnamed event. Returns kNullHandle on failure.
// Names are case-sensitive, as on the target, and at most 260 characters
// (longer: kErrorInvalidParameter). A named event lives while any handle to
// it is open; closing the last one removes the name.
QIO_PLATFORM_API Handle CreateEvent(bool manualReset, bool initialState, std::string_view name = {});
// Opens an existing named event; kNullHandle with kErrorFileNotFound if none.
QIO_PLATFORM_API Handle OpenEvent(std::string_view name);
QIO_PLATFORM_API bool SetEvent(Handle event);
QIO_PLATFORM_API bool ResetEvent(Handle event);

// ---- waits ---------------------------------------------------------------

// Waits for an event or thread. Returns kWaitObject0, kWaitTimeout or
// kWaitFailed (bad handle). Waiting consumes the signal of an auto-reset event.
QIO_PLATFORM_API std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds);

// Waits until any of 1 to 64 objects is signalled: returns kWaitObject0 + i,
// i being the lowest signalled index; only that object is consumed (when it is
// an auto-reset event). kWaitTimeout on time-out; kWaitFailed for an empty or
// oversized list (kErrorInvalidParameter) or a bad handle (kErrorInvalidHandle;
// the pseudo handle kCurrentThread cannot be waited on). An auto-reset event
// set while threads wait on it releases exactly one of them, the longest
// waiting; a manual-reset event releases all. Closing a handle that another
// thread waits on does not end that wait: it goes on until the object is
// signalled (through another handle) or the time-out expires.
QIO_PLATFORM_API std::uint32_t WaitForMultipleObjects(std::span<const Handle> handles,
                                                      std::uint32_t milliseconds);

// ---- threads -------------------------------------------------------------

using ThreadProc = std::uint32_t (*)(void* argument);

// Starts a thread running proc(argument). The handle is waitable and is
// signalled when the thread ends; its exit code is kStillActive until then.
QIO_PLATFORM_API Handle CreateThread(ThreadProc proc, void* argument);
QIO_PLATFORM_API bool GetExitCodeThread(Handle thread, std::uint32_t* exitCode);
QIO_PLATFORM_API bool SetThreadPriority(Handle thread, int priority);
// Returns the priority, or -1 for a bad handle.
QIO_PLATFORM_API int GetThreadPriority(Handle thread);
QIO_PLATFORM_API Handle GetCurrentThread();

// Waits for every thread started by CreateThread to end, up to `milliseconds`
// in all, and joins them. Returns the number still running afterwards (a
// platform thread that calls this does not wait for itself and counts itself).
// Closing the handle of a running thread is harmless: it runs on.
QIO_PLATFORM_API std::size_t JoinAllThreads(std::uint32_t milliseconds);
QIO_PLATFORM_API std::size_t LiveThreadCount();

// ---- critical sections, interlocked arithmetic ---------------------------

// A recursive lock, as the target's critical section. Satisfies Lockable, so
// std::scoped_lock works on it. In virtual time a thread that finds it held
// waits as in a platform wait, so that the holder can be given the turn.
class QIO_PLATFORM_API CriticalSection {
 public:
  CriticalSection() = default;
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void lock();
  void unlock();
  bool try_lock();

 private:
  std::recursive_mutex mutex_;
  detail::ParkQueue parked_;
};

// Return the new value, as the target's interlocked operations do.
inline std::int32_t InterlockedIncrement(std::atomic<std::int32_t>& value) { return ++value; }
inline std::int32_t InterlockedDecrement(std::atomic<std::int32_t>& value) { return --value; }

// ---- process -------------------------------------------------------------

QIO_PLATFORM_API std::uint32_t GetCurrentProcessId();

// Modules on the target may ask not to be told of thread attach and detach;
// the hosted loader sends no such notifications, so this only succeeds.
QIO_PLATFORM_API bool DisableThreadLibraryCalls(void* module);

}  // namespace qio::platform
