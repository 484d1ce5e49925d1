// The registry configuration the on-device dialog writes for a device number
// n: the data-acquisition layer's key ...\ZQSDAQ\Device<n>, the library's key
// ...\ZQS5162S\Device<n> (the one DeviceOpen reads) and the driver's
// built-in key Drivers\BuiltIn\ZQS5162S<k> from which the device manager
// loads Zqs5162s at the next boot. Every key lies under the local-machine
// root; every value is written through ProcessRegistryTable, overwriting.
#pragma once

#include <cstdint>
#include <string>

#include "RegistryTable.h"

namespace qio::library::dialog {

inline constexpr char kInstallDirValue[] = "InstallDir";
inline constexpr char16_t kDriverModuleName[] = u"Zqs5162S.dll";
inline constexpr std::size_t kDescriptionChars = 40;
inline constexpr std::int32_t kHighestAssignedIndex = 254;

struct DeviceWriteOutcome {
  bool sharedKey = false;    // ...\ZQSDAQ\Device<n>
  bool serviceKey = false;   // ...\ZQS5162S\Device<n>; not tried when sharedKey failed
  bool builtInKey = false;   // Drivers\BuiltIn\ZQS5162S<k>
  std::uint32_t builtInNumber = 0;  // k
};

// Writes the three keys of device `deviceNumber` from `settings`, in this
// order, and completes `settings` on the way: "InstallDir" of the driver's
// service key replaces installDir when it can be read, and an unassigned
// deviceIndex (-1) becomes the lowest free one.
DeviceWriteOutcome WriteDeviceRegistry(std::uint32_t deviceNumber, DeviceSettings& settings);

// "QIO-5162 IO=300H IRQ=5".
std::string DeviceDescription(const DeviceSettings& settings);

// The lowest index 0 to 254 that no "Device..." subkey of the driver's
// service key has as its "DeviceIndex"; 0 when all are taken or the key is
// missing.
std::int32_t AssignFreeDeviceIndex();

// The number k of the built-in key "ZQS5162S<k>" whose "DeviceIndex" is
// `deviceIndex` (the first in key order), else `deviceIndex` itself.
std::uint32_t FindBuiltInKeyNumber(std::int32_t deviceIndex);

// installDir + "\" + "Zqs5162S.dll", or the module name alone when
// installDir is empty.
std::u16string DriverPath(const DeviceSettings& settings);

}  // namespace qio::library::dialog
