// Boot and shutdown of the hosted target, its registry as text, the boot
// report and the harness's last message.
//
// Boot: the registry is cleared and built from the shipped base keys, the
// shipped boards (unless QIO_TARGET_BARE) and the caller's texts, in that
// order, each read on its own; then a simulated board is plugged for each
// configured board (unless QIO_TARGET_NO_BOARDS) and the device manager loads
// the drivers. Registry files are read in target_files.cpp.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "hosted_target.h"
#include "qio/platform/clock.h"
#include "qio/platform/device_manager.h"
#include "qio/platform/faults.h"
#include "qio/platform/interrupts.h"
#include "qio/platform/kernel.h"
#include "qio/platform/registry.h"
#include "qio/platform/virtual_clock.h"
#include "shipped_registry.h"

namespace pf = qio::platform;

namespace qio::target {
namespace {

constexpr unsigned kKnownFlags = QIO_TARGET_BARE | QIO_TARGET_NO_BOARDS | QIO_TARGET_VIRTUAL_TIME;
// How long shutdown waits for the platform threads to end.
constexpr std::uint32_t kJoinMilliseconds = 5000;

// Trivially destructible, so it stays usable while the process exits.
thread_local char lastMessage[2048];
// The number of the virtual clock's latest report this thread has been given.
thread_local std::uint64_t clockReportSeen = 0;

pf::CriticalSection& TargetMutex() {
  static pf::CriticalSection* mutex = new pf::CriticalSection;  // outlives static destruction
  return *mutex;
}

QioTarget* running = nullptr;  // guarded by TargetMutex()

// Targets that were shut down keep their memory, emptied, for the life of the
// process: no later target gets the address of an earlier one, so a pointer
// kept from before a shutdown is refused instead of being taken for the
// target booted since. Guarded by TargetMutex(); every boot reserves its slot.
std::vector<std::unique_ptr<QioTarget>>& RetiredTargets() {
  static auto* retired = new std::vector<std::unique_ptr<QioTarget>>;  // outlives static destruction
  return *retired;
}

void RetireLocked(QioTarget* target) {
  target->report = {};
  target->boards = {};
  auto& retired = RetiredTargets();
  if (retired.size() < retired.capacity()) {
    retired.emplace_back(target);
  } else {
    delete target;  // no slot: a boot that ran short of memory, whose target was never handed out
  }
}

// Shuts the target down; *message tells what was left behind. The lock is
// held by the caller.
int ShutdownLocked(QioTarget* target, std::string* message) {
  std::vector<std::string> messages;
  // The application's waits on devices it left open end first, as closed.
  pf::RunShutdownHooks();
  const std::size_t kept = pf::DeviceManagerStop(&messages);
  UnplugAllBoardsLocked(*target);
  pf::InterruptResetAll();
  const std::size_t threads = pf::JoinAllThreads(kJoinMilliseconds);
  const std::size_t handles = pf::OpenHandleCount();
  pf::RegClearAll();
  pf::SetSystemBooted(false);
  // Last: what is left over waits on, and goes on under, real time.
  if ((target->flags & QIO_TARGET_VIRTUAL_TIME) != 0) pf::StopVirtualClock();
  running = nullptr;
  RetireLocked(target);

  std::string left;
  if (kept > 0) left += std::to_string(kept) + " driver(s) still in a call and left loaded; ";
  if (threads > 0) left += std::to_string(threads) + " platform thread(s) still running; ";
  if (handles > 0) left += std::to_string(handles) + " handle(s) left open by the application; ";
  if (!left.empty()) left.resize(left.size() - 2);
  *message = left.empty() ? std::string() : "shutdown: " + left;
  return kept > 0 || threads > 0 ? QIO_TARGET_E_STATE : QIO_TARGET_OK;
}

// A target still running when the process exits is shut down, so its threads
// are joined before static objects are destroyed.
void ShutdownAtExit() {
  EnterTarget();
  auto lock = LockTargets();
  if (running == nullptr) return;
  std::string ignored;
  ShutdownLocked(running, &ignored);
}

void ShutdownAtExitOnce() {
  static std::once_flag registered;
  std::call_once(registered, [] { std::atexit(ShutdownAtExit); });
}

// The boot proper; the lock is held and no target runs. *partial holds the
// target while it is being built, so that a failed boot can be undone.
int BootLocked(const char* function, const std::vector<RegistryText>& texts, unsigned flags,
               std::unique_ptr<QioTarget>* partial) {
  RetiredTargets().reserve(RetiredTargets().size() + 1);
  pf::RegClearAll();
  std::vector<RegistryText> parts{{kBaseRegistry, "shipped base registry"}};
  if ((flags & QIO_TARGET_BARE) == 0) parts.push_back({kDefaultRegistry, "shipped default registry"});
  parts.insert(parts.end(), texts.begin(), texts.end());
  std::string error;
  for (const RegistryText& part : parts) {
    if (!pf::RegImportText(part.bytes, &error)) {
      pf::RegClearAll();
      return Result(QIO_TARGET_E_REGISTRY, std::string(function) + ": " + part.what + ": " + error);
    }
  }

  *partial = std::make_unique<QioTarget>();
  QioTarget& booted = **partial;
  booted.flags = flags;
  if ((flags & QIO_TARGET_NO_BOARDS) == 0) PlugConfiguredBoardsLocked(booted);
  std::vector<std::string> messages;
  pf::DeviceManagerStart(&messages);
  booted.report.insert(booted.report.end(), messages.begin(), messages.end());
  return QIO_TARGET_OK;
}

// Takes down what a failed boot built, as a shutdown would.
void AbandonBootLocked(std::unique_ptr<QioTarget> partial) {
  try {
    if (!partial) partial = std::make_unique<QioTarget>();
    std::string ignored;
    ShutdownLocked(partial.release(), &ignored);
  } catch (const std::bad_alloc&) {  // still short of memory: take down what needs none
    pf::DeviceManagerStop(nullptr);
    pf::InterruptResetAll();
    pf::JoinAllThreads(kJoinMilliseconds);
    pf::RegClearAll();
    pf::SetSystemBooted(false);
  }
}

// A boot that runs short of a resource anywhere (memory, an event, a thread,
// a registry write, in the target or in a driver's Init, whoever absorbed the
// failure) is undone whole: the caller gets QIO_TARGET_E_RESOURCE and no
// target rather than one with a board missing or half made.
int GuardedBootLocked(const char* function, const std::vector<RegistryText>& texts, unsigned flags,
                      QioTarget** target) {
  const std::uint64_t failuresBefore = pf::ResourceFailureCount();
  std::unique_ptr<QioTarget> partial;
  int status = QIO_TARGET_OK;
  std::string what;
  try {
    status = BootLocked(function, texts, flags, &partial);
  } catch (const std::bad_alloc&) {
    status = QIO_TARGET_E_RESOURCE;
  }
  if (status == QIO_TARGET_OK && pf::ResourceFailureCount() == failuresBefore) {
    pf::SetSystemBooted(true);
    running = partial.release();
    ShutdownAtExitOnce();
    *target = running;
    return Succeed();
  }
  if (status != QIO_TARGET_OK && status != QIO_TARGET_E_RESOURCE &&
      pf::ResourceFailureCount() == failuresBefore) {
    return status;  // the registry text's own fault; nothing else was built
  }
  AbandonBootLocked(std::move(partial));
  std::snprintf(lastMessage, sizeof lastMessage, "%s: the platform ran short of a resource (memory, an event, a "
                "thread or a registry write); nothing of the target was kept", function);
  return QIO_TARGET_E_RESOURCE;
}

}  // namespace

int Result(int code, const std::string& message) {
  const std::size_t n = std::min(message.size(), sizeof lastMessage - 1);
  std::memcpy(lastMessage, message.data(), n);
  lastMessage[n] = '\0';
  return code;
}

std::unique_lock<pf::CriticalSection> LockTargets() { return std::unique_lock(TargetMutex()); }

void EnterTarget() { pf::EnterTarget(); }

bool IsRunningLocked(const QioTarget* target) { return target != nullptr && target == running; }

int CheckTargetLocked(const QioTarget* target, const char* function) {
  if (target == nullptr) return Result(QIO_TARGET_E_ARGUMENT, std::string(function) + ": target is NULL");
  if (!IsRunningLocked(target)) {
    return Result(QIO_TARGET_E_STATE, std::string(function) + ": the target is not running");
  }
  return QIO_TARGET_OK;
}

int CopyOut(const std::string& text, char* buffer, std::size_t capacity, std::size_t* needed,
            const char* function) {
  const std::size_t size = text.size() + 1;
  if (needed != nullptr) *needed = size;
  if (buffer == nullptr || capacity < size) {
    return Result(QIO_TARGET_E_SPACE, std::string(function) + ": " + std::to_string(size) +
                                          " bytes needed, " + std::to_string(buffer ? capacity : 0) + " given");
  }
  std::memcpy(buffer, text.c_str(), size);
  return Succeed();
}

int BootFrom(const char* function, const std::vector<RegistryText>& texts, unsigned flags, QioTarget** target) {
  if (target == nullptr) return Result(QIO_TARGET_E_ARGUMENT, std::string(function) + ": target is NULL");
  *target = nullptr;
  if ((flags & ~kKnownFlags) != 0) {
    char text[80];
    std::snprintf(text, sizeof text, "%s: unknown flags 0x%x", function, flags & ~kKnownFlags);
    return Result(QIO_TARGET_E_ARGUMENT, text);
  }
  EnterTarget();
  auto lock = LockTargets();
  if (running != nullptr || pf::SystemBooted()) {
    return Result(QIO_TARGET_E_STATE, std::string(function) + ": a target is already running in this process");
  }
  const bool virtualTime = (flags & QIO_TARGET_VIRTUAL_TIME) != 0;
  if (virtualTime && !pf::StartVirtualClock()) {
    return Result(QIO_TARGET_E_STATE, std::string(function) + ": the platform's virtual clock runs already");
  }
  const int status = GuardedBootLocked(function, texts, flags, target);
  if (status != QIO_TARGET_OK && virtualTime) pf::StopVirtualClock();
  return status;
}

}  // namespace qio::target

using namespace qio::target;

extern "C" {

int qio_target_boot(const char* registryText, QioTarget** target) {
  return qio_target_boot_ex(registryText, 0, target);
}

int qio_target_boot_ex(const char* registryText, unsigned flags, QioTarget** target) {
  std::vector<RegistryText> texts;
  if (registryText != nullptr) texts.push_back({registryText, "registry text"});
  return BootFrom("qio_target_boot", texts, flags, target);
}

int qio_target_shutdown(QioTarget* target) {
  EnterTarget();
  auto lock = LockTargets();
  if (const int status = CheckTargetLocked(target, "qio_target_shutdown"); status != QIO_TARGET_OK) return status;
  std::string message;
  const int status = ShutdownLocked(target, &message);
  return Result(status, message);
}

QioTarget* qio_target_current(void) {
  EnterTarget();
  auto lock = LockTargets();
  return running;
}

int qio_target_export_registry(QioTarget* target, char* buffer, size_t capacity, size_t* needed) {
  EnterTarget();
  if (needed != nullptr) *needed = 0;
  auto lock = LockTargets();
  if (const int status = CheckTargetLocked(target, "qio_target_export_registry"); status != QIO_TARGET_OK) {
    return status;
  }
  return CopyOut(pf::RegExportText(), buffer, capacity, needed, "qio_target_export_registry");
}

int qio_target_boot_report(QioTarget* target, char* buffer, size_t capacity, size_t* needed) {
  EnterTarget();
  if (needed != nullptr) *needed = 0;
  auto lock = LockTargets();
  if (const int status = CheckTargetLocked(target, "qio_target_boot_report"); status != QIO_TARGET_OK) {
    return status;
  }
  std::string text;
  for (const std::string& line : target->report) text += line + "\n";
  return CopyOut(text, buffer, capacity, needed, "qio_target_boot_report");
}

const char* qio_target_last_message(void) {
  if (lastMessage[0] == '\0') {
    const pf::ClockReport report = pf::LatestClockReport();
    if (report.number > clockReportSeen) {
      clockReportSeen = report.number;
      Result(QIO_TARGET_OK, report.text);
    }
  }
  return lastMessage;
}

uint64_t qio_target_now_ns(QioTarget* target) {
  EnterTarget();
  {
    auto lock = LockTargets();
    if (CheckTargetLocked(target, "qio_target_now_ns") != QIO_TARGET_OK) return 0;
  }
  Succeed();
  return pf::NowNs();
}

int qio_target_sleep(QioTarget* target, uint32_t milliseconds) {
  EnterTarget();
  {
    auto lock = LockTargets();
    if (const int status = CheckTargetLocked(target, "qio_target_sleep"); status != QIO_TARGET_OK) return status;
  }
  pf::Sleep(milliseconds);
  // A shutdown meanwhile stops the virtual clock, which ends the sleep early:
  // the sleep did not take its time, so it does not report success.
  auto lock = LockTargets();
  if (!IsRunningLocked(target)) {
    return Result(QIO_TARGET_E_STATE, "qio_target_sleep: the target was shut down during the sleep");
  }
  return Succeed();
}

void qio_target_detach_thread(void) { pf::DetachThread(); }

}  // extern "C"
