// Events: unnamed, or named in the one process-wide namespace of named
// objects. Names are case-sensitive, as the target's object names are, and at
// most kMaxEventName characters long.
//
// A named event lives while any handle to it is open: every CreateEvent or
// OpenEvent of the name adds a handle, and closing the last one removes the
// name, so a later CreateEvent of that name makes a new event. (A thread still
// waiting on it holds the object, not the name.)

#include <map>
#include <string>

#include "kernel_objects.h"
#include "qio/platform/errors.h"
#include "qio/platform/faults.h"

namespace qio::platform {
namespace {

constexpr std::size_t kMaxEventName = 260;

class EventObject;

// The namespace of named events. openHandles of a named event is guarded by
// its mutex.
struct EventNames {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<EventObject>, std::less<>> byName;
};

EventNames& Names() {
  static EventNames* names = new EventNames;  // never destroyed, see Table()
  return *names;
}

class EventObject final : public detail::Waitable {
 public:
  static constexpr detail::ObjectKind kKind = detail::ObjectKind::Event;

  EventObject(bool manualReset, bool initialState, std::string name)
      : Waitable(kKind, !manualReset, initialState), name_(std::move(name)) {}

  const std::string& Name() const { return name_; }
  std::size_t& OpenHandlesLocked() { return openHandles_; }

  bool OnClose() override {
    if (name_.empty()) return true;
    EventNames& names = Names();
    std::scoped_lock lock(names.mutex);
    if (--openHandles_ == 0) {
      auto it = names.byName.find(name_);
      if (it != names.byName.end() && it->second.get() == this) names.byName.erase(it);
    }
    return true;
  }

 private:
  const std::string name_;
  std::size_t openHandles_ = 0;
};

// Adds a handle to a named event; the caller holds the names lock.
Handle InsertNamedLocked(const std::shared_ptr<EventObject>& event) {
  const Handle handle = detail::InsertHandle(event);
  if (handle != kNullHandle) ++event->OpenHandlesLocked();
  return handle;
}

// CreateEvent after its checks. Throws std::bad_alloc only before anything
// has changed.
Handle CreateEventObject(bool manualReset, bool initialState, std::string_view name) {
  if (name.empty()) {
    const Handle handle = detail::InsertHandle(std::make_shared<EventObject>(manualReset, initialState, ""));
    if (handle != kNullHandle) SetLastError(kErrorSuccess);
    return handle;
  }
  EventNames& names = Names();
  std::scoped_lock lock(names.mutex);
  if (auto it = names.byName.find(name); it != names.byName.end()) {
    const Handle handle = InsertNamedLocked(it->second);
    if (handle != kNullHandle) SetLastError(kErrorAlreadyExists);
    return handle;
  }
  auto event = std::make_shared<EventObject>(manualReset, initialState, std::string(name));
  const auto named = names.byName.emplace(event->Name(), event).first;
  const Handle handle = InsertNamedLocked(event);
  if (handle == kNullHandle) {
    names.byName.erase(named);
    return kNullHandle;
  }
  SetLastError(kErrorSuccess);
  return handle;
}

std::shared_ptr<EventObject> LookupEvent(Handle event) {
  return detail::LookupHandleAs<EventObject>(event);
}

}  // namespace

Handle CreateEvent(bool manualReset, bool initialState, std::string_view name) {
  if (name.size() > kMaxEventName) {
    SetLastError(kErrorInvalidParameter);
    return kNullHandle;
  }
  if (ShouldFail(FaultKind::EventCreation)) {
    SetLastError(kErrorNotEnoughMemory);
    return kNullHandle;
  }
  try {
    return CreateEventObject(manualReset, initialState, name);
  } catch (const std::bad_alloc&) {  // nothing was changed
    NoteResourceFailure();
    SetLastError(kErrorNotEnoughMemory);
    return kNullHandle;
  }
}

Handle OpenEvent(std::string_view name) {
  if (name.empty() || name.size() > kMaxEventName) {
    SetLastError(kErrorInvalidParameter);
    return kNullHandle;
  }
  EventNames& names = Names();
  std::scoped_lock lock(names.mutex);
  auto it = names.byName.find(name);
  if (it == names.byName.end()) {
    SetLastError(kErrorFileNotFound);
    return kNullHandle;
  }
  return InsertNamedLocked(it->second);
}

bool SetEvent(Handle event) {
  detail::WakeList woken;
  if (!detail::SignalEventQuietly(event, woken)) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  return true;
}

bool ResetEvent(Handle event) {
  const std::shared_ptr<EventObject> object = LookupEvent(event);
  if (!object) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  std::scoped_lock lock(detail::WaitMutex());
  object->ResetLocked();
  return true;
}

namespace detail {

bool SignalEventQuietly(Handle event, WakeList& woken) {
  const std::shared_ptr<EventObject> object = LookupEvent(event);
  if (!object) return false;
  std::scoped_lock lock(WaitMutex());
  object->SignalLocked(woken);
  return true;
}

}  // namespace detail
}  // namespace qio::platform
