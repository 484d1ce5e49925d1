#include "config/script/ScriptNames.h"

#include <cerrno>

namespace qio::config {

namespace {

constexpr std::string_view kDriversDir = "Device_Drivers";
// "Device_Drivers" and the separator after it.
constexpr std::size_t kComponentOffset = kDriversDir.size() + 1;
constexpr std::size_t kComponentChars = 7;
// Characters 4 to 7 of the component name ("5162" of "QIO5162").
constexpr std::size_t kModelOffset = 3;
constexpr std::size_t kModelChars = 4;
// The fixed fields the names were first kept in: 19 characters and a terminator.
constexpr std::size_t kNameChars = 19;
constexpr std::size_t kPrefixChars = 255;

constexpr std::string_view kRootKey = "[HKEY_LOCAL_MACHINE\\Drivers\\";
constexpr std::string_view kTemplate = "Template";

// Substring of `text` from `pos`, at most `count` characters, empty past the end.
std::string_view Piece(std::string_view text, std::size_t pos, std::size_t count) {
  return pos <= text.size() ? text.substr(pos, count) : std::string_view{};
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Offset of the last "Device_Drivers" that stands as a whole folder name,
// followed by a separator; npos when there is none.
std::size_t FindDriversFolder(std::string_view path) {
  for (std::size_t at = path.rfind(kDriversDir); at != std::string_view::npos;
       at = at == 0 ? std::string_view::npos : path.rfind(kDriversDir, at - 1)) {
    const bool startsFolder = at == 0 || IsSeparator(path[at - 1]);
    const std::size_t after = at + kDriversDir.size();
    if (startsFolder && after < path.size() && IsSeparator(path[after])) return at;
  }
  return std::string_view::npos;
}

std::string Clip(std::string text, std::size_t limit) {
  if (text.size() > limit) text.resize(limit);
  return text;
}

}  // namespace

int DeriveScriptNames(std::string_view path, ScriptNames& names) {
  const std::size_t d = FindDriversFolder(path);
  if (d == std::string_view::npos) return EINVAL;
  ScriptNames derived;
  const std::string_view component = Piece(path, d + kComponentOffset, kComponentChars);
  // The component names the registry keys: a control character (a line
  // break, a NUL) would break the header line and no registry takes it.
  for (const char c : component) {
    if (static_cast<unsigned char>(c) < 0x20) return EINVAL;
  }
  derived.componentName = Clip(std::string(component), kNameChars);
  const std::string_view model = Piece(component, kModelOffset, kModelChars);
  derived.driverKeyName = Clip("ZQS" + std::string(model) + "S", kNameChars);
  const std::string& driverKey = derived.driverKeyName;

  // The bus kind is read from the part below the image tree's folder only.
  const std::string_view tail = path.substr(d);
  std::string prefix(kRootKey);
  if (tail.find("PCI") != std::string_view::npos) {
    derived.busKind = kBusPci;
    prefix.append("BuiltIn\\PCI\\Template\\").append(driverKey);
    derived.searchBase = driverKey;
    if (driverKey.find("5175") == std::string::npos) {
      prefix.append("\\").append(kTemplate);
      derived.searchBase = kTemplate;
    }
  }
  if (tail.find("QIO") != std::string_view::npos) {
    derived.busKind = kBusBuiltIn;
    prefix.append("BuiltIn\\").append(driverKey);
    derived.searchBase = driverKey;
  }
  if (tail.find("USB") != std::string_view::npos) {
    derived.busKind = kBusUsb;
    prefix.append("USB\\ClientDrivers\\USB")
        .append(Piece(derived.componentName, kModelOffset, kModelChars))
        .append("_Class\\")
        .append(kTemplate);
    derived.searchBase = kTemplate;
  }
  if (derived.busKind < 0) return EINVAL;
  derived.keyPrefix = Clip(prefix, kPrefixChars);
  names = std::move(derived);
  return 0;
}

}  // namespace qio::config
