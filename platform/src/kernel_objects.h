// Waitable kernel objects (events and threads) and the waiters that block on
// them. Internal to the platform library.
//
// The state of every waitable object is guarded by one mutex, WaitMutex().
// A thread that has to block makes a Waiter and registers it on each object
// it waits for. Signalling an object wakes only the waiters registered on it,
// each through its own Condition, and hands the signal over directly:
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
// The list holds a reference to each Waiter, which keeps it alive should its
// thread return (a time-out that saw the grant) before the notification.
#pragma once

#include <array>
#include <memory>
#include <cstddef>
#include <mutex>
#include <vector>

#include "handle_table.h"
#include "qio/platform/condition.h"

namespace qio::platform::detail {

std::mutex& WaitMutex();

class Waitable;

struct Waiter {
  static constexpr unsigned kNotGranted = ~0u;

  Condition wake;
  std::array<Waitable*, kMaximumWaitObjects> objects{};
  std::size_t count = 0;
  unsigned granted = kNotGranted;  // index of the object that released it
};

// The waiters granted while WaitMutex() was held, notified once it is not:
// declare the list before the lock.
class WakeList {
 public:
  WakeList() = default;
  WakeList(const WakeList&) = delete;
  WakeList& operator=(const WakeList&) = delete;
  ~WakeList() {
    for (const std::shared_ptr<Waiter>& waiter : waiters_) waiter->wake.NotifyOne();
  }
  void Add(std::shared_ptr<Waiter> waiter) { waiters_.push_back(std::move(waiter)); }

 private:
  std::vector<std::shared_ptr<Waiter>> waiters_;
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
  void AddWaiterLocked(const std::shared_ptr<Waiter>& waiter, unsigned index) { waiters_.push_back({waiter, index}); }
  void RemoveWaiterLocked(const Waiter* waiter);
  std::size_t WaiterCountLocked() const { return waiters_.size(); }

 private:
  struct Registration {
    std::shared_ptr<Waiter> waiter;
    unsigned index;
  };

  const bool autoReset_;
  bool signalled_;
  std::vector<Registration> waiters_;  // oldest first
};

// Unregisters the waiter from every object it waits on.
void UnregisterWaiterLocked(Waiter& waiter);

// Sets an event for a caller that must not have its last error changed (the
// interrupt controller, on a device's thread). False for a bad handle.
bool SignalEventQuietly(Handle event);

}  // namespace qio::platform::detail
