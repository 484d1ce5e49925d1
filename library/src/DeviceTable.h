// The process-wide table of open devices and the driver handles that stand
// for its entries.
//
// A driver handle is generation << 12 | (slot + 1): nonzero, the same for
// every open of one device number while its entry lives, and never again
// valid once the entry is gone (the slot's generation moves on). Every export
// turns its handle into an EntryRef; a handle that matches no live entry gives
// an empty one, and the export returns 3.
#pragma once

#include <cstdint>
#include <memory>

#include "DeviceEntry.h"

namespace qio::library {

// A call in progress on an entry: keeps the entry alive and makes its last
// close wait until the call is over.
class EntryRef {
 public:
  EntryRef() = default;
  explicit EntryRef(std::shared_ptr<DeviceEntry> entry);
  ~EntryRef();
  EntryRef(EntryRef&& other) noexcept = default;
  EntryRef& operator=(EntryRef&& other) noexcept;
  EntryRef(const EntryRef&) = delete;
  EntryRef& operator=(const EntryRef&) = delete;

  explicit operator bool() const { return entry_ != nullptr; }
  DeviceEntry* operator->() const { return entry_.get(); }
  DeviceEntry& operator*() const { return *entry_; }

 private:
  void Release();
  std::shared_ptr<DeviceEntry> entry_;
};

// The entry of a driver handle, or an empty EntryRef.
EntryRef LookupDevice(std::uint32_t handle);

// The device number of a live handle; 0 when it matches no entry. Never throws.
std::uint32_t DeviceNumberOfHandle(std::uint32_t handle) noexcept;

// DeviceOpen and DeviceClose.
std::uint32_t OpenDevice(std::uint32_t deviceNumber, std::uint32_t* handle);
std::uint32_t CloseDevice(std::uint32_t* handle);

// Drops one open of device `deviceNumber`; the last one tears the entry down.
// Sets *handle to 0 (handle may be null).
void ReleaseDevice(std::uint32_t deviceNumber, std::uint32_t* handle);

// Entries in the table, and the calls in progress on the entry of a handle
// (for tests and leak checks).
std::size_t OpenDeviceCount();
std::uint32_t CallsInProgress(std::uint32_t handle);

}  // namespace qio::library
