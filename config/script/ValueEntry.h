// One row of a value table handed to RegScriptFile::WriteValues or
// RegScriptFile::ReadValues. A row whose name is null ends the table.
#pragma once

#include <cstdint>

namespace qio::config {

// Registry type codes as they appear in a script.
inline constexpr std::uint32_t kTypeString = 1;       // "name"="text"
inline constexpr std::uint32_t kTypeBinary = 3;       // "name"=hex:00,01
inline constexpr std::uint32_t kTypeDword = 4;        // "name"=dword:300
inline constexpr std::uint32_t kTypeMultiString = 7;  // "name"=hex(7):... or multi_sz:...

struct ValueEntry {
  const char* name;    // zero-terminated; null ends the table
  std::uint32_t type;  // writing: the type to write; reading: receives the type found
  std::uint32_t size;  // writing: bytes of data; reading: capacity of data, receives the size found
  void* data;          // the value's bytes; a string is zero-terminated
};

}  // namespace qio::config
