// The hosted target's own state, shared by the harness sources. Internal to
// libqio5162target.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "qio/platform/kernel.h"
#include "qio5162/target.h"

struct QioSimBoard;

// One booted target. Only the harness creates and destroys it; callers hold
// an opaque pointer that every function checks against the running target.
struct QioTarget {
  unsigned flags = 0;
  std::vector<std::string> report;  // the boot report, one line each
  std::vector<std::shared_ptr<QioSimBoard>> boards;
};

namespace qio::target {

// The I/O window of one board and the board stream driver's module stem.
inline constexpr std::uint32_t kBoardWindow = 0x40;
inline constexpr const char* kBoardDriverStem = "Zqs5162s";

// Every export of the harness (but the message, result-text and detach
// calls) begins with this: a call into the target, which in virtual time
// attaches the calling thread to the clock and waits for its turn.
void EnterTarget();

// Sets the calling thread's last message and returns the code.
int Result(int code, const std::string& message);
inline int Succeed() { return Result(QIO_TARGET_OK, {}); }

// The lock over the running target; held by boot and shutdown throughout
// (which wait on the platform meanwhile, hence the platform's lock).
std::unique_lock<qio::platform::CriticalSection> LockTargets();
// Whether target is the running one (the lock must be held).
bool IsRunningLocked(const QioTarget* target);
// Checks a target argument: QIO_TARGET_OK, or the error (message set).
int CheckTargetLocked(const QioTarget* target, const char* function);

// Boards (target_boards.cpp); the target lock is held by the caller.
// Plugs one board per built-in key of the board's driver with "IoBase" and
// "Irq", reporting each.
void PlugConfiguredBoardsLocked(QioTarget& target);
int PlugBoardLocked(QioTarget& target, std::uint32_t ioBase, std::uint32_t irq, QioSimBoard** board,
                    std::string* why);
void UnplugAllBoardsLocked(QioTarget& target);

// One piece of registry text to boot from, and what to call it in a message
// (a file's path).
struct RegistryText {
  std::string_view bytes;
  std::string what;
};
// Boots from the shipped registry and `texts` merged over it in order, each
// read on its own (target_boot.cpp). `function` names the caller in messages.
int BootFrom(const char* function, const std::vector<RegistryText>& texts, unsigned flags, QioTarget** target);

// Writes text (NUL-terminated) under the harness's size rule.
int CopyOut(const std::string& text, char* buffer, std::size_t capacity, std::size_t* needed,
            const char* function);

}  // namespace qio::target
