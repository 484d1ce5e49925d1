// Registry access of the library: tables of values read or written in one go,
// and the device settings that DeviceOpen reads for a device number.
#pragma once

#include <cstdint>
#include <string>

#include "Features.h"

namespace qio::library {

// One row of a RegistryValueTable. A table ends with a row whose name is null.
// Strings are UTF-16 code units with a terminator; a multi-string is a run of
// terminated strings ended by one more terminator.
struct RegistryValue {
  const char* name;
  std::uint32_t type;   // platform::kRegString, kRegBinary, kRegDword, kRegMultiString
  std::uint32_t size;   // bytes: the destination's capacity (read), binary length (write)
  void* data;           // destination (read) or source (write)
};

enum class RegistryMode { Read, Write };

// Reads or writes the rows of `table` in order under the key `keyPath` of the
// local-machine root.
//  Read: the key must exist; each value is queried into its row's data with
//    the row's size as capacity, whatever its type in the registry; a missing
//    value or one larger than its row fails the whole read (rows before it
//    keep what was read).
//  Write: with `overwrite` false an existing key is left untouched (success).
//    Otherwise the key is created or opened and every row written with its
//    type; the sizes are (length + 1) * 2 for a string, 4 for a double word,
//    the row's size for binary data and the whole run for a multi-string. Any
//    other type or a failing write fails.
// The key is closed on every path. Null path or table: failure.
bool ProcessRegistryTable(const char* keyPath, const RegistryValue* table, RegistryMode mode, bool overwrite);

inline constexpr std::size_t kCallNameUnits = 10;     // 20 bytes with terminator
inline constexpr std::size_t kInstallDirUnits = 255;

// The library's copy of one device's registry configuration.
struct DeviceSettings {
  std::uint32_t boardId;
  char16_t callName[kCallNameUnits];
  std::uint32_t allowConflicts;
  std::int32_t deviceIndex;
  std::uint32_t timerClock;
  std::uint32_t baseAddress;
  std::uint32_t ioPortCount;
  std::uint32_t irq;
  std::uint8_t digPortCfg[3];
  const DeviceFeatures* features;
  char16_t installDir[kInstallDirUnits];  // read by the configuration dialog only
};

// The per-device key of the driver's service key, e.g. "...\ZQS5162S\Device001".
std::string DeviceKeyPath(std::uint32_t deviceNumber);

// Prefills `settings`, reads the nine values of device `deviceNumber` and
// refers `features` to the board's record. True only when every value was
// read and "BoardID" is 166.
bool ReadDeviceSettings(std::uint32_t deviceNumber, DeviceSettings& settings);

// The stream device name of "CallName" as UTF-8 (up to the first terminator).
std::string CallNameUtf8(const DeviceSettings& settings);

}  // namespace qio::library
