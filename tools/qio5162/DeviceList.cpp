#include "DeviceList.h"

#include <algorithm>
#include <cstdio>

#include "qio/platform/errors.h"
#include "qio/platform/registry.h"

namespace qio::tool {
namespace {

constexpr const char* kSharedList = "SYSTEM\\CurrentControlSet\\Services\\ZQSDAQ";
constexpr const char* kDriverService = "SYSTEM\\CurrentControlSet\\Services\\ZQS5162S";

// An open registry key, closed once.
class Key {
 public:
  explicit Key(const std::string& path) {
    if (platform::RegOpenKey(platform::kLocalMachine, path, &key_) != platform::kErrorSuccess) key_ = 0;
  }
  ~Key() {
    if (key_ != 0) platform::RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  bool IsOpen() const { return key_ != 0; }
  platform::RegKey Get() const { return key_; }

  std::string String(const char* name) const {
    std::string text;
    if (key_ == 0 || platform::RegQueryString(key_, name, &text) != platform::kErrorSuccess) return {};
    return text;
  }
  std::optional<std::uint32_t> Dword(const char* name) const {
    std::uint32_t value = 0;
    if (key_ == 0 || platform::RegQueryDword(key_, name, &value) != platform::kErrorSuccess) return std::nullopt;
    return value;
  }
  std::vector<std::uint8_t> Binary(const char* name) const {
    std::vector<std::uint8_t> data(64);
    std::uint32_t size = static_cast<std::uint32_t>(data.size());
    std::uint32_t type = 0;
    if (key_ == 0 || platform::RegQueryValue(key_, name, &type, data.data(), &size) != platform::kErrorSuccess) {
      return {};
    }
    data.resize(size);
    return data;
  }

 private:
  platform::RegKey key_ = 0;
};

// "Device007" -> 7; names that are not a device key -> -1.
int DeviceNumberOf(const char* name) {
  unsigned number = 0;
  char rest = 0;
  if (std::sscanf(name, "Device%u%c", &number, &rest) != 1 || number > 254) return -1;
  return static_cast<int>(number);
}

}  // namespace

std::vector<BoardEntry> ReadDeviceList() {
  std::vector<BoardEntry> boards;
  const Key list(kSharedList);
  if (!list.IsOpen()) return boards;
  for (std::uint32_t index = 0;; ++index) {
    char name[256];
    std::uint32_t chars = sizeof name;
    const std::uint32_t status = platform::RegEnumKey(list.Get(), index, name, &chars);
    if (status == platform::kErrorMoreData) continue;
    if (status != platform::kErrorSuccess) break;
    const int number = DeviceNumberOf(name);
    if (number < 0) continue;
    const Key device(std::string(kSharedList) + "\\" + name);
    BoardEntry board;
    board.number = static_cast<unsigned>(number);
    board.name = device.String("DeviceName");
    board.driverName = device.String("DriverName");
    board.boardId = device.Dword("BoardID").value_or(0);
    const Key settings(std::string(kDriverService) + "\\" + name);
    if (settings.IsOpen() && settings.Dword("BoardID").value_or(0) == board.boardId) {
      board.callName = settings.String("CallName");
      board.baseAddress = settings.Dword("BaseAddress");
      board.ioPortCount = settings.Dword("IoPortCount");
      board.irq = settings.Dword("Irq");
      board.digPortCfg = settings.Binary("DigPortCfg");
    }
    boards.push_back(std::move(board));
  }
  std::sort(boards.begin(), boards.end(), [](const BoardEntry& a, const BoardEntry& b) { return a.number < b.number; });
  return boards;
}

}  // namespace qio::tool
