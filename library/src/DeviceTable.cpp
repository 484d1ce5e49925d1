// DeviceTable: DeviceOpen, DeviceClose, ReleaseDevice and the handle table.
//
// Opens and closes are serialised by one lock for their whole run, so that a
// teardown never overlaps an open of the same device number (its disable
// requests would otherwise reach sources that the new open just enabled). It
// is the platform's lock, as both wait on the platform while they hold it.
// Lookups by handle take only the short table lock.
#include "DeviceTable.h"
#include "ExportGuard.h"

#include <new>
#include <vector>

#include "Requests.h"
#include "ResultCodes.h"
#include "qio/platform/device_manager.h"
#include "qio/platform/faults.h"
#include "qio/platform/stream_driver.h"
#include "qio/protocol/events.h"
#include "qio5162/Zqs5162.h"

namespace qio::library {
namespace {

constexpr unsigned kSlotBits = 12;
constexpr std::uint32_t kSlotMask = (1u << kSlotBits) - 1;
constexpr std::size_t kMaxSlots = kSlotMask;  // slot + 1 must fit the slot field
constexpr std::uint32_t kGenerationMask = 0xFFFFFu;

struct HandleSlot {
  std::uint32_t generation = 1;
  std::shared_ptr<DeviceEntry> entry;
};

class DeviceTable {
 public:
  platform::CriticalSection openCloseMutex;  // held for a whole DeviceOpen or DeviceClose

  std::shared_ptr<DeviceEntry> FindByNumber(std::uint32_t deviceNumber) {
    std::scoped_lock lock(mutex_);
    for (const auto& entry : entries_) {
      if (entry->deviceNumber == deviceNumber) return entry;
    }
    return nullptr;
  }

  // The entry of a live handle, counted as a call in progress before the
  // table lock is let go, so that a teardown cannot slip in between.
  EntryRef Lookup(std::uint32_t handle) {
    std::scoped_lock lock(mutex_);
    std::shared_ptr<DeviceEntry> entry = FindByHandleLocked(handle);
    return entry ? EntryRef(std::move(entry)) : EntryRef();
  }

  std::shared_ptr<DeviceEntry> FindByHandle(std::uint32_t handle) {
    std::scoped_lock lock(mutex_);
    return FindByHandleLocked(handle);
  }

  bool HasFreeSlot() {
    std::scoped_lock lock(mutex_);
    return !freeSlots_.empty() || slots_.size() < kMaxSlots;
  }

  // Appends the entry at the tail and gives it its handle.
  // Throws std::bad_alloc only before anything has changed.
  void Insert(const std::shared_ptr<DeviceEntry>& entry) {
    std::scoped_lock lock(mutex_);
    entries_.reserve(entries_.size() + 1);
    std::size_t index = 0;
    if (!freeSlots_.empty()) {
      index = freeSlots_.back();
      freeSlots_.pop_back();
    } else {
      index = slots_.size();
      slots_.emplace_back();
    }
    HandleSlot& slot = slots_[index];
    slot.entry = entry;
    entry->handle = (slot.generation << kSlotBits) | static_cast<std::uint32_t>(index + 1);
    entries_.push_back(entry);
  }

  // Unlinks the entry; its handle is dead from here on.
  void Remove(const std::shared_ptr<DeviceEntry>& entry) {
    std::scoped_lock lock(mutex_);
    std::erase(entries_, entry);
    const std::size_t index = (entry->handle & kSlotMask) - 1;
    if (index < slots_.size() && slots_[index].entry == entry) {
      HandleSlot& slot = slots_[index];
      slot.entry.reset();
      slot.generation = (slot.generation + 1) & kGenerationMask;
      if (slot.generation == 0) slot.generation = 1;
      // Without memory to note it, the slot is simply not reused.
      try {
        freeSlots_.push_back(index);
      } catch (const std::bad_alloc&) {
      }
    }
  }

  std::size_t Count() {
    std::scoped_lock lock(mutex_);
    return entries_.size();
  }

  // Signals the close event of every open device: a CheckEvent in progress
  // returns the device-closed type.
  void SignalCloses() {
    std::scoped_lock lock(mutex_);
    for (const auto& entry : entries_) platform::SetEvent(entry->CloseEvent());
  }

 private:
  std::shared_ptr<DeviceEntry> FindByHandleLocked(std::uint32_t handle) {
    const std::uint32_t field = handle & kSlotMask;
    if (field == 0) return nullptr;
    const std::size_t index = field - 1;
    if (index >= slots_.size()) return nullptr;
    const HandleSlot& slot = slots_[index];
    if (!slot.entry || slot.generation != (handle >> kSlotBits)) return nullptr;
    return slot.entry;
  }

  std::mutex mutex_;  // guards entries_, slots_, freeSlots_
  std::vector<std::shared_ptr<DeviceEntry>> entries_;  // in order of creation
  std::vector<HandleSlot> slots_;
  std::vector<std::size_t> freeSlots_;
};

void EndWaitsAtShutdown();

DeviceTable& Table() {
  // Never destroyed: unloading the library does not close open devices, and
  // a late call from another thread must still find a table.
  static DeviceTable* table = [] {
    auto* made = new DeviceTable;
    platform::AddShutdownHook(EndWaitsAtShutdown);
    return made;
  }();
  return *table;
}

// The target shuts down with devices still open: the threads that wait in
// CheckEvent on them would otherwise wait out their whole time-out (an
// endless one for ever), as the drivers and their events are gone.
void EndWaitsAtShutdown() { Table().SignalCloses(); }

void CloseHandleOnce(platform::Handle& handle) {
  if (handle != platform::kNullHandle) platform::CloseHandle(handle);
  handle = platform::kNullHandle;
}

// Creates the close event and opens the driver's 26 named events. Every name
// is tried even after a failure; false when any handle is missing.
bool CreateEntryEvents(DeviceEntry& entry) {
  entry.eventHandles[kCloseSlot] = platform::CreateEvent(true, false);
  bool complete = entry.eventHandles[kCloseSlot] != platform::kNullHandle;
  for (unsigned source = 0; source < protocol::kEventSources; ++source) {
    const std::string name = protocol::EventName(source, static_cast<int>(entry.deviceNumber));
    platform::Handle& slot = entry.eventHandles[source + 1];
    slot = platform::CreateEvent(false, false, name);
    complete = complete && slot != platform::kNullHandle;
  }
  return complete;
}

void CloseEntryEvents(DeviceEntry& entry) {
  for (platform::Handle& handle : entry.eventHandles) CloseHandleOnce(handle);
}

// An entry that DeviceOpen is still building: unless released, its events
// and its stream are closed when the open leaves, however it leaves.
class UnfinishedEntry {
 public:
  explicit UnfinishedEntry(DeviceEntry& entry) : entry_(&entry) {}
  UnfinishedEntry(const UnfinishedEntry&) = delete;
  UnfinishedEntry& operator=(const UnfinishedEntry&) = delete;
  ~UnfinishedEntry() {
    if (entry_ == nullptr) return;
    CloseEntryEvents(*entry_);
    CloseHandleOnce(entry_->streamHandle);
  }
  void Release() { entry_ = nullptr; }

 private:
  DeviceEntry* entry_;
};

// Wakes every CheckEvent of the entry and waits until each has left its
// wait (and every other call on the entry has returned).
void WakeAndDrainUsers(DeviceEntry& entry) {
  platform::SetEvent(entry.CloseEvent());
  std::unique_lock lock(entry.usersMutex);
  while (entry.users != 0) entry.usersLeft.Wait(lock);
}

void TearDown(DeviceEntry& entry) {
  WakeAndDrainUsers(entry);
  CloseHandleOnce(entry.eventHandles[kCloseSlot]);
  for (std::size_t slot = 1; slot < kEventSlots; ++slot) {
    if (entry.eventTypes[slot].load() != 0) {
      SendEventEnable(entry, 0, SourceOfSlot(static_cast<int>(slot)), 0);  // failures are of no use here
    }
  }
  CloseEntryEvents(entry);
  CloseHandleOnce(entry.streamHandle);
}

void ReleaseLocked(std::uint32_t deviceNumber, std::uint32_t* handle) {
  DeviceTable& table = Table();
  std::shared_ptr<DeviceEntry> entry = table.FindByNumber(deviceNumber);
  if (!entry) return;
  if (entry->refCount > 1) {
    --entry->refCount;
    if (handle != nullptr) *handle = 0;
    return;
  }
  table.Remove(entry);
  TearDown(*entry);
  if (handle != nullptr) *handle = 0;
}

}  // namespace

EntryRef::EntryRef(std::shared_ptr<DeviceEntry> entry) : entry_(std::move(entry)) {
  std::scoped_lock lock(entry_->usersMutex);
  ++entry_->users;
}

EntryRef::~EntryRef() { Release(); }

EntryRef& EntryRef::operator=(EntryRef&& other) noexcept {
  if (this != &other) {
    Release();
    entry_ = std::move(other.entry_);
  }
  return *this;
}

void EntryRef::Release() {
  if (!entry_) return;
  {
    std::scoped_lock lock(entry_->usersMutex);
    --entry_->users;
  }
  entry_->usersLeft.NotifyAll();
  entry_.reset();
}

EntryRef LookupDevice(std::uint32_t handle) {
  if (handle == 0) return EntryRef();
  return Table().Lookup(handle);
}

std::uint32_t DeviceNumberOfHandle(std::uint32_t handle) noexcept {
  try {
    if (handle == 0) return 0;
    const std::shared_ptr<DeviceEntry> entry = Table().FindByHandle(handle);
    return entry ? entry->deviceNumber : 0;
  } catch (...) {
    return 0;
  }
}

std::uint32_t OpenDevice(std::uint32_t deviceNumber, std::uint32_t* handle) {
  const std::uint32_t base = ErrorBase(deviceNumber);
  if (handle == nullptr) return base + kLowArgument;
  *handle = 0;
  if (!platform::SystemBooted()) platform::EnsureSystemBooted();

  DeviceSettings settings{};
  const std::uint64_t resourceFailures = platform::ResourceFailureCount();
  if (!ReadDeviceSettings(deviceNumber, settings)) {
    // Settings that could not be read for want of memory are not missing.
    return platform::ResourceFailureCount() != resourceFailures ? base + kLowCreate : kResultConfiguration;
  }

  DeviceTable& table = Table();
  std::scoped_lock openClose(table.openCloseMutex);
  if (std::shared_ptr<DeviceEntry> existing = table.FindByNumber(deviceNumber)) {
    ++existing->refCount;
    platform::ResetEvent(existing->CloseEvent());
    *handle = existing->handle;
    return kSuccess;
  }

  if (!table.HasFreeSlot()) return base + kLowCreate;
  std::shared_ptr<DeviceEntry> entry(new (std::nothrow) DeviceEntry);
  if (!entry) return base + kLowCreate;
  // Until the entry is in the table its handles are closed on every way out,
  // an exception included.
  UnfinishedEntry unfinished(*entry);
  entry->settings = settings;
  entry->deviceNumber = deviceNumber;
  entry->refCount = 1;

  if (!CreateEntryEvents(*entry)) return base + kLowCreate;
  entry->eventTypes[kCloseSlot] = kEventDeviceClosed;

  entry->streamHandle = platform::CreateFile(CallNameUtf8(settings), QIO_GENERIC_READ | QIO_GENERIC_WRITE,
                                             QIO_FILE_SHARE_READ | QIO_FILE_SHARE_WRITE);
  if (entry->streamHandle == platform::kNullHandle) return base + kLowStream;

  table.Insert(entry);
  unfinished.Release();
  *handle = entry->handle;
  return kSuccess;
}

std::uint32_t CloseDevice(std::uint32_t* handle) {
  if (handle == nullptr) return kResultBadHandle;
  DeviceTable& table = Table();
  std::scoped_lock openClose(table.openCloseMutex);
  std::shared_ptr<DeviceEntry> entry = table.FindByHandle(*handle);
  if (!entry) return kResultBadHandle;
  ReleaseLocked(entry->deviceNumber, handle);
  return kSuccess;
}

void ReleaseDevice(std::uint32_t deviceNumber, std::uint32_t* handle) {
  std::scoped_lock openClose(Table().openCloseMutex);
  ReleaseLocked(deviceNumber, handle);
}

std::size_t OpenDeviceCount() { return Table().Count(); }

std::uint32_t CallsInProgress(std::uint32_t handle) {
  std::shared_ptr<DeviceEntry> entry = Table().FindByHandle(handle);
  if (!entry) return 0;
  std::scoped_lock lock(entry->usersMutex);
  return entry->users;
}

}  // namespace qio::library

extern "C" ZQS5162_API uint32_t DeviceOpen(uint32_t DeviceNumber, uint32_t* DriverHandle) {
  return qio::library::GuardedForDevice(DeviceNumber, [&]() -> uint32_t { return qio::library::OpenDevice(DeviceNumber, DriverHandle); });
}

extern "C" ZQS5162_API uint32_t DeviceClose(uint32_t* DriverHandle) {
  return qio::library::GuardedForHandle(DriverHandle != nullptr ? *DriverHandle : 0u, [&]() -> uint32_t { return qio::library::CloseDevice(DriverHandle); });
}
