#include "GuiCommand.h"

#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "TemplateCommands.h"

namespace qio::tools {
namespace {

constexpr char kPluginModule[] = "libQIO5162Cfg.so";
constexpr char kEntry[] = "DriverConfig";
// Read by the plug-in: render the window into this directory and close it.
constexpr char kScreenshotVariable[] = "QIO5162CFG_SCREENSHOT";

bool NonEmpty(const char* text) { return text != nullptr && *text != '\0'; }

bool DisplayAvailable() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (NonEmpty(platform)) {
    const std::string name(platform);
    if (name.rfind("xcb", 0) != 0 && name.rfind("wayland", 0) != 0) return true;
  }
  return NonEmpty(std::getenv("DISPLAY")) || NonEmpty(std::getenv("WAYLAND_DISPLAY"));
}

using DriverConfigFunction = std::int32_t (*)(std::uint32_t, const char*, const char*, const char*);

}  // namespace

int RunGui(const std::string& root, const std::string& component, const std::string& screenshotDir) {
  if (!screenshotDir.empty()) {
    setenv(kScreenshotVariable, screenshotDir.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  } else if (!DisplayAvailable()) {
    std::cerr << "qio5162-cfg: no display to show the window on (set DISPLAY, or use --screenshot DIR)\n";
    return kExitFailure;
  }
  // Kept loaded until exit: the window's toolkit may still hold on to it.
  // The tool's own library directory first, then wherever the loader looks.
  void* plugin = nullptr;
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    const auto beside = self.parent_path().parent_path() / "lib" / kPluginModule;
    plugin = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (plugin == nullptr) plugin = dlopen(kPluginModule, RTLD_NOW | RTLD_LOCAL);
  if (plugin == nullptr) {
    std::cerr << "qio5162-cfg: cannot load " << kPluginModule << ": " << dlerror() << "\n";
    return kExitFailure;
  }
  auto entry = reinterpret_cast<DriverConfigFunction>(dlsym(plugin, kEntry));
  if (entry == nullptr) {
    std::cerr << "qio5162-cfg: " << kPluginModule << " has no " << kEntry << "\n";
    return kExitFailure;
  }
  if (entry(0, root.c_str(), component.c_str(), "") != 1) {
    std::cerr << "qio5162-cfg: the plug-in refused the script path under " << root << "\n";
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace qio::tools
