// Simulated boards of the hosted target: plugged on the port bus at their I/O
// base and on their interrupt line, found again by base, and unplugged at
// shutdown. The qio_sim_* functions reach a board's model through a checked
// registry of live boards, so a board pointer kept past shutdown is an error,
// not a use of freed memory.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "board_model.h"
#include "hosted_target.h"
#include "qio/platform/errors.h"
#include "qio/platform/registry.h"

namespace pf = qio::platform;
using namespace qio::target;

namespace qio::target {
namespace {

std::mutex& LiveMutex() {
  static std::mutex* mutex = new std::mutex;  // outlives static destruction
  return *mutex;
}

std::vector<std::shared_ptr<QioSimBoard>>& LiveBoards() {
  static auto* boards = new std::vector<std::shared_ptr<QioSimBoard>>;
  return *boards;
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// Whether a "Dll" value names the board's stream driver ("Zqs5162s.dll",
// "\Windows\ZQS5162S.DLL", ...).
bool NamesBoardDriver(std::string_view dll) {
  const std::size_t slash = dll.find_last_of("\\/");
  if (slash != std::string_view::npos) dll.remove_prefix(slash + 1);
  if (dll.size() >= 4 && EqualNoCase(dll.substr(dll.size() - 4), ".dll")) dll.remove_suffix(4);
  return EqualNoCase(dll, kBoardDriverStem);
}

class Key {
 public:
  explicit Key(const std::string& path) { pf::RegOpenKey(pf::kLocalMachine, path, &key_); }
  ~Key() {
    if (key_ != 0) pf::RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  explicit operator bool() const { return key_ != 0; }
  pf::RegKey Get() const { return key_; }

 private:
  pf::RegKey key_ = 0;
};

std::vector<std::string> BuiltInKeyNames() {
  std::vector<std::string> names;
  Key builtIn("Drivers\\BuiltIn");
  if (!builtIn) return names;
  for (std::uint32_t index = 0;; ++index) {
    char name[256];
    std::uint32_t chars = sizeof name;
    const std::uint32_t status = pf::RegEnumKey(builtIn.Get(), index, name, &chars);
    if (status == pf::kErrorNoMoreItems) break;
    if (status == pf::kErrorSuccess) names.emplace_back(name, chars);
    else if (status != pf::kErrorMoreData) break;
  }
  return names;
}

}  // namespace

void PlugConfiguredBoardsLocked(QioTarget& target) {
  struct Plugged {
    std::uint32_t base;
    std::string key;
  };
  std::vector<Plugged> plugged;
  for (const std::string& name : BuiltInKeyNames()) {
    const std::string path = "Drivers\\BuiltIn\\" + name;
    Key key(path);
    std::string dll;
    if (!key || pf::RegQueryString(key.Get(), "Dll", &dll) != pf::kErrorSuccess || !NamesBoardDriver(dll)) {
      continue;
    }
    std::uint32_t ioBase = 0;
    std::uint32_t irq = 0;
    const bool haveBase = pf::RegQueryDword(key.Get(), "IoBase", &ioBase) == pf::kErrorSuccess;
    const bool haveIrq = pf::RegQueryDword(key.Get(), "Irq", &irq) == pf::kErrorSuccess;
    if (!haveBase || !haveIrq) {
      // Name only what is missing (or not a dword): the other value is fine.
      const std::string missing = !haveBase && !haveIrq ? "no \"IoBase\" and no \"Irq\" dword"
                                  : !haveBase            ? "no \"IoBase\" dword"
                                                         : "no \"Irq\" dword";
      target.report.push_back("no board for " + path + ": it has " + missing);
      continue;
    }
    const auto same = std::find_if(plugged.begin(), plugged.end(), [&](const Plugged& p) { return p.base == ioBase; });
    if (same != plugged.end()) {
      target.report.push_back("no second board for " + path + ": the board at " + Hex(ioBase) + " serves " +
                              same->key);
      continue;
    }
    std::string why;
    if (PlugBoardLocked(target, ioBase, irq, nullptr, &why) != QIO_TARGET_OK) {
      target.report.push_back("no board for " + path + ": " + why);
      continue;
    }
    plugged.push_back({ioBase, path});
    target.report.push_back("board at " + Hex(ioBase) + " IRQ " + std::to_string(irq) + " for " + path);
  }
}

int PlugBoardLocked(QioTarget& target, std::uint32_t ioBase, std::uint32_t irq, QioSimBoard** board,
                    std::string* why) {
  if (ioBase + kBoardWindow > 0x10000u) {
    *why = "the window " + Hex(ioBase) + " + " + Hex(kBoardWindow) + " passes the last port";
    return QIO_TARGET_E_ARGUMENT;
  }
  if (irq > 15) {
    *why = "IRQ " + std::to_string(irq) + " is not an ISA line 0 to 15";
    return QIO_TARGET_E_ARGUMENT;
  }
  std::shared_ptr<QioSimBoard> plugged = CreateBoardModel(static_cast<std::uint16_t>(ioBase), irq, why);
  if (!plugged) return QIO_TARGET_E_STATE;
  // Room in both lists first: a board on the bus is always listed, so that
  // the shutdown (or an abandoned boot) takes it off again.
  {
    std::scoped_lock lock(LiveMutex());
    LiveBoards().reserve(LiveBoards().size() + 1);
  }
  target.boards.reserve(target.boards.size() + 1);
  if (!AttachBoardModel(*plugged)) {
    *why = "the ports " + Hex(ioBase) + " to " + Hex(ioBase + kBoardWindow - 1) + " are in use";
    return QIO_TARGET_E_BUS;
  }
  {
    std::scoped_lock lock(LiveMutex());
    LiveBoards().push_back(plugged);
  }
  target.boards.push_back(plugged);
  if (board != nullptr) *board = plugged.get();
  return QIO_TARGET_OK;
}

void UnplugAllBoardsLocked(QioTarget& target) {
  for (const auto& board : target.boards) {
    {
      std::scoped_lock lock(LiveMutex());
      auto& live = LiveBoards();
      live.erase(std::remove(live.begin(), live.end(), board), live.end());
    }
    DetachBoardModel(*board);
  }
  target.boards.clear();
}

std::shared_ptr<QioSimBoard> FindLiveBoard(const QioSimBoard* board) {
  std::scoped_lock lock(LiveMutex());
  for (const auto& live : LiveBoards()) {
    if (live.get() == board) return live;
  }
  return nullptr;
}

}  // namespace qio::target

extern "C" {

QioSimBoard* qio_target_board(QioTarget* target, uint16_t ioBase) {
  EnterTarget();
  auto lock = LockTargets();
  if (CheckTargetLocked(target, "qio_target_board") != QIO_TARGET_OK) return nullptr;
  for (const auto& board : target->boards) {
    if (BoardBase(*board) == ioBase) {
      Succeed();
      return board.get();
    }
  }
  Result(QIO_TARGET_E_ARGUMENT, "qio_target_board: no board at " + Hex(ioBase));
  return nullptr;
}

int qio_target_plug_board(QioTarget* target, uint16_t ioBase, unsigned irq, QioSimBoard** board) {
  EnterTarget();
  if (board != nullptr) *board = nullptr;
  auto lock = LockTargets();
  if (const int status = CheckTargetLocked(target, "qio_target_plug_board"); status != QIO_TARGET_OK) return status;
  std::string why;
  const int status = PlugBoardLocked(*target, ioBase, irq, board, &why);
  return status == QIO_TARGET_OK ? Succeed() : Result(status, "qio_target_plug_board: " + why);
}

}  // extern "C"
