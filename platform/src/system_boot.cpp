// Whether a hosted target runs in this process, and booting the default one on
// demand: an application written only against the user-mode library calls
// into a system that is simply there on the target. Here the library asks for
// it, and the target module is loaded and booted from the shipped registry.
#include <dlfcn.h>

#include <atomic>
#include <filesystem>
#include <mutex>

#include "qio/platform/device_manager.h"
#include "qio/platform/kernel.h"

// The harness's opaque target (include/qio5162/target.h); only its address
// passes through here.
struct QioTarget;

namespace qio::platform {
namespace {

constexpr const char* kTargetModule = "libqio5162target.so";
constexpr const char* kTargetBoot = "qio_target_boot";

// Exactly the type of qio_target_boot: a call through a pointer of any other
// function type is undefined.
using TargetBoot = int (*)(const char* registryText, QioTarget** target);

std::atomic<bool> systemBooted{false};

// Held while the target boots, which may wait on the platform.
CriticalSection& BootMutex() {
  static CriticalSection* mutex = new CriticalSection;  // outlives static destruction
  return *mutex;
}

}  // namespace

bool SystemBooted() { return systemBooted.load(); }

void SetSystemBooted(bool booted) { systemBooted.store(booted); }

bool EnsureSystemBooted() {
  if (SystemBooted()) return true;
  std::scoped_lock lock(BootMutex());
  if (SystemBooted()) return true;
  const std::string path = (std::filesystem::path(ModuleDirectory()) / kTargetModule).string();
  // Kept loaded for the rest of the process: the target it boots shuts itself
  // down at exit from code in this module.
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) return false;
  auto boot = reinterpret_cast<TargetBoot>(dlsym(module, kTargetBoot));
  if (boot == nullptr) {
    dlclose(module);
    return false;
  }
  QioTarget* target = nullptr;
  boot(nullptr, &target);
  return SystemBooted();
}

}  // namespace qio::platform
