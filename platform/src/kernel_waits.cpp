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
#include <new>
#include <thread>

#include "kernel_objects.h"
#include "qio/platform/clock.h"
#include "qio/platform/errors.h"

namespace qio::platform::detail {

std::mutex& WaitMutex() {
  // Built in place, never destroyed (see Table()) and never allocated: a
  // signal or a wait must not fail for want of memory.
  alignas(std::mutex) static unsigned char storage[sizeof(std::mutex)];
  static std::mutex* mutex = new (storage) std::mutex;
  return *mutex;
}

void Waitable::AddWaiterLocked(Registration& registration) {
  registration.previous = last_;
  registration.next = nullptr;
  if (last_ != nullptr) {
    last_->next = &registration;
  } else {
    first_ = &registration;
  }
  last_ = &registration;
  registration.linked = true;
}

void Waitable::RemoveWaiterLocked(Registration& registration) {
  if (!registration.linked) return;
  if (registration.previous != nullptr) {
    registration.previous->next = registration.next;
  } else {
    first_ = registration.next;
  }
  if (registration.next != nullptr) {
    registration.next->previous = registration.previous;
  } else {
    last_ = registration.previous;
  }
  registration.previous = registration.next = nullptr;
  registration.linked = false;
}

void UnregisterWaiterLocked(Waiter& waiter) {
  for (std::size_t i = 0; i < waiter.count; ++i) {
    Registration& registration = waiter.registrations[i];
    if (registration.linked) registration.object->RemoveWaiterLocked(registration);
  }
}

namespace {

void GrantLocked(Waiter& waiter, unsigned index, WakeList& woken) {
  waiter.granted = index;
  UnregisterWaiterLocked(waiter);
  woken.AddLocked(waiter);
}

}  // namespace

void Waitable::SignalLocked(WakeList& woken) {
  if (autoReset_) {
    if (first_ == nullptr) {
      signalled_ = true;
      return;
    }
    GrantLocked(*first_->waiter, first_->index, woken);  // also unlinks it here
    return;
  }
  signalled_ = true;
  // Granting unlinks every registration of the waiter granted, the first one
  // of this list among them.
  while (first_ != nullptr) {
    Registration& registration = *first_;
    if (registration.waiter->granted == Waiter::kNotGranted) {
      GrantLocked(*registration.waiter, registration.index, woken);
    } else {
      RemoveWaiterLocked(registration);
    }
  }
}

}  // namespace qio::platform::detail

namespace qio::platform {
namespace {

using detail::KernelObject;
using detail::ObjectKind;
using detail::Registration;
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
  Waiter waiter;
  waiter.count = handles.size();
  for (std::size_t i = 0; i < handles.size(); ++i) {
    held[i] = detail::LookupAnyHandle(handles[i]);
    if (!held[i] || (held[i]->Kind() != ObjectKind::Event && held[i]->Kind() != ObjectKind::Thread)) {
      SetLastError(kErrorInvalidHandle);
      return kWaitFailed;
    }
    waiter.objects[i] = static_cast<Waitable*>(held[i].get());
  }
  const std::uint64_t deadline = DeadlineFor(milliseconds);

  std::unique_lock lock(detail::WaitMutex());
  for (std::size_t i = 0; i < waiter.count; ++i) {
    if (waiter.objects[i]->SignalledLocked()) {
      waiter.objects[i]->ConsumeLocked();
      return kWaitObject0 + static_cast<std::uint32_t>(i);
    }
  }
  if (milliseconds == 0) return kWaitTimeout;

  for (std::size_t i = 0; i < waiter.count; ++i) {
    Registration& registration = waiter.registrations[i];
    registration.waiter = &waiter;
    registration.object = waiter.objects[i];
    registration.index = static_cast<unsigned>(i);
    waiter.objects[i]->AddWaiterLocked(registration);
  }
  while (waiter.granted == Waiter::kNotGranted) {
    if (!waiter.wake.WaitUntil(lock, deadline) && waiter.granted == Waiter::kNotGranted) {
      detail::UnregisterWaiterLocked(waiter);
      return kWaitTimeout;
    }
  }
  const unsigned granted = waiter.granted;
  lock.unlock();
  // Woken early (a time-out that saw the grant, a spurious wake-up): the
  // granting thread is between its unlock and its notification, which it
  // makes on this frame's Waiter.
  while (waiter.notifyPending.load(std::memory_order_acquire)) std::this_thread::yield();
  return kWaitObject0 + granted;
}

std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds) {
  return WaitForMultipleObjects(std::span<const Handle>(&handle, 1), milliseconds);
}

}  // namespace qio::platform
