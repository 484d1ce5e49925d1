// Module resolution and loading for the device manager.
//
// The target's file system ignores case, so a registry naming "Zqs5162S.dll"
// loads the file shipped as "Zqs5162s.dll". Here modules are shared objects
// named lib<stem>.so in one directory (the directory of this platform library
// unless set otherwise); the stem is matched without regard to ASCII case.
#include "module_loader.h"

#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

#include "qio/platform/device_manager.h"

namespace qio::platform {
namespace detail {
namespace {

// The directory of the file this function was loaded from.
std::string OwnDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&OwnDirectory), &info) == 0 || info.dli_fname == nullptr) {
    return ".";
  }
  std::error_code error;
  std::filesystem::path file = std::filesystem::absolute(info.dli_fname, error);
  if (error) file = info.dli_fname;
  std::string directory = file.parent_path().string();
  return directory.empty() ? std::string(".") : directory;
}

struct DirectoryState {
  std::mutex mutex;
  std::string directory;  // empty: the platform library's own directory
};

DirectoryState& Directory() {
  static DirectoryState* state = new DirectoryState;  // outlives static destruction
  return *state;
}

}  // namespace

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return Lower(x) == Lower(y);
         });
}

static bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && EqualNoCase(text.substr(text.size() - suffix.size()), suffix);
}

std::string ModuleStem(std::string_view targetName) {
  const std::size_t slash = targetName.find_last_of("\\/");
  if (slash != std::string_view::npos) targetName.remove_prefix(slash + 1);
  if (EndsWithNoCase(targetName, ".dll")) targetName.remove_suffix(4);
  return std::string(targetName);
}

std::unique_ptr<Module> Module::Load(const std::string& path, std::string* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    if (error != nullptr) {
      const char* reason = dlerror();
      *error = reason != nullptr ? reason : "cannot be loaded";
    }
    return nullptr;
  }
  return std::unique_ptr<Module>(new Module(handle, path));
}

Module::~Module() {
  if (handle_ != nullptr) dlclose(handle_);
}

void* Module::Symbol(const std::string& name) const {
  return handle_ != nullptr ? dlsym(handle_, name.c_str()) : nullptr;
}

}  // namespace detail

void SetModuleDirectory(std::string directory) {
  auto& state = detail::Directory();
  std::scoped_lock lock(state.mutex);
  state.directory = std::move(directory);
}

std::string ModuleDirectory() {
  auto& state = detail::Directory();
  {
    std::scoped_lock lock(state.mutex);
    if (!state.directory.empty()) return state.directory;
  }
  static const std::string* const own = new std::string(detail::OwnDirectory());
  return *own;
}

std::string ResolveModule(std::string_view targetName) {
  const std::string stem = detail::ModuleStem(targetName);
  if (stem.empty() || stem == "." || stem == "..") return {};
  const std::string wanted = "lib" + stem + ".so";
  const std::filesystem::path directory = ModuleDirectory();

  std::error_code error;
  const std::filesystem::path exact = directory / wanted;
  if (std::filesystem::is_regular_file(exact, error)) return exact.string();

  // No file of exactly that name: look for one that differs only in case.
  // Several such files would be ambiguous on the target too; take the first
  // in name order so the choice does not depend on the directory's layout.
  std::vector<std::string> matches;
  for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (detail::EqualNoCase(name, wanted) && it->is_regular_file(error)) matches.push_back(name);
  }
  if (matches.empty()) return {};
  std::sort(matches.begin(), matches.end());
  return (directory / matches.front()).string();
}

}  // namespace qio::platform
