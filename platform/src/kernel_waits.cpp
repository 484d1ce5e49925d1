// Waiting for events and threads: the signalling machinery shared by all
// waitable objects (see kernel_objects.h) and WaitForSingleObject /
// WaitForMultipleObjects.
//
// A handle closed while another thread waits on it does not end that wait:
// the waiter holds its own reference to the object and keeps waiting until
// the object is signalled (through another handle of the same named event, or
// by a thread's end) or the time-out expires. A list may name one object more
// than once; its lowest index is the one reported.

#include <algorithm>
#include <limits>

#include "kernel_objects.h"
#include "qio/platform/clock.h"
#include "qio/platform/errors.h"

namespace qio::platform::detail {

std::mutex& WaitMutex() {
  static std::mutex* mutex = new std::mutex;  // never destroyed, see Table()
  return *mutex;
}

void Waitable::RemoveWaiterLocked(const Waiter* waiter) {
  std::erase_if(waiters_, [waiter](const Registration& r) { return r.waiter.get() == waiter; });
}

void UnregisterWaiterLocked(Waiter& waiter) {
  for (std::size_t i = 0; i < waiter.count; ++i) waiter.objects[i]->RemoveWaiterLocked(&waiter);
}

namespace {

void GrantLocked(const std::shared_ptr<Waiter>& waiter, unsigned index, WakeList& woken) {
  waiter->granted = index;
  UnregisterWaiterLocked(*waiter);
  woken.Add(waiter);
}

}  // namespace

void Waitable::SignalLocked(WakeList& woken) {
  if (autoReset_) {
    if (waiters_.empty()) {
      signalled_ = true;
      return;
    }
    const Registration first = waiters_.front();
    GrantLocked(first.waiter, first.index, woken);  // also removes it from waiters_
    return;
  }
  signalled_ = true;
  // Granting removes entries from waiters_; take the list first.
  std::vector<Registration> released;
  released.swap(waiters_);
  for (const Registration& r : released) {
    if (r.waiter->granted == Waiter::kNotGranted) GrantLocked(r.waiter, r.index, woken);
  }
}

}  // namespace qio::platform::detail

namespace qio::platform {
namespace {

using detail::KernelObject;
using detail::ObjectKind;
using detail::Waitable;
using detail::Waiter;

std::uint64_t DeadlineFor(std::uint32_t milliseconds) {
  if (milliseconds == kInfinite) return kNoDeadline;
  return NowNs() + std::uint64_t{milliseconds} * 1'000'000u;
}

}  // namespace

std::uint32_t WaitForMultipleObjects(std::span<const Handle> handles, std::uint32_t milliseconds) {
  if (handles.empty() || handles.size() > kMaximumWaitObjects) {
    SetLastError(kErrorInvalidParameter);
    return kWaitFailed;
  }
  // Hold a reference to every object for the whole wait.
  std::array<std::shared_ptr<KernelObject>, kMaximumWaitObjects> held;
  std::array<Waitable*, kMaximumWaitObjects> objects{};
  for (std::size_t i = 0; i < handles.size(); ++i) {
    held[i] = detail::LookupAnyHandle(handles[i]);
    if (!held[i] || (held[i]->Kind() != ObjectKind::Event && held[i]->Kind() != ObjectKind::Thread)) {
      SetLastError(kErrorInvalidHandle);
      return kWaitFailed;
    }
    objects[i] = static_cast<Waitable*>(held[i].get());
  }
  const std::uint64_t deadline = DeadlineFor(milliseconds);

  std::unique_lock lock(detail::WaitMutex());
  for (std::size_t i = 0; i < handles.size(); ++i) {
    if (objects[i]->SignalledLocked()) {
      objects[i]->ConsumeLocked();
      return kWaitObject0 + static_cast<std::uint32_t>(i);
    }
  }
  if (milliseconds == 0) return kWaitTimeout;

  // Shared with the signalling side, which notifies it after letting go of
  // the lock (kernel_objects.h).
  const auto waiter = std::make_shared<Waiter>();
  waiter->count = handles.size();
  waiter->objects = objects;
  for (std::size_t i = 0; i < waiter->count; ++i) {
    waiter->objects[i]->AddWaiterLocked(waiter, static_cast<unsigned>(i));
  }
  while (waiter->granted == Waiter::kNotGranted) {
    if (!waiter->wake.WaitUntil(lock, deadline) && waiter->granted == Waiter::kNotGranted) {
      detail::UnregisterWaiterLocked(*waiter);
      return kWaitTimeout;
    }
  }
  return kWaitObject0 + waiter->granted;
}

std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds) {
  return WaitForMultipleObjects(std::span<const Handle>(&handle, 1), milliseconds);
}

}  // namespace qio::platform
