// Real script files in a temporary image-build tree, for the editor, template
// and tool tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace qio::config::testing {

inline constexpr const char* kCrLf = "\r\n";

// A header as this board's editor writes it, with its trailing space.
inline std::string Header(int n) {
  return "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S" + std::to_string(n) + "] \r\n";
}

// A new section as a save writes it: the " " CR LF line, the header and the
// ten value lines. `base`, `irq` and `ports` as they stand in the script.
inline std::string NewSection(int n, const std::string& base, const std::string& irq,
                              const std::string& ports = "00,00,00") {
  char index[16];
  std::snprintf(index, sizeof index, "%x", static_cast<unsigned>(n));
  return " \r\n" + Header(n) + "\"Prefix\"=\"Q62\"\r\n\"Dll\"=\"Zqs5162s.dll\"\r\n\"Order\"=dword:0\r\n" +
         "\"DeviceIndex\"=dword:" + index + "\r\n\"IoBase\"=dword:" + base +
         "\r\n\"IoLen\"=dword:40\r\n\"Irq\"=dword:" + irq + "\r\n\"TimerClock\"=dword:14\r\n" +
         "\"DigPortCfg\"=hex:" + ports + "\r\n";
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// A temporary root with the component directory in it; removed afterwards.
class ScriptTree {
 public:
  explicit ScriptTree(const std::string& component = "QIO5162") {
    std::string pattern = (std::filesystem::temp_directory_path() / "qiocfg-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    root_ = pattern + "/";
    dir_ = root_ + "Public/Quillory/Device_Drivers/" + component;
    std::filesystem::create_directories(dir_);
    script_ = dir_ + "/" + component + ".reg";
  }
  ~ScriptTree() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  ScriptTree(const ScriptTree&) = delete;
  ScriptTree& operator=(const ScriptTree&) = delete;

  const std::string& root() const { return root_; }
  const std::string& dir() const { return dir_; }
  const std::string& script() const { return script_; }

  void Write(const std::string& bytes) const { WriteFile(script_, bytes); }
  std::string Read() const { return ReadFile(script_); }
  bool Exists() const { return std::filesystem::exists(script_); }
  // Files in the component directory other than the script (left-over
  // temporary files).
  int StrayFiles() const {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      if (entry.path().string() != script_) ++count;
    }
    return count;
  }

 private:
  std::string root_;
  std::string dir_;
  std::string script_;
};

}  // namespace qio::config::testing
