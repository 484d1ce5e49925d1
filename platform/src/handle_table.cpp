// The kernel handle table (layout of a handle value in handle_table.h) and
// CloseHandle / OpenHandleCount on top of it.

#include "handle_table.h"

#include <deque>
#include <mutex>
#include <shared_mutex>

#include "qio/platform/errors.h"
#include "qio/platform/faults.h"

namespace qio::platform::detail {
namespace {

constexpr std::uint32_t kKindShift = 28;
constexpr std::uint32_t kGenerationShift = 16;
constexpr std::uint32_t kGenerationMask = 0x0FFFu;
constexpr std::uint32_t kSlotMask = 0xFFFFu;
constexpr std::size_t kMaxSlots = kSlotMask + 1;
// Freed slots wait in line until this many have gathered before one is
// handed out again (unless the table is full).
constexpr std::size_t kFreeReserve = 1024;

struct Slot {
  std::shared_ptr<KernelObject> object;
  std::uint32_t generation = 1;
};

class HandleTable {
 public:
  Handle Insert(std::shared_ptr<KernelObject> object) {
    std::unique_lock lock(mutex_);
    std::size_t index;
    if (freeSlots_.size() > kFreeReserve || (slots_.size() == kMaxSlots && !freeSlots_.empty())) {
      index = freeSlots_.front();
      freeSlots_.pop_front();
    } else if (slots_.size() < kMaxSlots) {
      index = slots_.size();
      slots_.emplace_back();
    } else {
      return kNullHandle;
    }
    Slot& slot = slots_[index];
    const auto kind = static_cast<std::uint32_t>(object->Kind());
    slot.object = std::move(object);
    ++live_;
    return kind << kKindShift | slot.generation << kGenerationShift | static_cast<std::uint32_t>(index);
  }

  std::shared_ptr<KernelObject> Lookup(Handle handle) const {
    std::shared_lock lock(mutex_);
    const Slot* slot = FindLocked(handle);
    return slot ? slot->object : nullptr;
  }

  std::shared_ptr<KernelObject> Remove(Handle handle) {
    std::shared_ptr<KernelObject> object;
    {
      std::unique_lock lock(mutex_);
      Slot* slot = FindLocked(handle);
      if (!slot) return nullptr;
      object = std::move(slot->object);
      slot->object.reset();
      slot->generation = (slot->generation + 1) & kGenerationMask;
      if (slot->generation == 0) slot->generation = 1;
      --live_;
      // A close never fails: with no memory to queue the slot for reuse, the
      // slot is simply not reused.
      try {
        freeSlots_.push_back(handle & kSlotMask);
      } catch (const std::bad_alloc&) {
        NoteResourceFailure();
      }
    }
    return object;  // the last reference may go here, outside the lock
  }

  std::vector<Handle> OfKind(ObjectKind kind) const {
    std::shared_lock lock(mutex_);
    std::vector<Handle> handles;
    for (std::size_t index = 0; index < slots_.size(); ++index) {
      const Slot& slot = slots_[index];
      if (slot.object && slot.object->Kind() == kind) {
        handles.push_back(static_cast<std::uint32_t>(kind) << kKindShift |
                          slot.generation << kGenerationShift | static_cast<std::uint32_t>(index));
      }
    }
    return handles;
  }

  std::size_t Count() const {
    std::shared_lock lock(mutex_);
    return live_;
  }

 private:
  const Slot* FindLocked(Handle handle) const { return FindIn(slots_, handle); }
  Slot* FindLocked(Handle handle) { return FindIn(slots_, handle); }

  // The slot of a live handle: right kind tag, slot in use by an object of
  // that kind, same generation.
  template <class Slots>
  static auto FindIn(Slots& slots, Handle handle) -> decltype(&slots[0]) {
    const std::uint32_t kind = handle >> kKindShift;
    if (kind < static_cast<std::uint32_t>(ObjectKind::Event) ||
        kind > static_cast<std::uint32_t>(ObjectKind::Stream)) {
      return nullptr;
    }
    const std::size_t index = handle & kSlotMask;
    if (index >= slots.size()) return nullptr;
    auto& slot = slots[index];
    if (!slot.object || slot.generation != ((handle >> kGenerationShift) & kGenerationMask) ||
        static_cast<std::uint32_t>(slot.object->Kind()) != kind) {
      return nullptr;
    }
    return &slot;
  }

  mutable std::shared_mutex mutex_;
  std::deque<Slot> slots_;  // a deque: growing never moves a slot
  std::deque<std::size_t> freeSlots_;
  std::size_t live_ = 0;
};

// Never destroyed: threads that outlive main() may still close handles while
// the process runs its static destructors.
HandleTable& Table() {
  static HandleTable* table = new HandleTable;
  return *table;
}

}  // namespace

Handle InsertHandle(std::shared_ptr<KernelObject> object) {
  if (!object) {
    SetLastError(kErrorInvalidParameter);
    return kNullHandle;
  }
  Handle handle = kNullHandle;
  try {
    handle = Table().Insert(std::move(object));  // changes nothing when it throws
  } catch (const std::bad_alloc&) {
    handle = kNullHandle;
  }
  if (handle == kNullHandle) {
    NoteResourceFailure();
    SetLastError(kErrorNotEnoughMemory);
  }
  return handle;
}

std::shared_ptr<KernelObject> LookupHandle(Handle handle, ObjectKind kind) {
  if ((handle >> kKindShift) != static_cast<std::uint32_t>(kind)) return nullptr;
  return Table().Lookup(handle);
}

std::shared_ptr<KernelObject> LookupAnyHandle(Handle handle) { return Table().Lookup(handle); }

std::shared_ptr<KernelObject> RemoveHandle(Handle handle) { return Table().Remove(handle); }

std::vector<Handle> HandlesOfKind(ObjectKind kind) { return Table().OfKind(kind); }

std::size_t HandleCount() { return Table().Count(); }

}  // namespace qio::platform::detail

namespace qio::platform {

bool CloseHandle(Handle handle) {
  // The pseudo handle of the calling thread needs no closing; closing it
  // succeeds and changes nothing, as on the target.
  if (handle == kCurrentThread) return true;
  std::shared_ptr<detail::KernelObject> object = detail::RemoveHandle(handle);
  if (!object) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  return object->OnClose();
}

std::size_t OpenHandleCount() { return detail::HandleCount(); }

}  // namespace qio::platform
