// DeviceConfig and DeviceConfigExt: the on-device configuration dialog.
//
// The library links no window toolkit. The dialog's view is the module
// libZqs5162Dialog.so beside the library, loaded on the first call and kept
// loaded; the logic and the registry write run here. With no display to show
// the dialog on, the call fails with ZQS_DIALOG_FAILED and writes nothing.
#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>

#include "DeviceConfigDialog.h"
#include "DeviceConfigView.h"
#include "qio/platform/device_manager.h"
#include "qio/platform/virtual_clock.h"
#include "qio/protocol/registry_names.h"
#include "qio5162/Zqs5162.h"

namespace qio::library::dialog {
namespace {

// For the hosted target's tools: a PNG of the opened dialog goes to
// $QIO5162_DIALOG_SCREENSHOT/device-setting.png, and the dialog then ends as
// if Cancel had been pressed.
constexpr char kScreenshotVariable[] = "QIO5162_DIALOG_SCREENSHOT";
constexpr char kScreenshotFile[] = "device-setting.png";

bool NonEmpty(const char* text) { return text != nullptr && *text != '\0'; }

// Whether the toolkit can open a window here: a display server, or a
// platform that needs none (offscreen, vnc, ...).
bool DisplayAvailable() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (NonEmpty(platform)) {
    const std::string name(platform);
    if (name.rfind("xcb", 0) != 0 && name.rfind("wayland", 0) != 0) return true;
  }
  return NonEmpty(std::getenv("DISPLAY")) || NonEmpty(std::getenv("WAYLAND_DISPLAY"));
}

std::string DirectoryOfThisModule() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&DisplayAvailable), &info) == 0 || info.dli_fname == nullptr) return {};
  std::error_code error;
  const auto file = std::filesystem::absolute(info.dli_fname, error);
  return error ? std::string() : file.parent_path().string();
}

RunDialogFunction LoadDialogModule() {
  static std::mutex mutex;
  static RunDialogFunction run = nullptr;
  std::scoped_lock lock(mutex);
  if (run != nullptr) return run;
  // Beside the library first, then in the driver module directory, then
  // wherever the loader finds it.
  void* module = nullptr;
  for (const std::string& directory : {DirectoryOfThisModule(), platform::ModuleDirectory()}) {
    if (directory.empty() || module != nullptr) continue;
    module = dlopen((std::filesystem::path(directory) / kDialogModuleName).c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (module == nullptr) module = dlopen(kDialogModuleName, RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) return nullptr;
  run = reinterpret_cast<RunDialogFunction>(dlsym(module, kRunDialogSymbol));
  return run;
}

// One dialog at a time in the process.
std::mutex& DialogOpen() {
  static std::mutex open;
  return open;
}

std::uint32_t RunDeviceConfig(std::uint32_t deviceNumber, void* parent) {
  if (deviceNumber > static_cast<std::uint32_t>(protocol::kMaxDeviceNumber)) return ZQS_DIALOG_FAILED;
  if (!DisplayAvailable()) return ZQS_DIALOG_FAILED;
  std::unique_lock lock(DialogOpen(), std::try_to_lock);
  if (!lock.owns_lock()) return ZQS_DIALOG_FAILED;
  const RunDialogFunction run = LoadDialogModule();
  if (run == nullptr) return ZQS_DIALOG_FAILED;
  // The registry the dialog reads and writes is the target's.
  if (!platform::SystemBooted()) platform::EnsureSystemBooted();

  std::string screenshot;
  if (const char* directory = std::getenv(kScreenshotVariable); NonEmpty(directory)) {
    screenshot = (std::filesystem::path(directory) / kScreenshotFile).string();
  }
  DeviceConfigDialog controller(deviceNumber);
  // The dialog waits for a person: in virtual time the target goes on
  // without this thread meanwhile (its next call attaches it again).
  platform::DetachThread();
  const int code = run(&controller, parent, screenshot.empty() ? nullptr : screenshot.c_str());
  return code < 0 ? ZQS_DIALOG_FAILED : static_cast<std::uint32_t>(code);
}

}  // namespace
}  // namespace qio::library::dialog

extern "C" ZQS5162_API uint32_t DeviceConfigExt(uint32_t DeviceNumber, uint32_t Reserved, void* ParentWindow) {
  (void)Reserved;
  try {
    return qio::library::dialog::RunDeviceConfig(DeviceNumber, ParentWindow);
  } catch (...) {
    return ZQS_DIALOG_FAILED;
  }
}

extern "C" ZQS5162_API uint32_t DeviceConfig(uint32_t DeviceNumber, uint32_t Reserved, void* ParentWindow) {
  return DeviceConfigExt(DeviceNumber, Reserved, ParentWindow);
}
