// ProcessRegistryTable and ReadDeviceSettings.
#include "RegistryTable.h"

#include <cstdio>
#include <cstring>

#include "qio/platform/errors.h"
#include "qio/platform/registry.h"
#include "qio/protocol/registry_names.h"

namespace qio::library {
namespace {

using platform::RegKey;

// Closes a registry key once, on every path.
class KeyCloser {
 public:
  explicit KeyCloser(RegKey key) : key_(key) {}
  ~KeyCloser() { platform::RegCloseKey(key_); }
  KeyCloser(const KeyCloser&) = delete;
  KeyCloser& operator=(const KeyCloser&) = delete;

 private:
  RegKey key_;
};

// Units of a terminated UTF-16 string within `capacityUnits`, or -1 when the
// terminator is missing there.
long StringUnits(const char16_t* text, std::size_t capacityUnits) {
  for (std::size_t i = 0; i < capacityUnits; ++i) {
    if (text[i] == 0) return static_cast<long>(i);
  }
  return -1;
}

// Units of a multi-string, final terminator included, or -1.
long MultiStringUnits(const char16_t* text, std::size_t capacityUnits) {
  std::size_t i = 0;
  while (i < capacityUnits) {
    if (text[i] == 0) return static_cast<long>(i + 1);  // empty string: the run's end
    while (i < capacityUnits && text[i] != 0) ++i;
    ++i;  // past this string's terminator
  }
  return -1;
}

// Bytes to write for a row, or -1 for a row that cannot be written.
long WriteSize(const RegistryValue& row) {
  if (row.data == nullptr) return -1;
  const auto* text = static_cast<const char16_t*>(row.data);
  const std::size_t capacity = row.size / sizeof(char16_t);
  switch (row.type) {
    case platform::kRegString: {
      const long units = StringUnits(text, capacity);
      return units < 0 ? -1 : (units + 1) * 2;
    }
    case platform::kRegMultiString: {
      const long units = MultiStringUnits(text, capacity);
      return units < 0 ? -1 : units * 2;
    }
    case platform::kRegDword: return 4;
    case platform::kRegBinary: return static_cast<long>(row.size);
    default: return -1;
  }
}

bool ReadTable(const char* keyPath, const RegistryValue* table) {
  RegKey key = 0;
  if (platform::RegOpenKey(platform::kLocalMachine, keyPath, &key) != platform::kErrorSuccess) return false;
  KeyCloser closer(key);
  for (const RegistryValue* row = table; row->name != nullptr; ++row) {
    std::uint32_t type = 0;
    std::uint32_t size = row->size;
    if (row->data == nullptr) return false;
    if (platform::RegQueryValue(key, row->name, &type, row->data, &size) != platform::kErrorSuccess) return false;
  }
  return true;
}

bool WriteTable(const char* keyPath, const RegistryValue* table, bool overwrite) {
  if (!overwrite) {
    RegKey existing = 0;
    if (platform::RegOpenKey(platform::kLocalMachine, keyPath, &existing) == platform::kErrorSuccess) {
      platform::RegCloseKey(existing);
      return true;
    }
  }
  RegKey key = 0;
  if (platform::RegCreateKey(platform::kLocalMachine, keyPath, &key, nullptr) != platform::kErrorSuccess) {
    return false;
  }
  KeyCloser closer(key);
  for (const RegistryValue* row = table; row->name != nullptr; ++row) {
    const long size = WriteSize(*row);
    if (size < 0) return false;
    if (platform::RegSetValue(key, row->name, row->type, row->data, static_cast<std::uint32_t>(size)) !=
        platform::kErrorSuccess) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool ProcessRegistryTable(const char* keyPath, const RegistryValue* table, RegistryMode mode, bool overwrite) {
  if (keyPath == nullptr || table == nullptr) return false;
  return mode == RegistryMode::Read ? ReadTable(keyPath, table) : WriteTable(keyPath, table, overwrite);
}

std::string DeviceKeyPath(std::uint32_t deviceNumber) {
  char path[160];
  std::snprintf(path, sizeof path, protocol::kDeviceSubkeyFormat, protocol::kServiceKey,
                static_cast<int>(deviceNumber));
  return path;
}

bool ReadDeviceSettings(std::uint32_t deviceNumber, DeviceSettings& s) {
  s.boardId = 0;
  s.allowConflicts = 1;
  s.timerClock = 20;
  s.ioPortCount = 64;
  s.digPortCfg[0] = s.digPortCfg[1] = s.digPortCfg[2] = 1;
  // A name stored without a terminator (or as binary data) still ends inside
  // the field.
  std::memset(s.callName, 0, sizeof s.callName);

  const RegistryValue table[] = {
      {"BoardID", platform::kRegDword, sizeof s.boardId, &s.boardId},
      {"AllowConflicts", platform::kRegDword, sizeof s.allowConflicts, &s.allowConflicts},
      {"DeviceIndex", platform::kRegDword, sizeof s.deviceIndex, &s.deviceIndex},
      {"BaseAddress", platform::kRegDword, sizeof s.baseAddress, &s.baseAddress},
      {"IoPortCount", platform::kRegDword, sizeof s.ioPortCount, &s.ioPortCount},
      {"Irq", platform::kRegDword, sizeof s.irq, &s.irq},
      {"TimerClock", platform::kRegDword, sizeof s.timerClock, &s.timerClock},
      {"DigPortCfg", platform::kRegBinary, sizeof s.digPortCfg, s.digPortCfg},
      {"CallName", platform::kRegString, sizeof s.callName, s.callName},
      {nullptr, 0, 0, nullptr},
  };
  const std::string path = DeviceKeyPath(deviceNumber);
  if (!ProcessRegistryTable(path.c_str(), table, RegistryMode::Read, false)) return false;
  s.features = &TheDeviceFeatures();
  return s.boardId == protocol::kBoardId;
}

std::string CallNameUtf8(const DeviceSettings& settings) {
  std::size_t units = 0;
  while (units < kCallNameUnits && settings.callName[units] != 0) ++units;
  return platform::Utf16LeToUtf8(reinterpret_cast<const std::uint8_t*>(settings.callName),
                                 units * sizeof(char16_t));
}

}  // namespace qio::library
