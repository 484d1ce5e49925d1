// qio5162-boot: boots the hosted target from the shipped default registry
// (plus any registry files given), prints what the device manager loaded and
// shuts the target down again.
//
//   qio5162-boot [--bare] [--no-boards] [--export] [file.reg ...]
//     --bare       only the base system keys, not the shipped boards
//     --no-boards  plug no simulated board
//     --export     print the registry as it stands after the boot
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "qio5162/target.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: qio5162-boot [--bare] [--no-boards] [--export] [file.reg ...]\n");
  return 2;
}

// Fetches text through one of the harness's buffer functions.
bool ReadText(int (*get)(QioTarget*, char*, size_t, size_t*), QioTarget* target, std::string* text) {
  size_t needed = 0;
  if (get(target, nullptr, 0, &needed) != QIO_TARGET_E_SPACE) return false;
  std::vector<char> buffer(needed);
  if (get(target, buffer.data(), buffer.size(), &needed) != QIO_TARGET_OK) return false;
  text->assign(buffer.data());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned flags = 0;
  bool exportRegistry = false;
  std::string registryText;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--bare") {
      flags |= QIO_TARGET_BARE;
    } else if (arg == "--no-boards") {
      flags |= QIO_TARGET_NO_BOARDS;
    } else if (arg == "--export") {
      exportRegistry = true;
    } else if (arg == "-h" || arg == "--help") {
      Usage();
      return 0;
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage();
    } else {
      std::ifstream file(arg, std::ios::binary);
      if (!file) {
        std::fprintf(stderr, "qio5162-boot: cannot read %s\n", arg.c_str());
        return 1;
      }
      std::ostringstream content;
      content << file.rdbuf();
      registryText += content.str();
      registryText += "\r\n";
    }
  }

  QioTarget* target = nullptr;
  if (qio_target_boot_ex(registryText.empty() ? nullptr : registryText.c_str(), flags, &target) != QIO_TARGET_OK) {
    std::fprintf(stderr, "qio5162-boot: %s\n", qio_target_last_message());
    return 1;
  }
  std::string report;
  if (!ReadText(qio_target_boot_report, target, &report)) report = "(no boot report)\n";
  std::printf("Hosted QIO-5162 target booted.\n");
  if (report.empty()) {
    std::printf("The device manager loaded no driver: no board is configured under Drivers\\BuiltIn.\n");
  } else {
    std::printf("Boot report:\n");
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) std::printf("  %s\n", line.c_str());
  }
  if (exportRegistry) {
    std::string registry;
    if (ReadText(qio_target_export_registry, target, &registry)) std::printf("\n%s", registry.c_str());
  }
  const int status = qio_target_shutdown(target);
  if (status != QIO_TARGET_OK) {
    std::fprintf(stderr, "qio5162-boot: %s\n", qio_target_last_message());
    return 1;
  }
  std::printf("Target shut down cleanly.\n");
  return 0;
}
