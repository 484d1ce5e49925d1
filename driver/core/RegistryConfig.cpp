// Registry configuration and device registration of a board.
#include "RegistryConfig.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "qio/platform/errors.h"
#include "qio/platform/registry.h"
#include "qio/protocol/registry_names.h"

namespace qio::driver {

namespace {

using platform::RegKey;

// Strings travel between char16_t buffers and the registry's UTF-16LE bytes
// as they are: the target, like this host, is little-endian.
static_assert(std::endian::native == std::endian::little);

constexpr std::uint32_t kNameBytes = sizeof(DeviceContext::streamName);  // 20
constexpr std::uint32_t kDriverKeyBytes = 120;
constexpr std::uint32_t kLookUpNameChars = 62;
constexpr std::uint32_t kAssignNameChars = 255;
constexpr std::size_t kDeviceNameChars = 40;
constexpr std::size_t kDevicePrefixChars = 6;  // "Device"

// Characters of a string in a buffer of `capacityChars`, up to its
// terminator or the end of the buffer.
std::size_t BoundedLength(const char16_t* text, std::size_t capacityChars) {
  std::size_t n = 0;
  while (n < capacityChars && text[n] != 0) ++n;
  return n;
}

// The bytes a table entry writes, with the size rule of its type; false for a
// type that cannot be written.
bool EntryBytes(const RegistryEntry& entry, std::vector<std::uint8_t>& bytes) {
  const auto* raw = static_cast<const std::uint8_t*>(entry.data);
  switch (entry.type) {
    case platform::kRegDword:
      bytes.assign(raw, raw + 4);
      return true;
    case platform::kRegString:
    case platform::kRegExpandString: {
      const auto* text = static_cast<const char16_t*>(entry.data);
      const std::size_t chars = BoundedLength(text, entry.size / 2);
      bytes.assign(raw, raw + chars * 2);
      bytes.push_back(0);
      bytes.push_back(0);
      return true;
    }
    case platform::kRegMultiString: {
      const auto* text = static_cast<const char16_t*>(entry.data);
      const std::size_t capacity = entry.size / 2;
      std::size_t pos = 0;
      bytes.clear();
      while (pos < capacity && text[pos] != 0) {
        const std::size_t chars = BoundedLength(text + pos, capacity - pos);
        const std::size_t end = bytes.size();
        bytes.resize(end + chars * 2);
        std::memcpy(bytes.data() + end, raw + pos * 2, chars * 2);
        bytes.push_back(0);
        bytes.push_back(0);
        pos += chars + 1;
      }
      bytes.push_back(0);
      bytes.push_back(0);
      return true;
    }
    case platform::kRegBinary:
      bytes.assign(raw, raw + entry.size);
      return true;
    default:
      return false;
  }
}

// Closes a registry key once, on every path.
class KeyGuard {
 public:
  explicit KeyGuard(RegKey key) : key_(key) {}
  KeyGuard(const KeyGuard&) = delete;
  KeyGuard& operator=(const KeyGuard&) = delete;
  ~KeyGuard() { platform::RegCloseKey(key_); }
  RegKey get() const { return key_; }

 private:
  RegKey key_;
};

bool ReadEntries(RegKey key, std::span<RegistryEntry> table) {
  for (RegistryEntry& entry : table) {
    if (entry.name == nullptr) break;
    std::uint32_t type = 0;
    std::uint32_t size = entry.size;
    if (platform::RegQueryValue(key, entry.name, &type, entry.data, &size) != platform::kErrorSuccess) {
      return false;
    }
    entry.type = type;
    entry.size = size;
  }
  return true;
}

bool WriteEntries(RegKey key, std::span<RegistryEntry> table) {
  std::vector<std::uint8_t> bytes;
  for (const RegistryEntry& entry : table) {
    if (entry.name == nullptr) break;
    try {
      if (!EntryBytes(entry, bytes)) return false;
      if (platform::RegSetValue(key, entry.name, entry.type, bytes.data(),
                                static_cast<std::uint32_t>(bytes.size())) != platform::kErrorSuccess) {
        return false;
      }
    } catch (...) {
      return false;
    }
  }
  return true;
}

std::u16string Widen(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::string Narrow(const char16_t* text, std::size_t capacityChars) {
  const std::size_t chars = BoundedLength(text, capacityChars);
  return platform::Utf16LeToUtf8(reinterpret_cast<const std::uint8_t*>(text), chars * 2);
}

std::string SubkeyPath(const char* serviceKey, int deviceNumber) {
  char path[256];
  std::snprintf(path, sizeof path, protocol::kDeviceSubkeyFormat, serviceKey, deviceNumber);
  return path;
}

RegistryEntry StringEntry(const char* name, std::u16string& text) {
  return {name, platform::kRegString, static_cast<std::uint32_t>((text.size() + 1) * 2), text.data()};
}

RegistryEntry DwordEntry(const char* name, std::uint32_t& value) {
  return {name, platform::kRegDword, sizeof value, &value};
}

// The records of the running boards, in slots of a fixed table: nothing is
// allocated (a start cannot fail for it) and nothing needs destroying, so a
// board released late at the process's exit still finds the table. Guarded by
// gRegistrationMutex. A board holds one number, and numbers go up to
// kMaxDeviceNumber.
constinit std::mutex gRegistrationMutex;
constinit std::array<const DeviceContext*, protocol::kMaxDeviceNumber + 1> gRunningBoards{};

bool NumberHeld(int number) {
  for (const DeviceContext* board : gRunningBoards) {
    if (board != nullptr && board->deviceNumber == number) return true;
  }
  return false;
}

}  // namespace

std::unique_lock<std::mutex> LockRegistration() { return std::unique_lock<std::mutex>(gRegistrationMutex); }

void HoldDeviceNumber(const DeviceContext* ctx) {
  for (const DeviceContext*& slot : gRunningBoards) {
    if (slot == nullptr) {
      slot = ctx;
      return;
    }
  }
}

void ReleaseDeviceNumber(const DeviceContext* ctx) {
  std::scoped_lock lock(gRegistrationMutex);
  for (const DeviceContext*& slot : gRunningBoards) {
    if (slot == ctx) slot = nullptr;
  }
}

bool AccessRegistry(std::string_view keyPath, std::span<RegistryEntry> table, RegistryMode mode) {
  if (mode == RegistryMode::kRead) {
    RegKey key = 0;
    if (platform::RegOpenKey(platform::kLocalMachine, keyPath, &key) != platform::kErrorSuccess) return false;
    KeyGuard guard(key);
    return ReadEntries(key, table);
  }
  RegKey key = 0;
  bool created = false;
  if (platform::RegCreateKey(platform::kLocalMachine, keyPath, &key, &created) != platform::kErrorSuccess) {
    return false;
  }
  KeyGuard guard(key);
  if (mode == RegistryMode::kWriteIfNew && !created) return true;
  return WriteEntries(key, table);
}

DeviceSettings CurrentSettings(const DeviceContext& ctx) {
  return {ctx.ioBase, ctx.ioLength, ctx.irq, ctx.timerClock, ctx.portConfig};
}

void ApplySettings(DeviceContext& ctx, const DeviceSettings& settings) {
  ctx.ioBase = settings.ioBase;
  ctx.ioLength = settings.ioLength;
  ctx.irq = settings.irq;
  ctx.timerClock = settings.timerClock;
  ctx.portConfig = settings.portConfig;
}

std::string ServiceSubkeyPath(int deviceNumber) { return SubkeyPath(protocol::kServiceKey, deviceNumber); }
std::string SharedListSubkeyPath(int deviceNumber) { return SubkeyPath(protocol::kSharedListKey, deviceNumber); }

std::u16string FormatDeviceName(std::uint32_t ioBase, std::uint32_t irq) {
  char name[kDeviceNameChars + 1];
  std::snprintf(name, sizeof name, protocol::kDeviceNameFormat, ioBase, static_cast<int>(irq));
  return Widen(name);
}

int ParseDeviceNumber(std::string_view subkeyName) {
  if (subkeyName.size() <= kDevicePrefixChars) return -1;
  long number = 0;
  std::size_t pos = kDevicePrefixChars;
  if (subkeyName[pos] < '0' || subkeyName[pos] > '9') return -1;
  for (; pos < subkeyName.size() && subkeyName[pos] >= '0' && subkeyName[pos] <= '9'; ++pos) {
    number = number * 10 + (subkeyName[pos] - '0');
    if (number > 0x7FFFFFFF) return -1;
  }
  return static_cast<int>(number);
}

bool ReadStreamName(DeviceContext& ctx, std::string_view activeKey) {
  RegistryEntry table[] = {
      {"Name", platform::kRegString, kNameBytes, ctx.streamName},
      {nullptr, 0, 0, nullptr},
  };
  return AccessRegistry(activeKey, table, RegistryMode::kRead);
}

bool ReadInitialConfiguration(DeviceContext& ctx, std::string_view activeKey) {
  char16_t driverKey[kDriverKeyBytes / 2] = {};
  RegistryEntry keyTable[] = {
      {"Key", platform::kRegString, kDriverKeyBytes, driverKey},
      {nullptr, 0, 0, nullptr},
  };
  if (!AccessRegistry(activeKey, keyTable, RegistryMode::kRead)) return false;

  ctx.timerClock = kDefaultTimerClock;
  ctx.portConfig = {0, 0, 0};
  RegistryEntry table[] = {
      DwordEntry("DeviceIndex", ctx.deviceIndex),
      DwordEntry("IoBase", ctx.ioBase),
      DwordEntry("IoLen", ctx.ioLength),
      DwordEntry("Irq", ctx.irq),
      DwordEntry("TimerClock", ctx.timerClock),
      {"DigPortCfg", platform::kRegBinary, protocol::kDioPorts, ctx.portConfig.data()},
      {nullptr, 0, 0, nullptr},
  };
  return AccessRegistry(Narrow(driverKey, std::size(driverKey)), table, RegistryMode::kRead);
}

int LookUpDeviceNumber(const DeviceContext& ctx) {
  RegKey service = 0;
  if (platform::RegOpenKey(platform::kLocalMachine, protocol::kServiceKey, &service) != platform::kErrorSuccess) {
    return -1;
  }
  KeyGuard guard(service);
  for (std::uint32_t index = 0;; ++index) {
    char name[kLookUpNameChars];
    std::uint32_t chars = kLookUpNameChars;
    const std::uint32_t status = platform::RegEnumKey(service, index, name, &chars);
    if (status == platform::kErrorMoreData) continue;  // a name too long for the buffer is skipped
    if (status != platform::kErrorSuccess) break;
    const std::string_view subkey(name, chars);
    if (subkey.find("Device") == std::string_view::npos) continue;

    std::uint32_t boardId = 0;
    std::uint32_t deviceIndex = 0;
    RegistryEntry table[] = {
        DwordEntry("BoardID", boardId),
        DwordEntry("DeviceIndex", deviceIndex),
        {nullptr, 0, 0, nullptr},
    };
    const std::string path = std::string(protocol::kServiceKey) + "\\" + std::string(subkey);
    if (!AccessRegistry(path, table, RegistryMode::kRead)) continue;
    if (boardId != ctx.boardId || deviceIndex != ctx.deviceIndex) continue;
    // Numbers the driver never assigns cannot name this board's events.
    const int number = ParseDeviceNumber(subkey);
    if (number < 0 || number > protocol::kMaxDeviceNumber) continue;
    if (NumberHeld(number)) continue;  // another board's key repeats this index
    return number;
  }
  return -1;
}

int AssignDeviceNumber() {
  RegKey list = 0;
  std::array<bool, protocol::kMaxDeviceNumber + 1> used{};
  if (platform::RegOpenKey(platform::kLocalMachine, protocol::kSharedListKey, &list) != platform::kErrorSuccess) {
    for (int n = 0; n <= protocol::kMaxDeviceNumber; ++n) {
      if (!NumberHeld(n)) return n;
    }
    return 0;
  }
  KeyGuard guard(list);
  for (std::uint32_t index = 0;; ++index) {
    char name[kAssignNameChars];
    std::uint32_t chars = kAssignNameChars;
    if (platform::RegEnumKey(list, index, name, &chars) != platform::kErrorSuccess) break;
    const std::string_view subkey(name, chars);
    if (subkey.find("Device") == std::string_view::npos) continue;
    const int number = ParseDeviceNumber(subkey);
    if (number >= 0 && number <= protocol::kMaxDeviceNumber) used[number] = true;
  }
  for (int n = 0; n <= protocol::kMaxDeviceNumber; ++n) {
    if (!used[n] && !NumberHeld(n)) return n;
  }
  return 0;
}

namespace {

// The outermost key of `path` that does not exist yet ("" when the whole path
// exists): what creating the path adds, and so what undoing it removes.
std::string FirstMissingKey(std::string_view path) {
  std::size_t end = 0;
  while (end != std::string_view::npos) {
    end = path.find('\\', end + 1);
    const std::string_view prefix = path.substr(0, end);
    RegKey key = 0;
    if (platform::RegOpenKey(platform::kLocalMachine, prefix, &key) != platform::kErrorSuccess) {
      return std::string(prefix);
    }
    platform::RegCloseKey(key);
  }
  return {};
}

// A registration subkey written whole or not at all: when a value cannot be
// written (the registry is out of memory, say), every key this write created
// is removed again, so that no later boot finds a board registered with half
// its settings. A key that existed before is overwritten as far as it goes.
class RegistrationWrite {
 public:
  explicit RegistrationWrite(std::string path) : path_(std::move(path)), created_(FirstMissingKey(path_)) {}
  RegistrationWrite(const RegistrationWrite&) = delete;
  RegistrationWrite& operator=(const RegistrationWrite&) = delete;
  ~RegistrationWrite() {
    if (!kept_) Undo();
  }

  bool Write(std::span<RegistryEntry> table) {
    return AccessRegistry(path_, table, RegistryMode::kWrite);
  }
  void Keep() { kept_ = true; }
  void Undo() {
    if (!created_.empty()) platform::RegDeleteKey(platform::kLocalMachine, created_);
    created_.clear();
  }

 private:
  std::string path_;
  std::string created_;
  bool kept_ = false;
};

// Writes the per-device subkeys of a board seen for the first time: both, or
// (when the registry fails part-way) neither. True when both were written.
bool WriteRegistrationKeys(DeviceContext& ctx) {
  std::u16string deviceName = FormatDeviceName(ctx.ioBase, ctx.irq);
  std::u16string driverName = Widen(protocol::kLibraryFileName);
  std::u16string kernelKey = Widen(protocol::kKernelKeyName);
  RegistryEntry shared[] = {
      DwordEntry("BoardID", ctx.boardId),
      StringEntry("DeviceName", deviceName),
      StringEntry("DriverName", driverName),
      StringEntry("KernelKey", kernelKey),
      {nullptr, 0, 0, nullptr},
  };
  RegistrationWrite sharedWrite(SharedListSubkeyPath(ctx.deviceNumber));
  if (!sharedWrite.Write(shared)) return false;

  std::uint32_t allowConflicts = 1;
  RegistryEntry service[] = {
      StringEntry("DeviceName", deviceName),
      StringEntry("DriverName", driverName),
      StringEntry("KernelKey", kernelKey),
      {"CallName", platform::kRegString, kNameBytes, ctx.streamName},
      DwordEntry("DeviceIndex", ctx.deviceIndex),
      DwordEntry("BoardID", ctx.boardId),
      DwordEntry("SwitchID", ctx.switchId),
      DwordEntry("AllowConflicts", allowConflicts),
      DwordEntry("BaseAddress", ctx.ioBase),
      DwordEntry("IoPortCount", ctx.ioLength),
      DwordEntry("Irq", ctx.irq),
      DwordEntry("TimerClock", ctx.timerClock),
      {"DigPortCfg", platform::kRegBinary, protocol::kDioPorts, ctx.portConfig.data()},
      {nullptr, 0, 0, nullptr},
  };
  RegistrationWrite serviceWrite(ServiceSubkeyPath(ctx.deviceNumber));
  if (!serviceWrite.Write(service)) return false;  // both writes are undone
  serviceWrite.Keep();
  sharedWrite.Keep();
  return true;
}

}  // namespace

void RegisterDevice(DeviceContext& ctx) {
  ctx.boardId = protocol::kBoardId;
  ctx.deviceNumber = -1;
  ctx.deviceNumber = LookUpDeviceNumber(ctx);
  if (ctx.deviceNumber == -1) {
    ctx.deviceNumber = AssignDeviceNumber();
    bool registered = false;
    try {
      registered = WriteRegistrationKeys(ctx);
    } catch (const std::bad_alloc&) {  // undone on the way out
    }
    // A new board that could not be registered has no subkeys whose names a
    // refresh could bring up to date; writing the names alone would leave a
    // registration with nothing else in it.
    if (!registered) return;
  }
  try {
    DeviceSettings settings = CurrentSettings(ctx);
    ReadOpenConfiguration(ctx, settings);
    ApplySettings(ctx, settings);
    RefreshDeviceNames(ctx);
  } catch (const std::bad_alloc&) {  // the board runs on the settings in hand
  }
}

bool ReadOpenConfiguration(const DeviceContext& ctx, DeviceSettings& settings) {
  RegistryEntry table[] = {
      DwordEntry("BaseAddress", settings.ioBase),
      DwordEntry("IoPortCount", settings.ioLength),
      DwordEntry("Irq", settings.irq),
      DwordEntry("TimerClock", settings.timerClock),
      {"DigPortCfg", platform::kRegBinary, protocol::kDioPorts, settings.portConfig.data()},
      {nullptr, 0, 0, nullptr},
  };
  return AccessRegistry(ServiceSubkeyPath(ctx.deviceNumber), table, RegistryMode::kRead);
}

bool RefreshDeviceNames(DeviceContext& ctx) {
  std::u16string deviceName = FormatDeviceName(ctx.ioBase, ctx.irq);
  RegistryEntry shared[] = {
      StringEntry("DeviceName", deviceName),
      {nullptr, 0, 0, nullptr},
  };
  if (!AccessRegistry(SharedListSubkeyPath(ctx.deviceNumber), shared, RegistryMode::kWrite)) return false;
  RegistryEntry service[] = {
      StringEntry("DeviceName", deviceName),
      {"CallName", platform::kRegString, kNameBytes, ctx.streamName},
      {nullptr, 0, 0, nullptr},
  };
  return AccessRegistry(ServiceSubkeyPath(ctx.deviceNumber), service, RegistryMode::kWrite);
}

}  // namespace qio::driver
