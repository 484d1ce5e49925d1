// Waitable kernel objects (events and threads) and the waiters that block on
// them. Internal to the platform library.
//
// The state of every waitable object is guarded by one mutex, WaitMutex().
// A thread that has to block builds a Waiter on its stack and registers it on
// each object it waits for. Signalling an object wakes only the waiters
// registered on it, each through its own condition variable, and hands the
// signal over directly:
//   - an auto-reset event with waiters is given to the one that has waited
//     longest and stays unsignalled (exactly one waiter is released; its wait
//     reports the index under which it registered that event);
//   - a manual-reset event or an ended thread stays signalled and releases
//     every waiter.
// A waiter that has been granted an object is unregistered from all others
// at once, so one signal is never consumed twice and a wait-any never takes
// two objects.
//
// The woken thread is notified after WaitMutex() is released (a WakeList
// declared before the lock does it), so that it does not wake only to block
// on the mutex the signalling thread still holds: one hand-off, not two.
// Nothing is allocated for it: the list is linked through the Waiters, and a
// granted Waiter's thread does not leave its wait (and its stack frame)
// before the notification has been made (Waiter::notifyPending).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <mutex>
#include <vector>

#include "handle_table.h"
#include "qio/platform/condition.h"

namespace qio::platform::detail {

std::mutex& WaitMutex();

class Waitable;
struct Waiter;

// One object in one wait: a node of the object's list of waiters. It lives in
// the Waiter, on the waiting thread's stack, so that registering a wait never
// allocates (a wait cannot fail for want of memory, as on the target).
struct Registration {
  Waiter* waiter = nullptr;
  Waitable* object = nullptr;
  unsigned index = 0;
  Registration* previous = nullptr;
  Registration* next = nullptr;
  bool linked = false;
};

struct Waiter {
  static constexpr unsigned kNotGranted = ~0u;

  Condition wake;
  std::array<Waitable*, kMaximumWaitObjects> objects{};
  std::array<Registration, kMaximumWaitObjects> registrations{};
  std::size_t count = 0;
  unsigned granted = kNotGranted;  // index of the object that released it
  // Set with the grant, under WaitMutex(); cleared by the WakeList once it
  // has notified `wake` and will not touch this Waiter again.
  std::atomic<bool> notifyPending{false};
  Waiter* nextWoken = nullptr;
};

// The waiters granted while WaitMutex() was held, notified once it is not:
// declare the list before the lock.
class WakeList {
 public:
  WakeList() = default;
  WakeList(const WakeList&) = delete;
  WakeList& operator=(const WakeList&) = delete;
  ~WakeList() {
    for (Waiter* waiter = first_; waiter != nullptr;) {
      Waiter* const next = waiter->nextWoken;
      waiter->wake.NotifyOne();
      waiter->notifyPending.store(false, std::memory_order_release);  // the last touch
      waiter = next;
    }
  }
  // Requires WaitMutex().
  void AddLocked(Waiter& waiter) {
    waiter.notifyPending.store(true, std::memory_order_relaxed);
    waiter.nextWoken = first_;
    first_ = &waiter;
  }

 private:
  Waiter* first_ = nullptr;
};

class Waitable : public KernelObject {
 public:
  Waitable(ObjectKind kind, bool autoReset, bool signalled)
      : KernelObject(kind), autoReset_(autoReset), signalled_(signalled) {}

  // Everything below requires WaitMutex() to be held.
  bool SignalledLocked() const { return signalled_; }
  // Takes the signal on behalf of a wait that reports this object.
  void ConsumeLocked() {
    if (autoReset_) signalled_ = false;
  }
  void ResetLocked() { signalled_ = false; }
  void SignalLocked(WakeList& woken);
  // Appends the registration (oldest first); it stays linked until removed.
  void AddWaiterLocked(Registration& registration);
  void RemoveWaiterLocked(Registration& registration);

 private:
  const bool autoReset_;
  bool signalled_;
  Registration* first_ = nullptr;  // the waiters, oldest first
  Registration* last_ = nullptr;
};

// Unregisters the waiter from every object it waits on.
void UnregisterWaiterLocked(Waiter& waiter);

// Sets an event for a caller that must not have its last error changed (the
// interrupt controller, on a device's thread). False for a bad handle. The
// waiter it releases is notified by `woken`, which the caller may declare
// before a lock of its own, so that the thread it wakes never finds that
// lock held.
bool SignalEventQuietly(Handle event, WakeList& woken);

}  // namespace qio::platform::detail
