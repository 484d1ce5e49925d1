// Registry configuration of a board: the table-driven registry access routine
// and the operations built on it (stream name, initial read from the driver
// key, registration under the two service keys, the per-device re-read at
// open, the name refresh).
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "../DeviceContext.h"

namespace qio::driver {

// One value of a registry table. For reading, `size` is the capacity of the
// data area and is replaced by the value's size (and `type` by its type). For
// writing, the size written follows from the type: 4 for a 32-bit number,
// (characters + 1) x 2 for a string, (sum of (characters + 1) + 1) x 2 for a
// multi-string, `size` for binary data. String data are char16_t; for writing,
// `size` bounds how far the characters are looked for. A null name ends the
// table.
struct RegistryEntry {
  const char* name;
  std::uint32_t type;
  std::uint32_t size;
  void* data;
};

enum class RegistryMode {
  kRead,
  // Create or open the key and write every entry.
  kWrite,
  // Write only when the key does not exist yet (an existing key is left as it
  // is and the result is true).
  kWriteIfNew,
};

// Reads or writes the entries in table order under the local-machine root.
// Read: the first value that cannot be read ends with false; values read
// before it keep their new contents, later ones their old. Write: an unknown
// type or a failed write ends with false. The key is closed on every path.
bool AccessRegistry(std::string_view keyPath, std::span<RegistryEntry> table, RegistryMode mode);

// The settings that the per-device subkey of the service key holds in force.
struct DeviceSettings {
  std::uint32_t ioBase = 0;
  std::uint32_t ioLength = 0;
  std::uint32_t irq = 0;
  std::uint32_t timerClock = 0;
  std::array<std::uint8_t, protocol::kDioPorts> portConfig{};
};

DeviceSettings CurrentSettings(const DeviceContext& ctx);
void ApplySettings(DeviceContext& ctx, const DeviceSettings& settings);

// "SYSTEM\CurrentControlSet\Services\ZQS5162S\Device007" and the shared list's.
std::string ServiceSubkeyPath(int deviceNumber);
std::string SharedListSubkeyPath(int deviceNumber);

// "QIO-5162 IO=300H IRQ=5", at most 40 characters.
std::u16string FormatDeviceName(std::uint32_t ioBase, std::uint32_t irq);

// The decimal number after the first six characters of a subkey name such as
// "Device007"; -1 when no digit follows.
int ParseDeviceNumber(std::string_view subkeyName);

// "Name" of the active key into streamName.
bool ReadStreamName(DeviceContext& ctx, std::string_view activeKey);

// "Key" of the active key, then "DeviceIndex", "IoBase", "IoLen", "Irq",
// "TimerClock", "DigPortCfg" of the driver key it names. True only if every
// value was read.
bool ReadInitialConfiguration(DeviceContext& ctx, std::string_view activeKey);

// The device number of a known board: a service subkey whose "BoardID" and
// "DeviceIndex" match and whose number no other running board holds; -1 when
// there is none.
int LookUpDeviceNumber(const DeviceContext& ctx);

// The smallest number 0..254 not used by a subkey of the shared list nor held
// by a running board; 0 when all are used or the list does not exist.
int AssignDeviceNumber();

// The device numbers that the boards this module runs hold, from their
// registration until their record is released. Two board keys with the same
// "DeviceIndex" would otherwise both find the first one's subkey and run as
// one device, on one set of settings and named events. The registration lock
// keeps a look-up and the hold that follows it together.
std::unique_lock<std::mutex> LockRegistration();
void HoldDeviceNumber(const DeviceContext* ctx);
void ReleaseDeviceNumber(const DeviceContext* ctx);

// Finds or assigns deviceNumber, writes the per-device subkeys of a new board,
// re-reads the settings in force and refreshes the device names. The outcome
// is not reported; a registration that fails part-way is removed again, and a
// new board that could not be registered is left at that.
void RegisterDevice(DeviceContext& ctx);

// "BaseAddress", "IoPortCount", "Irq", "TimerClock", "DigPortCfg" of the
// service per-device subkey into `settings`, in that order; a missing key or
// value ends the read and leaves the rest as they were.
bool ReadOpenConfiguration(const DeviceContext& ctx, DeviceSettings& settings);

// Writes "DeviceName" to the shared-list subkey and, only if that succeeded,
// "DeviceName" and "CallName" to the service subkey.
bool RefreshDeviceNames(DeviceContext& ctx);

}  // namespace qio::driver
