// One open device of the process: its settings, its stream handle to the
// driver and the 27 event slots that CheckEvent waits on.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "RegistryTable.h"
#include "qio/platform/condition.h"
#include "qio/platform/kernel.h"

namespace qio::library {

// EventSlotTable: slot 0 is the device's close event, slots 1 to 24 the DI
// channels 0 to 23, slots 25 and 26 the terminal counts of counters 0 and 1.
// The driver's event source of slot s is s - 1.
inline constexpr std::size_t kEventSlots = 27;
inline constexpr std::size_t kCloseSlot = 0;
inline constexpr std::uint16_t kEventDeviceClosed = 0xFFFE;
inline constexpr std::uint16_t kEventTimeout = 0xFFFF;
inline constexpr std::uint16_t kEventNone = 0;
inline constexpr std::uint16_t kEventDiFirst = 0x3400;
inline constexpr std::uint16_t kEventTerminalCount0 = 0x5000;
inline constexpr std::uint16_t kEventTerminalCount1 = 0x5001;

constexpr std::array<std::uint16_t, kEventSlots> MakeEventSlotTable() {
  std::array<std::uint16_t, kEventSlots> types{};
  types[kCloseSlot] = kEventDeviceClosed;
  for (std::uint16_t channel = 0; channel < 24; ++channel) {
    types[1 + channel] = static_cast<std::uint16_t>(kEventDiFirst + channel);
  }
  types[25] = kEventTerminalCount0;
  types[26] = kEventTerminalCount1;
  return types;
}
inline constexpr std::array<std::uint16_t, kEventSlots> kEventSlotTable = MakeEventSlotTable();

// The slot of an event type (searched in slot order), or -1.
constexpr int FindEventSlot(std::uint32_t eventType) {
  for (std::size_t slot = 0; slot < kEventSlots; ++slot) {
    if (kEventSlotTable[slot] == eventType) return static_cast<int>(slot);
  }
  return -1;
}

constexpr std::uint16_t SourceOfSlot(int slot) { return static_cast<std::uint16_t>(slot - 1); }

struct DeviceEntry {
  DeviceSettings settings{};
  std::uint32_t deviceNumber = 0;
  std::int32_t refCount = 0;  // changed only under the table's open/close lock
  platform::Handle streamHandle = platform::kNullHandle;
  // Per counter: 1 once CounterPWMSetting succeeded.
  std::array<std::atomic<std::uint32_t>, 2> pwmConfigured{};
  // Per slot: the type CheckEvent reports for it (0xFFFE for slot 0, the
  // source's type while it is enabled, else 0).
  std::array<std::atomic<std::uint16_t>, kEventSlots> eventTypes{};
  // Slot 0 the close event (unnamed, manual reset); the others the driver's
  // named events.
  std::array<platform::Handle, kEventSlots> eventHandles{};
  std::uint32_t handle = 0;  // the driver handle given out for this entry

  // Held from the read-back to the write of a masked or bit write, and across
  // a whole-port write, so that writers of different lines of one port in
  // several threads do not undo each other's lines.
  platform::CriticalSection outputLock;

  // Calls in progress on the entry; its teardown waits until none is left.
  std::mutex usersMutex;
  platform::Condition usersLeft;
  std::uint32_t users = 0;

  platform::Handle CloseEvent() const { return eventHandles[kCloseSlot]; }
};

}  // namespace qio::library
