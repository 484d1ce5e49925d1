// Loading of driver modules for the device manager: a module named as on the
// target ("\Windows\Zqs5162S.dll") is found as lib<stem>.so in the module
// directory without regard to case, and held open by one dlopen reference.
// Internal to the platform library.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace qio::platform::detail {

// ASCII case folding, as the target compares file, key and device names.
char Lower(char c);
bool EqualNoCase(std::string_view a, std::string_view b);

// The file stem a target module name stands for: the directory part (either
// separator) and a ".dll" extension (any case) are dropped, so
// "\Windows\Zqs5162S.dll" gives "Zqs5162S". Empty when nothing is left.
std::string ModuleStem(std::string_view targetName);

// One dlopen reference to a module; dlclose when destroyed. Loading a module
// that is already loaded gives the same library (dlopen counts references).
class Module {
 public:
  // RTLD_NOW | RTLD_LOCAL. Null with *error (the loader's reason) on failure.
  static std::unique_ptr<Module> Load(const std::string& path, std::string* error);

  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  // The address of an exported symbol, or null.
  void* Symbol(const std::string& name) const;
  const std::string& Path() const { return path_; }
  void* NativeHandle() const { return handle_; }

 private:
  Module(void* handle, std::string path) : handle_(handle), path_(std::move(path)) {}

  void* handle_;
  std::string path_;
};

}  // namespace qio::platform::detail
