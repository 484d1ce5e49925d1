// The process-wide kernel handle table: the one place where event, thread and
// stream handles are turned back into objects. Internal to the platform
// library (no symbol here is exported); any platform source may use it.
//
// A handle value is  kind << 28 | generation << 16 | slot
//   kind        1 event, 2 thread, 3 stream (so a value never collides with the
//               registry's 0x4xxxxxxx keys, its 0x8xxxxxxx roots, 0 or the
//               pseudo handle 0xFFFFFFFE)
//   generation  12 bits, advanced each time a slot is freed, so a closed handle
//               stays invalid after its slot has been reused
//   slot        16 bits, index into the table
// Freed slots are reused oldest first and only once a reserve of free slots
// has built up, which keeps a stale value from matching a new object for a
// very long time.
//
// Lookups take a shared lock and hand out a shared_ptr: an object stays alive
// while any caller still uses it, even after its last handle was closed (a
// waiter keeps waiting on the object it holds; a running thread keeps its own).
//
// Registering another kind of object (the device manager's streams):
//
//   class StreamObject final : public detail::KernelObject {
//    public:
//     static constexpr detail::ObjectKind kKind = detail::ObjectKind::Stream;
//     StreamObject() : KernelObject(kKind) {}
//     bool OnClose() override { return driverClose(openContext) != 0; }
//   };
//   Handle h = detail::InsertHandle(std::make_shared<StreamObject>(...));
//   auto s = detail::LookupHandleAs<StreamObject>(h);     // null when bad
//                                     (needs the static kKind of the class)
//
// CloseHandle(h) removes the entry first and then calls OnClose() on the
// object, once per handle value, outside every table lock; its result is the
// result of CloseHandle. OnClose may therefore call back into the platform
// (close other handles, take the caller's locks). A failing OnClose should set
// the last error itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "qio/platform/kernel.h"

namespace qio::platform::detail {

enum class ObjectKind : std::uint8_t { Event = 1, Thread = 2, Stream = 3 };

class KernelObject {
 public:
  explicit KernelObject(ObjectKind kind) : kind_(kind) {}
  virtual ~KernelObject() = default;
  KernelObject(const KernelObject&) = delete;
  KernelObject& operator=(const KernelObject&) = delete;

  ObjectKind Kind() const { return kind_; }

  // Called by CloseHandle after one handle of this object left the table.
  virtual bool OnClose() { return true; }

 private:
  const ObjectKind kind_;
};

// Enters the object and returns its new handle; kNullHandle (last error
// kErrorNotEnoughMemory) when the table is full, kErrorInvalidParameter for a
// null object.
Handle InsertHandle(std::shared_ptr<KernelObject> object);

// The object of a live handle of that kind, or null (closed, made-up, pseudo
// or of another kind). Does not touch the last error.
std::shared_ptr<KernelObject> LookupHandle(Handle handle, ObjectKind kind);
// The same without a kind check.
std::shared_ptr<KernelObject> LookupAnyHandle(Handle handle);

// Removes the entry and returns its object (null for a bad handle). Does not
// call OnClose; CloseHandle does.
std::shared_ptr<KernelObject> RemoveHandle(Handle handle);

// Handles of one kind that are open now (e.g. to close the streams that are
// left at device-manager shutdown).
std::vector<Handle> HandlesOfKind(ObjectKind kind);

// Live entries of the table.
std::size_t HandleCount();

template <class T>
std::shared_ptr<T> LookupHandleAs(Handle handle) {
  return std::static_pointer_cast<T>(LookupHandle(handle, T::kKind));
}

}  // namespace qio::platform::detail
