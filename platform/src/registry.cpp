// The hosted registry: one in-memory tree of keys below the local-machine
// root, one lock, and a table of checked key handles.
//
// A key handle is  4 << 28 | generation << 16 | slot  (the kernel's handles
// use kinds 1 to 3 in the top bits, so the two tables never hand out the same
// value). The generation advances whenever a slot is freed, so a closed handle
// stays invalid after its slot is reused. A handle keeps its key alive; when
// the key is deleted the handle still has to be closed, and every other call
// on it fails with kErrorInvalidHandle.
#include <algorithm>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <new>

#include "qio/platform/errors.h"
#include "qio/platform/faults.h"
#include "qio/platform/registry.h"
#include "registry_store.h"

namespace qio::platform {
namespace {

using detail::RegValueRecord;

struct Key : std::enable_shared_from_this<Key> {
  std::string name;  // case as created
  Key* parent = nullptr;
  std::size_t depth = 0;
  bool deleted = false;
  std::vector<std::shared_ptr<Key>> children;  // creation order
  std::vector<RegValueRecord> values;          // creation order
};

constexpr std::uint32_t kKeyHandleTag = 0x40000000u;
constexpr std::uint32_t kTagMask = 0xF0000000u;
constexpr std::uint32_t kGenerationShift = 16;
constexpr std::uint32_t kGenerationMask = 0xFFFu;
constexpr std::uint32_t kSlotMask = 0xFFFFu;
constexpr std::size_t kSlotCount = 0x10000;
// Freed slots are reused oldest first once this many are waiting, so that a
// stale value does not soon match a new key.
constexpr std::size_t kFreeReserve = 256;

class KeyHandleTable {
 public:
  bool HasRoom() const { return !free_.empty() || slots_.size() < kSlotCount; }

  RegKey Insert(std::shared_ptr<Key> key) {
    std::uint32_t slot = 0;
    if (!free_.empty() && (free_.size() > kFreeReserve || slots_.size() == kSlotCount)) {
      slot = free_.front();
      free_.pop_front();
    } else if (slots_.size() < kSlotCount) {
      slot = static_cast<std::uint32_t>(slots_.size());
      slots_.emplace_back();
    } else {
      return kNullHandle;
    }
    slots_[slot].key = std::move(key);
    return kKeyHandleTag | (slots_[slot].generation << kGenerationShift) | slot;
  }

  // The key of a live handle (possibly deleted meanwhile), or null.
  Key* Find(RegKey handle) {
    Slot* slot = SlotOf(handle);
    return slot != nullptr ? slot->key.get() : nullptr;
  }

  bool Remove(RegKey handle) {
    Slot* slot = SlotOf(handle);
    if (slot == nullptr) return false;
    Free(handle & kSlotMask);
    return true;
  }

  void Clear() {
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      if (slots_[i].key) Free(static_cast<std::uint32_t>(i));
    }
  }

 private:
  struct Slot {
    std::uint32_t generation = 0;
    std::shared_ptr<Key> key;
  };

  Slot* SlotOf(RegKey handle) {
    if ((handle & kTagMask) != kKeyHandleTag) return nullptr;
    const std::uint32_t index = handle & kSlotMask;
    if (index >= slots_.size()) return nullptr;
    Slot& slot = slots_[index];
    if (!slot.key || slot.generation != ((handle >> kGenerationShift) & kGenerationMask)) {
      return nullptr;
    }
    return &slot;
  }

  // Never fails: keys are closed in destructors. With no memory to queue the
  // slot for reuse, the slot is simply not reused.
  void Free(std::uint32_t index) noexcept {
    slots_[index].key.reset();
    slots_[index].generation = (slots_[index].generation + 1) & kGenerationMask;
    try {
      free_.push_back(index);
    } catch (const std::bad_alloc&) {
      NoteResourceFailure();
    }
  }

  std::vector<Slot> slots_;
  std::deque<std::uint32_t> free_;
};

struct Registry {
  std::mutex mutex;
  std::shared_ptr<Key> root = std::make_shared<Key>();
  KeyHandleTable handles;
};

// Never destroyed: drivers and static objects may still close keys while the
// process exits.
Registry& TheRegistry() {
  static Registry* const registry = new Registry;
  return *registry;
}

char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool NamesEqual(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return FoldCase(x) == FoldCase(y); });
}

bool HasControlChar(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

// The live key behind a handle; null with *status set otherwise.
Key* ResolveLocked(Registry& registry, RegKey handle, std::uint32_t* status) {
  Key* key = handle == kLocalMachine ? registry.root.get() : registry.handles.Find(handle);
  if (key == nullptr || key->deleted) {
    *status = kErrorInvalidHandle;
    return nullptr;
  }
  *status = kErrorSuccess;
  return key;
}

Key* FindChildLocked(const Key& key, std::string_view name) {
  for (const auto& child : key.children) {
    if (NamesEqual(child->name, name)) return child.get();
  }
  return nullptr;
}

Key* WalkLocked(Key* from, const std::vector<std::string>& components) {
  for (const auto& component : components) {
    from = FindChildLocked(*from, component);
    if (from == nullptr) return nullptr;
  }
  return from;
}

// A new, empty key below `parent`, the last of its children.
Key* AddChildLocked(Key* parent, const std::string& name) {
  auto fresh = std::make_shared<Key>();
  fresh->name = name;
  fresh->parent = parent;
  fresh->depth = parent->depth + 1;
  Key* child = fresh.get();
  parent->children.push_back(std::move(fresh));
  return child;
}

// Opens or creates the path below `from`; null when it would nest too deep.
Key* CreatePathLocked(Key* from, const std::vector<std::string>& components, bool* created) {
  *created = false;
  if (from->depth + components.size() > detail::kMaxKeyDepth) return nullptr;
  for (const auto& component : components) {
    Key* child = FindChildLocked(*from, component);
    if (child == nullptr) {
      child = AddChildLocked(from, component);
      *created = true;
    } else {
      *created = false;
    }
    from = child;
  }
  return from;
}

// Marks the subtree as gone and frees what no handle still holds.
void MarkDeletedLocked(Key* key) {
  key->deleted = true;
  for (const auto& child : key->children) MarkDeletedLocked(child.get());
  key->children.clear();
  key->values.clear();
}

void DeleteKeyLocked(Key* key) {
  std::shared_ptr<Key> keep = key->shared_from_this();
  auto& siblings = key->parent->children;
  siblings.erase(std::find(siblings.begin(), siblings.end(), keep));
  MarkDeletedLocked(key);
  key->parent = nullptr;
}

RegValueRecord* FindValueLocked(Key& key, std::string_view name) {
  for (auto& value : key.values) {
    if (NamesEqual(value.name, name)) return &value;
  }
  return nullptr;
}

void SetValueLocked(Key& key, std::string_view name, std::uint32_t type, std::vector<std::uint8_t> data) {
  if (RegValueRecord* value = FindValueLocked(key, name)) {
    value->type = type;
    value->data = std::move(data);
    return;
  }
  key.values.push_back(RegValueRecord{std::string(name), type, std::move(data)});
}

bool EraseValueLocked(Key& key, std::string_view name) {
  auto it = std::find_if(key.values.begin(), key.values.end(),
                         [name](const RegValueRecord& value) { return NamesEqual(value.name, name); });
  if (it == key.values.end()) return false;
  key.values.erase(it);
  return true;
}

// The changes of one text import, applied so that they can be taken back: an
// allocation that fails half-way through (std::bad_alloc from Apply) undoes
// every change already made when the transaction is destroyed, so the text
// changes all of the registry or none of it. The log has its room before
// the first change, and taking a change back allocates nothing: a vector
// that lost an element still has the capacity to get it back. Keys deleted
// are taken out of the tree at once and marked deleted (which their open
// handles see) only at Commit.
class ImportTransaction {
 public:
  ImportTransaction(Key* root, const std::vector<detail::RegOperation>& operations) : root_(root) {
    std::size_t changes = 0;
    for (const auto& op : operations) changes += op.path.size() + 1;
    log_.reserve(changes);
  }
  ~ImportTransaction() {
    if (!committed_) Rollback();
  }
  ImportTransaction(const ImportTransaction&) = delete;
  ImportTransaction& operator=(const ImportTransaction&) = delete;

  void Apply(const detail::RegOperation& op) {
    using Kind = detail::RegOperation::Kind;
    if (op.kind == Kind::DeleteKey) {
      Key* key = WalkLocked(root_, op.path);
      if (key != nullptr && key != root_) RemoveKey(key);
      return;
    }
    Key* key = CreatePath(op.path);
    if (key == nullptr) return;
    if (op.kind == Kind::SetValue) {
      SetValue(*key, op);
    } else if (op.kind == Kind::DeleteValue) {
      RemoveValue(*key, op.name);
    }
  }

  void Commit() {
    committed_ = true;
    for (Change& change : log_) {
      if (change.kind == Change::Kind::RemovedKey) {
        MarkDeletedLocked(change.key.get());
        change.key->parent = nullptr;
      }
    }
  }

 private:
  struct Change {
    enum class Kind : std::uint8_t { AddedKey, RemovedKey, AddedValue, ReplacedValue, RemovedValue };
    Kind kind;
    Key* owner = nullptr;         // the parent of a key, the key of a value
    std::shared_ptr<Key> key;     // RemovedKey
    std::size_t index = 0;        // RemovedKey, ReplacedValue, RemovedValue
    RegValueRecord value;         // ReplacedValue (type and data), RemovedValue
  };

  // Opens or creates the path; null when it would nest too deep.
  Key* CreatePath(const std::vector<std::string>& components) {
    Key* from = root_;
    if (components.size() > detail::kMaxKeyDepth) return nullptr;
    for (const auto& component : components) {
      Key* child = FindChildLocked(*from, component);
      if (child == nullptr) {
        child = AddChildLocked(from, component);
        log_.push_back({Change::Kind::AddedKey, from, nullptr, 0, {}});
      }
      from = child;
    }
    return from;
  }

  void RemoveKey(Key* key) {
    auto& siblings = key->parent->children;
    const auto at = std::find_if(siblings.begin(), siblings.end(), [key](const auto& p) { return p.get() == key; });
    log_.push_back({Change::Kind::RemovedKey, key->parent, *at, static_cast<std::size_t>(at - siblings.begin()), {}});
    siblings.erase(at);
  }

  void SetValue(Key& key, const detail::RegOperation& op) {
    std::vector<std::uint8_t> data = op.data;
    if (RegValueRecord* value = FindValueLocked(key, op.name)) {
      log_.push_back({Change::Kind::ReplacedValue, &key, nullptr,
                      static_cast<std::size_t>(value - key.values.data()), {}});
      RegValueRecord& old = log_.back().value;
      old.type = value->type;
      old.data.swap(value->data);
      value->type = op.type;
      value->data.swap(data);
      return;
    }
    key.values.push_back(RegValueRecord{op.name, op.type, std::move(data)});
    log_.push_back({Change::Kind::AddedValue, &key, nullptr, 0, {}});
  }

  void RemoveValue(Key& key, std::string_view name) {
    RegValueRecord* value = FindValueLocked(key, name);
    if (value == nullptr) return;
    const auto index = static_cast<std::size_t>(value - key.values.data());
    log_.push_back({Change::Kind::RemovedValue, &key, nullptr, index, std::move(*value)});
    key.values.erase(key.values.begin() + static_cast<std::ptrdiff_t>(index));
  }

  // From the last change back, each one in the state it left.
  void Rollback() noexcept {
    for (auto change = log_.rbegin(); change != log_.rend(); ++change) {
      switch (change->kind) {
        case Change::Kind::AddedKey: change->owner->children.pop_back(); break;
        case Change::Kind::RemovedKey: {
          auto& siblings = change->owner->children;
          siblings.insert(siblings.begin() + static_cast<std::ptrdiff_t>(change->index), std::move(change->key));
          break;
        }
        case Change::Kind::AddedValue: change->owner->values.pop_back(); break;
        case Change::Kind::ReplacedValue: {
          RegValueRecord& value = change->owner->values[change->index];
          value.type = change->value.type;
          value.data.swap(change->value.data);
          break;
        }
        case Change::Kind::RemovedValue: {
          auto& values = change->owner->values;
          values.insert(values.begin() + static_cast<std::ptrdiff_t>(change->index), std::move(change->value));
          break;
        }
      }
    }
  }

  Key* root_;
  std::vector<Change> log_;
  bool committed_ = false;
};

// Copies one value out under the lock (for the conveniences, which need the
// type and the bytes from one consistent moment).
std::uint32_t CopyValue(RegKey handle, std::string_view name, RegValueRecord* out) {
  Registry& registry = TheRegistry();
  std::scoped_lock lock(registry.mutex);
  std::uint32_t status = kErrorSuccess;
  Key* key = ResolveLocked(registry, handle, &status);
  if (key == nullptr) return status;
  const RegValueRecord* value = FindValueLocked(*key, name);
  if (value == nullptr) return kErrorFileNotFound;
  *out = *value;
  return kErrorSuccess;
}

std::uint32_t OpenOrCreate(RegKey parent, std::string_view subKey, RegKey* key, bool create,
                           bool* created) {
  if (key == nullptr) return kErrorInvalidParameter;
  *key = kNullHandle;
  if (created != nullptr) *created = false;
  std::vector<std::string> components;
  if (!detail::SplitKeyPath(subKey, &components)) return kErrorInvalidParameter;
  Registry& registry = TheRegistry();
  std::scoped_lock lock(registry.mutex);
  std::uint32_t status = kErrorSuccess;
  Key* from = ResolveLocked(registry, parent, &status);
  if (from == nullptr) return status;
  if (!registry.handles.HasRoom()) return kErrorNotEnoughMemory;
  Key* target = nullptr;
  bool fresh = false;
  if (create) {
    target = CreatePathLocked(from, components, &fresh);
    if (target == nullptr) return kErrorInvalidParameter;
  } else {
    target = WalkLocked(from, components);
    if (target == nullptr) return kErrorFileNotFound;
  }
  *key = registry.handles.Insert(target->shared_from_this());
  if (created != nullptr) *created = fresh;
  return kErrorSuccess;
}

// Runs a registry call, turning an allocation failure into its error code
// (these calls sit below C entry points, which no exception may cross).
template <class Call>
std::uint32_t Guarded(Call&& call) {
  try {
    return call();
  } catch (const std::bad_alloc&) {
    NoteResourceFailure();
    return kErrorNotEnoughMemory;
  }
}

}  // namespace

namespace detail {

bool SplitKeyPath(std::string_view path, std::vector<std::string>* components) {
  components->clear();
  if (!path.empty() && path.front() == '\\') path.remove_prefix(1);
  if (path.empty()) return true;
  if (path.back() == '\\') path.remove_suffix(1);
  while (true) {
    const std::size_t cut = path.find('\\');
    const std::string_view component = path.substr(0, cut);
    if (component.empty() || component.size() > kMaxKeyNameChars || HasControlChar(component)) {
      components->clear();
      return false;
    }
    components->emplace_back(component);
    if (cut == std::string_view::npos) return true;
    path.remove_prefix(cut + 1);
  }
}

bool IsValidValueName(std::string_view name) {
  return name.size() <= kMaxValueNameChars && !HasControlChar(name);
}

void ApplyRegOperations(const std::vector<RegOperation>& operations) {
  Registry& registry = TheRegistry();
  std::scoped_lock lock(registry.mutex);
  ImportTransaction transaction(registry.root.get(), operations);
  for (const auto& op : operations) transaction.Apply(op);
  transaction.Commit();
}

namespace {
void VisitLocked(const Key& key, std::string& path, const RegKeyVisitor& visit) {
  visit(path, key.values);
  for (const auto& child : key.children) {
    const std::size_t length = path.size();
    if (!path.empty()) path += '\\';
    path += child->name;
    VisitLocked(*child, path, visit);
    path.resize(length);
  }
}
}  // namespace

void VisitRegKeys(const RegKeyVisitor& visit) {
  Registry& registry = TheRegistry();
  std::scoped_lock lock(registry.mutex);
  std::string path;
  VisitLocked(*registry.root, path, visit);
}

}  // namespace detail

std::uint32_t RegOpenKey(RegKey parent, std::string_view subKey, RegKey* key) {
  return Guarded([&] { return OpenOrCreate(parent, subKey, key, false, nullptr); });
}

std::uint32_t RegCreateKey(RegKey parent, std::string_view subKey, RegKey* key, bool* created) {
  if (ShouldFail(FaultKind::RegistryWrite)) return kErrorNotEnoughMemory;
  return Guarded([&] { return OpenOrCreate(parent, subKey, key, true, created); });
}

std::uint32_t RegCloseKey(RegKey key) {
  if (key == kLocalMachine) return kErrorSuccess;
  Registry& registry = TheRegistry();
  std::scoped_lock lock(registry.mutex);
  return registry.handles.Remove(key) ? kErrorSuccess : kErrorInvalidHandle;
}

std::uint32_t RegQueryValue(RegKey handle, std::string_view name, std::uint32_t* type, void* data,
                            std::uint32_t* size) {
  if (data != nullptr && size == nullptr) return kErrorInvalidParameter;
  Registry& registry = TheRegistry();
  std::scoped_lock lock(registry.mutex);
  std::uint32_t status = kErrorSuccess;
  Key* key = ResolveLocked(registry, handle, &status);
  if (key == nullptr) return status;
  const RegValueRecord* value = FindValueLocked(*key, name);
  if (value == nullptr) return kErrorFileNotFound;
  if (type != nullptr) *type = value->type;
  const auto needed = static_cast<std::uint32_t>(value->data.size());
  if (data != nullptr) {
    if (*size < needed) {
      *size = needed;
      return kErrorMoreData;
    }
    if (needed != 0) std::memcpy(data, value->data.data(), needed);
  }
  if (size != nullptr) *size = needed;
  return kErrorSuccess;
}

std::uint32_t RegSetValue(RegKey handle, std::string_view name, std::uint32_t type, const void* data,
                          std::uint32_t size) {
  if (data == nullptr && size != 0) return kErrorInvalidParameter;
  if (type == kRegDword && size != sizeof(std::uint32_t)) return kErrorInvalidParameter;
  if (!detail::IsValidValueName(name)) return kErrorInvalidParameter;
  if (ShouldFail(FaultKind::RegistryWrite)) return kErrorNotEnoughMemory;
  return Guarded([&] {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::vector<std::uint8_t> copy(bytes, bytes + size);
    Registry& registry = TheRegistry();
    std::scoped_lock lock(registry.mutex);
    std::uint32_t status = kErrorSuccess;
    Key* key = ResolveLocked(registry, handle, &status);
    if (key == nullptr) return status;
    SetValueLocked(*key, name, type, std::move(copy));
    return kErrorSuccess;
  });
}

std::uint32_t RegDeleteValue(RegKey handle, std::string_view name) {
  Registry& registry = TheRegistry();
  std::scoped_lock lock(registry.mutex);
  std::uint32_t status = kErrorSuccess;
  Key* key = ResolveLocked(registry, handle, &status);
  if (key == nullptr) return status;
  return EraseValueLocked(*key, name) ? kErrorSuccess : kErrorFileNotFound;
}

// On kErrorMoreData *nameChars receives the capacity the name needs
// (its length plus the terminator); the buffer is left as it was.
std::uint32_t RegEnumKey(RegKey handle, std::uint32_t index, char* name, std::uint32_t* nameChars) {
  if (name == nullptr || nameChars == nullptr) return kErrorInvalidParameter;
  Registry& registry = TheRegistry();
  std::scoped_lock lock(registry.mutex);
  std::uint32_t status = kErrorSuccess;
  Key* key = ResolveLocked(registry, handle, &status);
  if (key == nullptr) return status;
  if (index >= key->children.size()) return kErrorNoMoreItems;
  const std::string& childName = key->children[index]->name;
  const auto length = static_cast<std::uint32_t>(childName.size());
  if (*nameChars <= length) {
    *nameChars = length + 1;
    return kErrorMoreData;
  }
  std::memcpy(name, childName.data(), length);
  name[length] = '\0';
  *nameChars = length;
  return kErrorSuccess;
}

std::uint32_t RegDeleteKey(RegKey parent, std::string_view subKey) {
  return Guarded([&] {
    std::vector<std::string> components;
    if (!detail::SplitKeyPath(subKey, &components)) return kErrorInvalidParameter;
    Registry& registry = TheRegistry();
    std::scoped_lock lock(registry.mutex);
    std::uint32_t status = kErrorSuccess;
    Key* from = ResolveLocked(registry, parent, &status);
    if (from == nullptr) return status;
    Key* target = WalkLocked(from, components);
    if (target == nullptr) return kErrorFileNotFound;
    if (target == registry.root.get()) return kErrorAccessDenied;
    DeleteKeyLocked(target);
    return kErrorSuccess;
  });
}

std::uint32_t RegSetString(RegKey key, std::string_view name, std::string_view text) {
  return Guarded([&] {
    const std::vector<std::uint8_t> bytes = Utf8ToUtf16Le(text, true);
    if (bytes.size() > std::numeric_limits<std::uint32_t>::max()) return kErrorInvalidParameter;
    return RegSetValue(key, name, kRegString, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  });
}

std::uint32_t RegSetDword(RegKey key, std::string_view name, std::uint32_t value) {
  const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                 static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  return RegSetValue(key, name, kRegDword, bytes, sizeof bytes);
}

// A string value is read up to its first terminator; any other type is
// kErrorInvalidData.
std::uint32_t RegQueryString(RegKey key, std::string_view name, std::string* text) {
  if (text == nullptr) return kErrorInvalidParameter;
  return Guarded([&] {
    RegValueRecord value;
    const std::uint32_t status = CopyValue(key, name, &value);
    if (status != kErrorSuccess) return status;
    if (value.type != kRegString && value.type != kRegExpandString) return kErrorInvalidData;
    std::size_t bytes = value.data.size();
    for (std::size_t i = 0; i + 1 < value.data.size(); i += 2) {
      if (value.data[i] == 0 && value.data[i + 1] == 0) {
        bytes = i;
        break;
      }
    }
    *text = Utf16LeToUtf8(value.data.data(), bytes);
    return kErrorSuccess;
  });
}

std::uint32_t RegQueryDword(RegKey key, std::string_view name, std::uint32_t* value) {
  if (value == nullptr) return kErrorInvalidParameter;
  return Guarded([&] {
    RegValueRecord record;
    const std::uint32_t status = CopyValue(key, name, &record);
    if (status != kErrorSuccess) return status;
    if (record.type != kRegDword || record.data.size() != sizeof(std::uint32_t)) return kErrorInvalidData;
    *value = static_cast<std::uint32_t>(record.data[0]) | (static_cast<std::uint32_t>(record.data[1]) << 8) |
             (static_cast<std::uint32_t>(record.data[2]) << 16) |
             (static_cast<std::uint32_t>(record.data[3]) << 24);
    return kErrorSuccess;
  });
}

void RegClearAll() {
  Registry& registry = TheRegistry();
  std::scoped_lock lock(registry.mutex);
  for (const auto& child : registry.root->children) MarkDeletedLocked(child.get());
  registry.root->children.clear();
  registry.root->values.clear();
  registry.handles.Clear();
}

}  // namespace qio::platform
