// The names a component's registry script is edited by, all taken from the
// script's path: the component directory below the image tree's
// "Device_Drivers" folder gives the component name, the driver key name and
// the kind of key the templates live under, and with them the text of a
// template's section header.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qio::config {

// Kind of registry key a component's templates live under.
inline constexpr std::int32_t kBusPci = 0;       // PCI template
inline constexpr std::int32_t kBusUsb = 1;       // USB client driver
inline constexpr std::int32_t kBusBuiltIn = 2;   // built-in board (this board)

struct ScriptNames {
  std::string componentName;  // "QIO5162"
  std::string driverKeyName;  // "ZQS5162S"
  std::int32_t busKind = -1;
  // A header up to its template number: "[HKEY_LOCAL_MACHINE\Drivers\BuiltIn\ZQS5162S".
  std::string keyPrefix;
  // The header's last component before the number ("ZQS5162S" or "Template").
  std::string searchBase;

  // keyPrefix + n + "]".
  std::string HeaderLine(int n) const { return keyPrefix + std::to_string(n) + "]"; }
  // searchBase + n + "]": the tail of template n's header ("ZQS5162S0]").
  std::string SearchKey(int n) const { return searchBase + std::to_string(n) + "]"; }
};

// Derives the names from a script path
// ".../Device_Drivers/<component>/<component>.reg". The last "Device_Drivers"
// folder of the path is the image tree's own, so a root directory whose name
// holds "Device_Drivers", "PCI", "QIO" or "USB" changes nothing. Returns 0, or
// EINVAL when the path has no such folder, names no bus kind, or its
// component name holds a control character.
int DeriveScriptNames(std::string_view path, ScriptNames& names);

}  // namespace qio::config
