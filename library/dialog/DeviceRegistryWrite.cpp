#include "DeviceRegistryWrite.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "qio/platform/errors.h"
#include "qio/platform/registry.h"
#include "qio/protocol/registry_names.h"

namespace qio::library::dialog {
namespace {

using platform::kRegBinary;
using platform::kRegDword;
using platform::kRegString;

constexpr const char* kDeviceNamePart = "Device";
constexpr std::size_t kKeyNameChars = 256;

std::u16string Utf16(std::string_view text) { return std::u16string(text.begin(), text.end()); }

std::string SubkeyPath(const char* base, std::uint32_t deviceNumber) {
  char path[192];
  std::snprintf(path, sizeof path, protocol::kDeviceSubkeyFormat, base, static_cast<int>(deviceNumber));
  return path;
}

// An open registry key, closed once.
class OpenKey {
 public:
  explicit OpenKey(const char* path) {
    if (platform::RegOpenKey(platform::kLocalMachine, path, &key_) != platform::kErrorSuccess) key_ = 0;
  }
  ~OpenKey() {
    if (key_ != 0) platform::RegCloseKey(key_);
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  explicit operator bool() const { return key_ != 0; }
  platform::RegKey get() const { return key_; }

 private:
  platform::RegKey key_ = 0;
};

// Subkey names of `key` in order; names that do not fit are skipped.
std::vector<std::string> SubkeyNames(platform::RegKey key) {
  std::vector<std::string> names;
  for (std::uint32_t index = 0;; ++index) {
    char name[kKeyNameChars];
    std::uint32_t chars = sizeof name;
    const std::uint32_t rc = platform::RegEnumKey(key, index, name, &chars);
    if (rc == platform::kErrorMoreData) continue;
    if (rc != platform::kErrorSuccess) break;
    names.emplace_back(name, chars);
  }
  return names;
}

// The "DeviceIndex" double word of subkey `name` of `parent`.
bool ReadDeviceIndex(const std::string& parentPath, const std::string& name, std::uint32_t* value) {
  const std::string path = parentPath + "\\" + name;
  OpenKey key(path.c_str());
  if (!key) return false;
  std::uint32_t type = 0;
  std::uint32_t size = sizeof *value;
  return platform::RegQueryValue(key.get(), "DeviceIndex", &type, value, &size) == platform::kErrorSuccess &&
         size == sizeof *value;
}

// "InstallDir" of the driver's service key, when it is a terminated string
// that fits the field.
void ReadInstallDir(DeviceSettings& s) {
  char16_t dir[kInstallDirUnits] = {};
  const RegistryValue table[] = {
      {kInstallDirValue, kRegString, static_cast<std::uint32_t>(sizeof dir), dir},
      {nullptr, 0, 0, nullptr},
  };
  if (!ProcessRegistryTable(protocol::kServiceKey, table, RegistryMode::Read, false)) return;
  if (std::char_traits<char16_t>::find(dir, kInstallDirUnits, u'\0') == nullptr) return;
  std::memcpy(s.installDir, dir, sizeof dir);
}

}  // namespace

std::string DeviceDescription(const DeviceSettings& s) {
  char text[kDescriptionChars + 1];
  std::snprintf(text, sizeof text, protocol::kDeviceNameFormat, s.baseAddress, static_cast<int>(s.irq));
  return text;
}

std::int32_t AssignFreeDeviceIndex() {
  OpenKey service(protocol::kServiceKey);
  if (!service) return 0;
  bool used[256] = {};
  for (const std::string& name : SubkeyNames(service.get())) {
    if (name.find(kDeviceNamePart) == std::string::npos) continue;
    std::uint32_t index = 0;
    if (ReadDeviceIndex(protocol::kServiceKey, name, &index) && index <= 255) used[index] = true;
  }
  for (std::int32_t index = 0; index <= kHighestAssignedIndex; ++index) {
    if (!used[index]) return index;
  }
  return 0;
}

std::uint32_t FindBuiltInKeyNumber(std::int32_t deviceIndex) {
  const auto fallback = static_cast<std::uint32_t>(deviceIndex);
  OpenKey builtIn(protocol::kBuiltInKey);
  if (!builtIn) return fallback;
  const std::string driverKey = protocol::kKernelKeyName;  // "ZQS5162S"
  for (const std::string& name : SubkeyNames(builtIn.get())) {
    if (name.find(driverKey) == std::string::npos) continue;
    std::uint32_t index = 0;
    if (!ReadDeviceIndex(protocol::kBuiltInKey, name, &index) || index != fallback) continue;
    // The number is the rest of the name after "ZQS5162S". A name with no
    // number there names no key this dialog could rewrite: looking on keeps
    // it from landing on another board's key 0.
    const std::string digits = name.size() > driverKey.size() ? name.substr(driverKey.size()) : std::string();
    if (digits.empty() || digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
      continue;
    }
    return static_cast<std::uint32_t>(std::stoul(digits));
  }
  return fallback;
}

std::u16string DriverPath(const DeviceSettings& s) {
  const std::u16string dir(s.installDir, std::char_traits<char16_t>::length(s.installDir));
  if (dir.empty()) return kDriverModuleName;
  return dir + u"\\" + kDriverModuleName;
}

DeviceWriteOutcome WriteDeviceRegistry(std::uint32_t n, DeviceSettings& s) {
  DeviceWriteOutcome outcome;
  std::u16string description = Utf16(DeviceDescription(s));
  ReadInstallDir(s);
  std::u16string libraryName = Utf16(protocol::kLibraryFileName);
  std::u16string kernelKey = Utf16(protocol::kKernelKeyName);
  std::u16string prefix = Utf16(protocol::kStreamPrefix);
  const auto bytes = [](std::u16string& text) { return static_cast<std::uint32_t>((text.size() + 1) * 2); };

  const std::string sharedPath = SubkeyPath(protocol::kSharedListKey, n);
  const RegistryValue shared[] = {
      {"DriverName", kRegString, bytes(libraryName), libraryName.data()},
      {"KernelKey", kRegString, bytes(kernelKey), kernelKey.data()},
      {"BoardID", kRegDword, 4, &s.boardId},
      {"DeviceName", kRegString, bytes(description), description.data()},
      {nullptr, 0, 0, nullptr},
  };
  outcome.sharedKey = ProcessRegistryTable(sharedPath.c_str(), shared, RegistryMode::Write, true);

  if (s.deviceIndex == -1) s.deviceIndex = AssignFreeDeviceIndex();

  if (outcome.sharedKey) {
    const std::string servicePath = SubkeyPath(protocol::kServiceKey, n);
    const RegistryValue service[] = {
        {"DriverName", kRegString, bytes(libraryName), libraryName.data()},
        {"KernelKey", kRegString, bytes(kernelKey), kernelKey.data()},
        {"DeviceName", kRegString, bytes(description), description.data()},
        {"BoardID", kRegDword, 4, &s.boardId},
        {"AllowConflicts", kRegDword, 4, &s.allowConflicts},
        {"DeviceIndex", kRegDword, 4, &s.deviceIndex},
        {"BaseAddress", kRegDword, 4, &s.baseAddress},
        {"IoPortCount", kRegDword, 4, &s.ioPortCount},
        {"Irq", kRegDword, 4, &s.irq},
        {"TimerClock", kRegDword, 4, &s.timerClock},
        {"DigPortCfg", kRegBinary, sizeof s.digPortCfg, s.digPortCfg},
        {"CallName", kRegString, sizeof s.callName, s.callName},
        {nullptr, 0, 0, nullptr},
    };
    outcome.serviceKey = ProcessRegistryTable(servicePath.c_str(), service, RegistryMode::Write, true);
  }

  outcome.builtInNumber = FindBuiltInKeyNumber(s.deviceIndex);
  std::u16string driverPath = DriverPath(s);
  char builtInPath[96];
  std::snprintf(builtInPath, sizeof builtInPath, "%s%u", protocol::kBuiltInDriverKeyPrefix, outcome.builtInNumber);
  const RegistryValue builtIn[] = {
      {"DLL", kRegString, bytes(driverPath), driverPath.data()},
      {"Prefix", kRegString, bytes(prefix), prefix.data()},
      {"DriverName", kRegString, bytes(libraryName), libraryName.data()},
      {"KernelKey", kRegString, bytes(kernelKey), kernelKey.data()},
      {"DeviceName", kRegString, bytes(description), description.data()},
      {"BoardID", kRegDword, 4, &s.boardId},
      {"AllowConflicts", kRegDword, 4, &s.allowConflicts},
      {"DeviceIndex", kRegDword, 4, &s.deviceIndex},
      {"IoBase", kRegDword, 4, &s.baseAddress},
      {"IoLen", kRegDword, 4, &s.ioPortCount},
      {"Irq", kRegDword, 4, &s.irq},
      {"TimerClock", kRegDword, 4, &s.timerClock},
      {"DigPortCfg", kRegBinary, sizeof s.digPortCfg, s.digPortCfg},
      {nullptr, 0, 0, nullptr},
  };
  outcome.builtInKey = ProcessRegistryTable(builtInPath, builtIn, RegistryMode::Write, true);
  return outcome;
}

}  // namespace qio::library::dialog
