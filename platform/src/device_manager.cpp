// The device manager: loads a stream driver for each key under
// Drivers\BuiltIn, gives each instance an active key and a stream name, and
// unloads them all at shutdown.
#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "devices.h"
#include "handle_table.h"
#include "qio/platform/clock.h"
#include "qio/platform/errors.h"
#include "qio/platform/faults.h"
#include "qio/platform/registry.h"

namespace qio::platform {
namespace detail {

bool Device::Acquire() {
  std::scoped_lock lock(mutex_);
  if (retired_) return false;
  ++users_;
  return true;
}

void Device::Release() {
  std::scoped_lock lock(mutex_);
  if (users_ > 0 && --users_ == 0) idle_.NotifyAll();
}

void Device::Retire() {
  std::scoped_lock lock(mutex_);
  retired_ = true;
}

bool Device::Retired() {
  std::scoped_lock lock(mutex_);
  return retired_;
}

bool Device::WaitIdle(std::uint64_t deadlineNs) {
  std::unique_lock lock(mutex_);
  while (users_ > 0) {
    if (!idle_.WaitUntil(lock, deadlineNs) && users_ > 0) return false;
  }
  return true;
}

namespace {

constexpr std::string_view kBuiltInPath = "Drivers\\BuiltIn";
constexpr std::string_view kActivePath = "Drivers\\Active";
constexpr std::uint32_t kNameChars = 256;
// How long shutdown waits for driver calls still running on other threads.
constexpr std::uint64_t kStopGraceNs = 5'000'000'000ull;

struct Manager {
  CriticalSection lifecycle;  // serialises Start, Stop and the power calls (which wait)
  std::mutex devicesMutex;
  std::vector<std::shared_ptr<Device>> devices;  // in load order
  bool running = false;
  // Devices that were still in use at a shutdown: kept, module and all, so
  // code still running in them stays mapped.
  std::vector<std::shared_ptr<Device>> abandoned;
};

Manager& State() {
  static Manager* manager = new Manager;  // outlives static destruction
  return *manager;
}

std::vector<std::shared_ptr<Device>> Snapshot() {
  auto& state = State();
  std::scoped_lock lock(state.devicesMutex);
  return state.devices;
}

void Note(std::vector<std::string>* messages, std::string text) {
  if (messages != nullptr) messages->push_back(std::move(text));
}

// A registry key closed on every path.
class Key {
 public:
  Key() = default;
  ~Key() {
    if (key_ != 0) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  bool Open(std::string_view path) { return RegOpenKey(kLocalMachine, path, &key_) == kErrorSuccess; }
  bool Create(std::string_view path, bool* created) {
    return RegCreateKey(kLocalMachine, path, &key_, created) == kErrorSuccess;
  }
  RegKey Get() const { return key_; }

 private:
  RegKey key_ = 0;
};

enum class Read { kOk, kMissing, kWrongType };

Read ReadString(RegKey key, std::string_view name, std::string* text) {
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  if (RegQueryValue(key, name, &type, nullptr, &size) != kErrorSuccess) return Read::kMissing;
  if (type != kRegString && type != kRegExpandString) return Read::kWrongType;
  return RegQueryString(key, name, text) == kErrorSuccess ? Read::kOk : Read::kWrongType;
}

Read ReadDword(RegKey key, std::string_view name, std::uint32_t* value) {
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  if (RegQueryValue(key, name, &type, nullptr, &size) != kErrorSuccess) return Read::kMissing;
  if (type != kRegDword) return Read::kWrongType;
  return RegQueryDword(key, name, value) == kErrorSuccess ? Read::kOk : Read::kWrongType;
}

struct BuiltIn {
  std::string keyName;
  std::string path;  // Drivers\BuiltIn\<keyName>
  std::optional<std::uint32_t> order;
  std::optional<std::uint32_t> index;
  std::string dll;
  std::string prefix;
};

bool ValidPrefix(std::string_view prefix) {
  return prefix.size() == 3 && std::all_of(prefix.begin(), prefix.end(), [](char c) {
           return std::isalnum(static_cast<unsigned char>(c)) != 0;
         });
}

// Reads one built-in key; nothing (and a message) when it cannot be loaded.
std::optional<BuiltIn> ReadBuiltIn(std::string keyName, std::vector<std::string>* messages) {
  BuiltIn entry;
  entry.path = std::string(kBuiltInPath) + "\\" + keyName;
  entry.keyName = std::move(keyName);
  const std::string skipped = "skipped " + entry.path + ": ";
  Key key;
  if (!key.Open(entry.path)) {
    Note(messages, skipped + "the key cannot be opened");
    return std::nullopt;
  }
  switch (ReadString(key.Get(), "Dll", &entry.dll)) {
    case Read::kOk: break;
    case Read::kMissing: Note(messages, skipped + "no \"Dll\" value"); return std::nullopt;
    case Read::kWrongType: Note(messages, skipped + "\"Dll\" is not a string"); return std::nullopt;
  }
  switch (ReadString(key.Get(), "Prefix", &entry.prefix)) {
    case Read::kOk: break;
    case Read::kMissing: Note(messages, skipped + "no \"Prefix\" value"); return std::nullopt;
    case Read::kWrongType: Note(messages, skipped + "\"Prefix\" is not a string"); return std::nullopt;
  }
  if (!ValidPrefix(entry.prefix)) {
    Note(messages, skipped + "\"Prefix\" \"" + entry.prefix + "\" is not three letters or digits");
    return std::nullopt;
  }
  std::uint32_t value = 0;
  switch (ReadDword(key.Get(), "Index", &value)) {
    case Read::kOk:
      if (value > 9) {
        Note(messages, skipped + "\"Index\" " + std::to_string(value) + " is not a digit 0 to 9");
        return std::nullopt;
      }
      entry.index = value;
      break;
    case Read::kMissing: break;
    case Read::kWrongType: Note(messages, skipped + "\"Index\" is not a dword"); return std::nullopt;
  }
  switch (ReadDword(key.Get(), "Order", &value)) {
    case Read::kOk: entry.order = value; break;
    case Read::kMissing: break;
    case Read::kWrongType:
      Note(messages, "note " + entry.path + ": \"Order\" is not a dword; loaded as if it had none");
      break;
  }
  return entry;
}

bool LessNoCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return Lower(x) < Lower(y); });
}

std::vector<BuiltIn> ReadBuiltInKeys(std::vector<std::string>* messages) {
  std::vector<BuiltIn> entries;
  Key builtIn;
  if (!builtIn.Open(kBuiltInPath)) {
    Note(messages, "no " + std::string(kBuiltInPath) + " key: no driver loaded");
    return entries;
  }
  for (std::uint32_t index = 0;; ++index) {
    char name[kNameChars];
    std::uint32_t chars = kNameChars;
    const std::uint32_t status = RegEnumKey(builtIn.Get(), index, name, &chars);
    if (status == kErrorNoMoreItems) break;
    if (status == kErrorMoreData) {
      Note(messages, "skipped a key under " + std::string(kBuiltInPath) + ": its name is too long");
      continue;
    }
    if (status != kErrorSuccess) break;
    if (auto entry = ReadBuiltIn(std::string(name, chars), messages)) entries.push_back(std::move(*entry));
  }
  // Ascending "Order"; keys without one come last; then by name.
  std::stable_sort(entries.begin(), entries.end(), [](const BuiltIn& a, const BuiltIn& b) {
    if (a.order.has_value() != b.order.has_value()) return a.order.has_value();
    if (a.order != b.order) return *a.order < *b.order;
    return LessNoCase(a.keyName, b.keyName);
  });
  return entries;
}

bool NameInUse(const std::string& name) { return FindDevice(name) != nullptr; }

// The stream name for the entry: its own index, or the first free one.
std::optional<std::string> ChooseName(const BuiltIn& entry) {
  if (entry.index) {
    std::string name = entry.prefix + std::to_string(*entry.index) + ":";
    if (NameInUse(name)) return std::nullopt;
    return name;
  }
  for (unsigned digit : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 0u}) {
    std::string name = entry.prefix + std::to_string(digit) + ":";
    if (!NameInUse(name)) return name;
  }
  return std::nullopt;
}

// Creates the first free Drivers\Active\NN with "Name" and "Key".
std::optional<std::string> CreateActiveKey(const std::string& name, const std::string& builtInPath) {
  for (unsigned number = 1; number < 10000; ++number) {
    char path[32];
    std::snprintf(path, sizeof path, "%s\\%02u", std::string(kActivePath).c_str(), number);
    Key key;
    bool created = false;
    if (!key.Create(path, &created)) return std::nullopt;
    if (!created) continue;
    if (RegSetString(key.Get(), "Name", name) != kErrorSuccess ||
        RegSetString(key.Get(), "Key", builtInPath) != kErrorSuccess) {
      RegDeleteKey(kLocalMachine, path);
      return std::nullopt;
    }
    return std::string(path);
  }
  return std::nullopt;
}

template <class T>
bool Resolve(const Module& module, const std::string& prefix, const char* entry, T* target,
             std::string* missing) {
  *target = reinterpret_cast<T>(module.Symbol(prefix + "_" + entry));
  if (*target == nullptr && missing != nullptr) {
    if (!missing->empty()) *missing += ", ";
    *missing += prefix + "_" + entry;
  }
  return *target != nullptr;
}

std::string FileName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::shared_ptr<Device> LoadDevice(const BuiltIn& entry, std::vector<std::string>* messages) {
  const std::string failed = "failed " + entry.path + ": ";
  const std::optional<std::string> name = ChooseName(entry);
  if (!name) {
    Note(messages, failed + (entry.index ? "the stream name " + entry.prefix + std::to_string(*entry.index) +
                                               ": is already in use"
                                         : "no free index for the prefix " + entry.prefix));
    return nullptr;
  }
  const std::optional<std::string> activeKey = CreateActiveKey(*name, entry.path);
  if (!activeKey) {
    Note(messages, failed + "the active key cannot be created");
    return nullptr;
  }
  auto fail = [&](const std::string& reason) {
    RegDeleteKey(kLocalMachine, *activeKey);
    Note(messages, failed + reason);
    return nullptr;
  };

  auto device = std::make_shared<Device>();
  device->info.name = *name;
  device->info.activeKey = *activeKey;
  device->info.builtInKey = entry.path;
  device->prefix = entry.prefix;
  device->info.module = ResolveModule(entry.dll);
  if (device->info.module.empty()) {
    return fail("module \"" + entry.dll + "\" not found in " + ModuleDirectory());
  }
  std::string error;
  device->module = Module::Load(device->info.module, &error);
  if (!device->module) return fail("module " + FileName(device->info.module) + " cannot be loaded: " + error);

  std::string missing;
  const Module& module = *device->module;
  const std::string& prefix = entry.prefix;
  EntryPoints& e = device->entry;
  bool complete = Resolve(module, prefix, "Init", &e.init, &missing);
  complete = Resolve(module, prefix, "Deinit", &e.deinit, &missing) && complete;
  complete = Resolve(module, prefix, "Open", &e.open, &missing) && complete;
  complete = Resolve(module, prefix, "Close", &e.close, &missing) && complete;
  complete = Resolve(module, prefix, "IOControl", &e.ioControl, &missing) && complete;
  Resolve(module, prefix, "Read", &e.read, nullptr);
  Resolve(module, prefix, "Write", &e.write, nullptr);
  Resolve(module, prefix, "Seek", &e.seek, nullptr);
  Resolve(module, prefix, "PowerUp", &e.powerUp, nullptr);
  Resolve(module, prefix, "PowerDown", &e.powerDown, nullptr);
  if (!complete) {
    return fail("module " + FileName(device->info.module) + " lacks the entry point" +
                (missing.find(',') != std::string::npos ? "s " : " ") + missing);
  }

  std::string loaded = "loaded " + *name + " " + entry.path + " " + FileName(device->info.module) + " " + *activeKey;
  SetLastError(kErrorSuccess);
  device->context = e.init(activeKey->c_str(), nullptr);
  if (device->context == 0) {
    const std::uint32_t reason = GetLastError();
    return fail(prefix + "_Init refused " + *activeKey +
                (reason != kErrorSuccess ? " (error " + std::to_string(reason) + ")" : ""));
  }
  try {
    Note(messages, std::move(loaded));
  } catch (const std::bad_alloc&) {  // the device runs; only its line is missing
    NoteResourceFailure();
  }
  return device;
}

}  // namespace

std::shared_ptr<Device> FindDevice(std::string_view name) {
  auto& state = State();
  std::scoped_lock lock(state.devicesMutex);
  for (const auto& device : state.devices) {
    if (EqualNoCase(device->info.name, name)) return device;
  }
  return nullptr;
}

}  // namespace detail

std::size_t DeviceManagerStart(std::vector<std::string>* messages) {
  auto& state = detail::State();
  std::scoped_lock lifecycle(state.lifecycle);
  if (state.running) {
    detail::Note(messages, "the device manager is already running");
    return 0;
  }
  {
    std::scoped_lock lock(state.devicesMutex);
    state.running = true;
  }
  std::size_t loaded = 0;
  for (const auto& entry : detail::ReadBuiltInKeys(messages)) {
    {
      // Room first, so that a device whose Init ran is always listed (and so
      // deinitialised at the stop).
      std::scoped_lock lock(state.devicesMutex);
      state.devices.reserve(state.devices.size() + 1);
    }
    if (auto device = detail::LoadDevice(entry, messages)) {
      std::scoped_lock lock(state.devicesMutex);
      state.devices.push_back(std::move(device));
      ++loaded;
    }
  }
  return loaded;
}

std::size_t DeviceManagerStop(std::vector<std::string>* messages) {
  auto& state = detail::State();
  std::scoped_lock lifecycle(state.lifecycle);
  std::vector<std::shared_ptr<detail::Device>> devices;
  {
    std::scoped_lock lock(state.devicesMutex);
    if (!state.running) return 0;
    state.running = false;
    devices.swap(state.devices);
  }
  for (const auto& device : devices) device->Retire();
  // Closing a stream runs XXX_Close now, or when a driver call still running
  // on it returns.
  for (Handle stream : detail::HandlesOfKind(detail::ObjectKind::Stream)) CloseHandle(stream);

  const std::uint64_t deadline = NowNs() + detail::kStopGraceNs;
  std::size_t abandoned = 0;
  std::vector<std::shared_ptr<detail::Device>> deinitialised;
  for (auto it = devices.rbegin(); it != devices.rend(); ++it) {
    const auto& device = *it;
    if (device->WaitIdle(deadline)) {
      device->entry.deinit(device->context);
      deinitialised.push_back(device);
    } else {
      detail::Note(messages, "kept " + device->info.name + " loaded: a driver call is still running on it");
      state.abandoned.push_back(device);
      ++abandoned;
    }
    RegDeleteKey(kLocalMachine, device->info.activeKey);
  }
  for (const auto& device : deinitialised) {
    detail::Note(messages, "unloaded " + device->info.name + " " + device->info.builtInKey);
    device->module.reset();
  }
  return abandoned;
}

void DeviceManagerStop() { DeviceManagerStop(nullptr); }

namespace {

constinit std::array<std::atomic<void (*)()>, 8> gShutdownHooks{};

}  // namespace

void AddShutdownHook(void (*hook)()) {
  if (hook == nullptr) return;
  for (auto& slot : gShutdownHooks) {
    void (*expected)() = nullptr;
    if (slot.load() == hook || slot.compare_exchange_strong(expected, hook) || expected == hook) return;
  }
}

void RunShutdownHooks() {
  for (auto& slot : gShutdownHooks) {
    if (void (*hook)() = slot.load()) hook();
  }
}

void DeviceManagerPowerDown() {
  auto& state = detail::State();
  std::scoped_lock lifecycle(state.lifecycle);
  const auto devices = detail::Snapshot();
  for (auto it = devices.rbegin(); it != devices.rend(); ++it) {
    if ((*it)->entry.powerDown != nullptr) (*it)->entry.powerDown((*it)->context);
  }
}

void DeviceManagerPowerUp() {
  auto& state = detail::State();
  std::scoped_lock lifecycle(state.lifecycle);
  for (const auto& device : detail::Snapshot()) {
    if (device->entry.powerUp != nullptr) device->entry.powerUp(device->context);
  }
}

std::vector<ActiveDevice> ListActiveDevices() {
  std::vector<ActiveDevice> list;
  for (const auto& device : detail::Snapshot()) list.push_back(device->info);
  return list;
}

int QueryDevice(std::string_view deviceName, std::string_view entry, void* record, std::uint32_t size) {
  const std::shared_ptr<detail::Device> device = detail::FindDevice(deviceName);
  // A device being stopped takes no new callers: its context may be gone soon.
  if (device == nullptr || !device->Acquire()) {
    SetLastError(kErrorFileNotFound);
    return 0;
  }
  const auto query = reinterpret_cast<QioStreamQuery>(device->module->Symbol(device->prefix + "_" + std::string(entry)));
  int result = 0;
  if (query == nullptr) {
    SetLastError(kErrorProcNotFound);
  } else {
    SetLastError(kErrorSuccess);
    result = query(device->context, record, size);
  }
  device->Release();
  return result;
}

}  // namespace qio::platform
