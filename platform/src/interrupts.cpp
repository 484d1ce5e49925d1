// The interrupt controller of the hosted target: sixteen ISA lines, each with
// a binding to an event, a mask and one pending request.
//
//   unbound            a request is dropped
//   bound, unmasked    a request sets the event and masks the line
//   bound, masked      a request is remembered (one, however many arrive)
//   InterruptDone      delivers the remembered request (the line stays
//                      masked), or else unmasks the line
//
// The event is held by handle and looked up at each delivery: once the handle
// is closed, deliveries fail quietly and are not counted. Requests come from
// device models on any thread, possibly from inside a port access of a driver
// thread; the controller's lock is only ever taken before the event lock and
// nothing here calls back into a device, so a request can never deadlock.

#include "qio/platform/interrupts.h"

#include <array>
#include <atomic>
#include <mutex>

#include "kernel_objects.h"
#include "qio/platform/errors.h"

namespace qio::platform {
namespace {

struct Line {
  bool bound = false;
  bool masked = true;
  bool pending = false;
  Handle event = kNullHandle;
  std::atomic<std::uint64_t> deliveries{0};
  std::atomic<std::uint64_t> acknowledgements{0};
};

struct Controller {
  std::mutex mutex;
  std::array<Line, kIrqLines> lines;
};

Controller& Pic() {
  static Controller* controller = new Controller;  // never destroyed: device threads may outlive main()
  return *controller;
}

// The line of a logical interrupt identifier, or null outside 16..31.
Line* LineOfLocked(Controller& pic, std::uint32_t sysIntr) {
  if (sysIntr < kSysIntrFirst || sysIntr >= kSysIntrFirst + kIrqLines) return nullptr;
  return &pic.lines[sysIntr - kSysIntrFirst];
}

// Counted before the event is set, so that a waiter woken by the delivery
// already sees it counted. The interrupt thread is woken through `woken` once
// the controller's lock is released: it acknowledges with InterruptDone,
// which takes that lock, and must not wake only to wait for it.
void DeliverLocked(Line& line, detail::WakeList& woken) {
  line.deliveries.fetch_add(1, std::memory_order_relaxed);
  if (!detail::SignalEventQuietly(line.event, woken)) line.deliveries.fetch_sub(1, std::memory_order_relaxed);
}

void UnbindLocked(Line& line) {
  line.bound = false;
  line.masked = true;
  line.pending = false;
  line.event = kNullHandle;
}

}  // namespace

bool InterruptInitialize(std::uint32_t sysIntr, Handle event, const void* /*data*/, std::uint32_t /*size*/) {
  Controller& pic = Pic();
  std::scoped_lock lock(pic.mutex);
  Line* line = LineOfLocked(pic, sysIntr);
  if (line == nullptr || !detail::LookupHandle(event, detail::ObjectKind::Event)) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  if (line->bound) {
    SetLastError(kErrorBusy);
    return false;
  }
  line->bound = true;
  line->event = event;
  line->pending = false;
  line->masked = false;
  return true;
}

void InterruptDone(std::uint32_t sysIntr) {
  Controller& pic = Pic();
  detail::WakeList woken;  // notified once the lock is released
  std::scoped_lock lock(pic.mutex);
  Line* line = LineOfLocked(pic, sysIntr);
  if (line == nullptr || !line->bound || !line->masked) return;
  line->acknowledgements.fetch_add(1, std::memory_order_release);
  if (line->pending) {
    line->pending = false;
    DeliverLocked(*line, woken);
  } else {
    line->masked = false;
  }
}

void InterruptDisable(std::uint32_t sysIntr) {
  Controller& pic = Pic();
  std::scoped_lock lock(pic.mutex);
  if (Line* line = LineOfLocked(pic, sysIntr)) UnbindLocked(*line);
}

void RaiseInterruptRequest(unsigned line) {
  if (line >= kIrqLines) return;
  Controller& pic = Pic();
  detail::WakeList woken;  // notified once the lock is released
  std::scoped_lock lock(pic.mutex);
  Line& l = pic.lines[line];
  if (!l.bound) return;
  if (l.masked) {
    l.pending = true;
    return;
  }
  l.masked = true;
  DeliverLocked(l, woken);
}

std::uint64_t InterruptDeliveries(unsigned line) {
  if (line >= kIrqLines) return 0;
  return Pic().lines[line].deliveries.load(std::memory_order_relaxed);
}

std::uint64_t InterruptAcknowledgements(unsigned line) {
  if (line >= kIrqLines) return 0;
  return Pic().lines[line].acknowledgements.load(std::memory_order_acquire);
}

void InterruptResetAll() {
  Controller& pic = Pic();
  std::scoped_lock lock(pic.mutex);
  for (Line& line : pic.lines) UnbindLocked(line);
}

}  // namespace qio::platform
