// The device manager's record of one loaded stream-driver instance, shared by
// the loader (device_manager.cpp) and the stream handles (stream_devices.cpp).
// Internal to the platform library.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "module_loader.h"
#include "qio/platform/condition.h"
#include "qio/platform/device_manager.h"
#include "qio/platform/stream_driver.h"

namespace qio::platform::detail {

struct EntryPoints {
  QioStreamInit init = nullptr;
  QioStreamDeinit deinit = nullptr;
  QioStreamOpen open = nullptr;
  QioStreamClose close = nullptr;
  QioStreamIoControl ioControl = nullptr;
  QioStreamRead read = nullptr;
  QioStreamWrite write = nullptr;
  QioStreamSeek seek = nullptr;
  QioStreamPower powerUp = nullptr;
  QioStreamPower powerDown = nullptr;
};

// One driver instance from XXX_Init to XXX_Deinit. Its users are the opens in
// progress and the streams whose XXX_Close has not run yet; the device is
// deinitialised only once it has none, so no driver call can overlap Deinit.
class Device {
 public:
  ActiveDevice info;
  std::string prefix;  // of the entry points, e.g. "Q62"
  std::unique_ptr<Module> module;
  EntryPoints entry;
  std::uintptr_t context = 0;

  // Adds a user; false once the device is being stopped.
  bool Acquire();
  void Release();
  // Refuses new users from now on.
  void Retire();
  bool Retired();
  // Waits until the device has no users or the clock reaches the deadline.
  bool WaitIdle(std::uint64_t deadlineNs);

 private:
  std::mutex mutex_;
  Condition idle_;
  unsigned users_ = 0;
  bool retired_ = false;
};

// The loaded device of that stream name (case-insensitive), or null.
std::shared_ptr<Device> FindDevice(std::string_view name);

}  // namespace qio::platform::detail
