// Opening a script, deriving the key names from its path, and the section
// operations: finding, testing, appending and removing a template's section.
#include "config/script/RegScriptFile.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <exception>

namespace qio::config {

namespace {

constexpr std::string_view kDriversDir = "Device_Drivers";
// "Device_Drivers" and the separator after it.
constexpr std::size_t kComponentOffset = kDriversDir.size() + 1;
constexpr std::size_t kComponentChars = 7;
// Characters 4 to 7 of the component name ("5162" of "QIO5162").
constexpr std::size_t kModelOffset = 3;
constexpr std::size_t kModelChars = 4;

constexpr std::string_view kRootKey = "[HKEY_LOCAL_MACHINE\\Drivers\\";
constexpr std::string_view kTemplate = "Template";

// Copies `text` into a fixed field, truncating so the terminator always fits.
template <std::size_t N>
void SetField(char (&field)[N], std::string_view text) {
  const std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
  std::memcpy(field, text.data(), n);
  std::memset(field + n, 0, N - n);
}

template <std::size_t N>
void AppendField(char (&field)[N], std::string_view text) {
  const std::size_t used = ::strnlen(field, N - 1);
  std::string joined(field, used);
  joined.append(text);
  SetField(field, joined);
}

// Substring of `text` from `pos`, at most `count` characters, empty past the end.
std::string_view Piece(std::string_view text, std::size_t pos, std::size_t count) {
  return pos <= text.size() ? text.substr(pos, count) : std::string_view{};
}

}  // namespace

RegScriptFile::RegScriptFile(FileLayer& files) : files_(files) {}

RegScriptFile::~RegScriptFile() { Close(); }

int RegScriptFile::Open(const char* path) {
  if (path == nullptr) return EINVAL;
  if (::strnlen(path, kPathChars) >= kPathChars) return ENAMETOOLONG;
  Close();
  errno = 0;
  const int fd = files_.Open(path, O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) {
    openError_ = errno != 0 ? errno : EIO;
    return openError_;
  }
  fd_ = fd;
  path_ = path;
  int rc = DeriveNames(path_);
  if (rc == 0) rc = Reload();
  if (rc != 0) {
    Close();
    openError_ = rc;
  }
  return rc;
}

// The component name follows "Device_Drivers/"; the bus kind is read from that
// part of the path only, so that a root directory whose name happens to
// contain "PCI", "QIO" or "USB" does not change the keys.
int RegScriptFile::DeriveNames(std::string_view path) {
  const auto d = path.find(kDriversDir);
  if (d == std::string_view::npos) return EINVAL;
  const std::string_view component = Piece(path, d + kComponentOffset, kComponentChars);
  SetField(componentName_, component);
  const std::string_view model = Piece(component, kModelOffset, kModelChars);
  SetField(driverKeyName_, std::string("ZQS").append(model).append("S"));

  const std::string_view tail = path.substr(d);
  const std::string_view driverKey = driverKeyName_;
  std::int32_t kind = -1;
  SetField(keyPrefix_, kRootKey);
  if (tail.find("PCI") != std::string_view::npos) {
    kind = kBusPci;
    AppendField(keyPrefix_, "BuiltIn\\PCI\\Template\\");
    AppendField(keyPrefix_, driverKey);
    SetField(searchBase_, driverKey);
    if (driverKey.find("5175") == std::string_view::npos) {
      AppendField(keyPrefix_, "\\");
      AppendField(keyPrefix_, kTemplate);
      SetField(searchBase_, kTemplate);
    }
  }
  if (tail.find("QIO") != std::string_view::npos) {
    kind = kBusBuiltIn;
    AppendField(keyPrefix_, "BuiltIn\\");
    AppendField(keyPrefix_, driverKey);
    SetField(searchBase_, driverKey);
  }
  if (tail.find("USB") != std::string_view::npos) {
    kind = kBusUsb;
    AppendField(keyPrefix_, "USB\\ClientDrivers\\");
    AppendField(keyPrefix_, "USB");
    AppendField(keyPrefix_, Piece(componentName_, kModelOffset, kModelChars));
    AppendField(keyPrefix_, "_Class\\");
    AppendField(keyPrefix_, kTemplate);
    SetField(searchBase_, kTemplate);
  }
  if (kind < 0) return EINVAL;
  busKind_ = kind;
  return 0;
}

int RegScriptFile::Reload() {
  std::vector<char> bytes;
  if (const int rc = ReadWholeFile(files_, fd_, kMaxFileBytes, bytes); rc != 0) return rc;
  fileSize_ = static_cast<std::uint32_t>(bytes.size());
  bytes.push_back('\0');
  contents_.swap(bytes);
  cachedSection_ = -1;
  sectionStart_ = sectionEnd_ = 0;
  return 0;
}

int RegScriptFile::Commit(const std::string& text) {
  if (text.size() > kMaxFileBytes) return EFBIG;
  if (std::string_view(text) == contents()) {
    // Identical text (a value rewritten unchanged): the file already holds it.
    cachedSection_ = -1;
    sectionStart_ = sectionEnd_ = 0;
    return 0;
  }
  int newFd = -1;
  try {
    if (const int rc = ReplaceFileAtomically(files_, path_, fd_, text, &newFd); rc != 0) return rc;
  } catch (const std::exception&) {
    // A fault raised by the file layer: the old script is in place.
    return EIO;
  }
  files_.Close(fd_);
  fd_ = newFd;
  if (Reload() != 0) {
    // The new text is on disk; it is exactly what was written.
    contents_.assign(text.begin(), text.end());
    contents_.push_back('\0');
    fileSize_ = static_cast<std::uint32_t>(text.size());
    cachedSection_ = -1;
    sectionStart_ = sectionEnd_ = 0;
  }
  return 0;
}

void RegScriptFile::Close() {
  contents_.clear();
  contents_.shrink_to_fit();
  fileSize_ = 0;
  cachedSection_ = -1;
  sectionStart_ = sectionEnd_ = 0;
  if (fd_ >= 0) {
    files_.Close(fd_);
    fd_ = -1;
  }
}

std::string RegScriptFile::HeaderLine(int n) const {
  return std::string(keyPrefix_) + std::to_string(n) + "]";
}

// The header's last component, the number and "]": "ZQS5162S0]" for a built-in
// board, "Template0]" for a PCI or USB template. The closing "]" keeps template
// 1 from matching template 11.
std::string RegScriptFile::SearchKey(int n) const {
  return std::string(searchBase_) + std::to_string(n) + "]";
}

int RegScriptFile::Locate(int n) {
  if (!Loaded() || n < 0) return 1;
  if (n == cachedSection_) return sectionStart_ < sectionEnd_ ? 0 : 1;
  cachedSection_ = n;
  const std::string_view text = contents();
  const std::string key = SearchKey(n);
  const auto match = text.find(key);
  if (match == std::string_view::npos) {
    sectionStart_ = sectionEnd_ = fileSize_;
    return 1;
  }
  const auto next = text.find('[', match + key.size());
  sectionEnd_ = next == std::string_view::npos ? fileSize_ : static_cast<std::uint32_t>(next);
  // Back from the key over the rest of the prefix to the header's "[". A key
  // found without its prefix before it (in a comment near the top of the file)
  // cannot reach before the first byte.
  const std::size_t back = std::strlen(keyPrefix_) - std::strlen(searchBase_);
  sectionStart_ = static_cast<std::uint32_t>(match >= back ? match - back : 0);
  return 0;
}

bool RegScriptFile::SectionExists(int n) {
  if (!Loaded() || n < 0) return false;
  const std::string key = SearchKey(n);
  const std::string_view text = contents();
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto stop = text.find_first_of("\r\n", pos);
    const std::string_view line =
        text.substr(pos, stop == std::string_view::npos ? std::string_view::npos : stop - pos);
    if (line.find(key) != std::string_view::npos && line.find(';') == std::string_view::npos) {
      return true;
    }
    if (stop == std::string_view::npos) break;
    pos = stop + 1;
  }
  return false;
}

int RegScriptFile::AppendSection(int n) {
  if (!Loaded() || n < 0) return 1;
  std::string text(contents());
  text.append(" \r\n").append(HeaderLine(n)).append(" \r\n");
  return Commit(text) == 0 ? 0 : 1;
}

int RegScriptFile::RemoveSection(int n) {
  if (!Loaded() || n < 0) return 1;
  cachedSection_ = -1;
  if (Locate(n) != 0) return 0;  // not there: nothing changes
  const std::string_view text = contents();
  std::string kept(text.substr(0, sectionStart_));
  if (sectionEnd_ < fileSize_) kept.append(text.substr(sectionEnd_));
  return Commit(kept) == 0 ? 0 : 1;
}

}  // namespace qio::config
