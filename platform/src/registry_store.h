// The registry's tree as seen by its text import and export. Internal to the
// platform library: the public calls in registry.h work through key handles,
// the text layer works on whole paths below the local-machine root.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qio::platform::detail {

// Limits of the target's registry: a key name of up to 255 characters, a
// value name of up to 16383, keys nested at most 512 deep.
inline constexpr std::size_t kMaxKeyNameChars = 255;
inline constexpr std::size_t kMaxValueNameChars = 16383;
inline constexpr std::size_t kMaxKeyDepth = 512;

struct RegValueRecord {
  std::string name;  // case as created; empty for the key's default value
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

// Splits "A\B\C" into its components. A single leading and a single trailing
// "\" are tolerated; an empty component (a doubled "\"), a component longer
// than kMaxKeyNameChars or one holding a control character is refused. An
// empty path (the key itself) gives no components.
bool SplitKeyPath(std::string_view path, std::vector<std::string>* components);

// A value name is at most kMaxValueNameChars long and holds no control
// character (so that every name survives a round trip through the text).
bool IsValidValueName(std::string_view name);

// One change of a parsed registry text.
struct RegOperation {
  enum class Kind : std::uint8_t { CreateKey, DeleteKey, SetValue, DeleteValue };
  Kind kind = Kind::CreateKey;
  std::vector<std::string> path;  // below the local-machine root, valid per SplitKeyPath
  std::string name;               // value name (SetValue, DeleteValue)
  std::uint32_t type = 0;         // SetValue
  std::vector<std::uint8_t> data; // SetValue
};

// Applies the operations in order under the registry lock, so that no other
// thread sees a half-applied text. When an allocation fails part-way
// (std::bad_alloc, passed on) every change already made is taken back. SetValue and DeleteValue create their key
// when it is missing; deleting a missing key or value does nothing. Paths
// deeper than kMaxKeyDepth are the parser's to refuse.
void ApplyRegOperations(const std::vector<RegOperation>& operations);

// Calls visit(path, values) for every key under the registry lock: the root
// first (path empty), then depth first, subkeys in creation order; values in
// creation order. `path` is the full path below the root, "\"-separated.
using RegKeyVisitor =
    std::function<void(const std::string& path, const std::vector<RegValueRecord>& values)>;
void VisitRegKeys(const RegKeyVisitor& visit);

}  // namespace qio::platform::detail
