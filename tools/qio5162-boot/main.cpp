// qio5162-boot: boots the hosted target from the shipped registry with any
// registry files merged over it, reports what the device manager loaded and
// shuts the target down again; with --export it writes the registry as it
// then stands, and nothing else, to standard output. `qio5162-boot --help`
// describes every option.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "qio/platform/registry.h"
#include "qio5162/target.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage = "usage: qio5162-boot [--bare] [--no-boards] [--export[=utf16|utf8]] [--] [FILE.reg ...]\n";

constexpr const char* kHelp =
    "Boots the hosted QIO-5162 target in this process: the shipped registry (the\n"
    "system keys and one QIO-5162 at 0x300, IRQ 5) with the registry files merged\n"
    "over it in the order given, a simulated board for every configured board,\n"
    "and the device manager loading the drivers. Prints what was loaded, then\n"
    "shuts the target down.\n"
    "\n"
    "Options:\n"
    "  --bare             leave out the shipped board: the files configure every board\n"
    "  --no-boards        plug no simulated board (the drivers load all the same)\n"
    "  --export[=FORMAT]  write the registry as it stands after the boot to standard\n"
    "                     output, and only that; the boot report goes to standard\n"
    "                     error. FORMAT utf16 (the default) is UTF-16LE with its\n"
    "                     byte-order mark, as regedit writes and reads .reg files:\n"
    "                     redirect it into a file and regedit imports it unchanged.\n"
    "                     utf8 is the same text in UTF-8, for reading and diffing.\n"
    "                     Both read \"Windows Registry Editor Version 5.00\".\n"
    "  -h, --help         show this help and exit\n"
    "  --                 what follows is a file name, even when it starts with \"-\"\n"
    "\n"
    "Registry files may be UTF-16LE with a byte-order mark (regedit's default),\n"
    "UTF-8 with or without one, or REGEDIT4 ANSI text (code page 1252). Each file\n"
    "is read on its own, so an error names the file and its line.\n"
    "\n"
    "Exit status: 0 booted and shut down cleanly; 1 a file could not be read or\n"
    "booted from, or the shutdown left something behind; 2 a usage error.\n";

enum class ExportFormat { kNone, kUtf16, kUtf8 };

int Usage(const std::string& problem) {
  std::fprintf(stderr, "qio5162-boot: %s\n%s", problem.c_str(), kUsage);
  return kExitUsage;
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

bool WriteAll(std::FILE* out, const std::string& bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size() && std::fflush(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  unsigned flags = 0;
  ExportFormat format = ExportFormat::kNone;
  std::vector<const char*> files;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      files.push_back(argv[i]);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--bare") {
      flags |= QIO_TARGET_BARE;
    } else if (arg == "--no-boards") {
      flags |= QIO_TARGET_NO_BOARDS;
    } else if (arg == "--export" || arg == "--export=utf16") {
      format = ExportFormat::kUtf16;
    } else if (arg == "--export=utf8") {
      format = ExportFormat::kUtf8;
    } else if (arg.rfind("--export=", 0) == 0) {
      return Usage("unknown export format '" + arg.substr(9) + "' (utf16 or utf8)");
    } else if (arg == "-h" || arg == "--help") {
      std::printf("%s\n%s", kUsage, kHelp);
      return kExitOk;
    } else {
      return Usage("unknown option '" + arg + "'");
    }
  }
  // With --export, standard output carries the registry and nothing else.
  std::FILE* report = format == ExportFormat::kNone ? stdout : stderr;

  QioTarget* target = nullptr;
  if (qio_target_boot_files(files.data(), files.size(), flags, &target) != QIO_TARGET_OK) {
    std::fprintf(stderr, "qio5162-boot: %s\n", qio_target_last_message());
    return kExitFailure;
  }
  std::string bootReport;
  if (!ReadText(qio_target_boot_report, target, &bootReport)) bootReport = "(no boot report)\n";
  std::fprintf(report, "Hosted QIO-5162 target booted.\n");
  if (bootReport.empty()) {
    std::fprintf(report, "The device manager loaded no driver: no board is configured under Drivers\\BuiltIn.\n");
  } else {
    std::fprintf(report, "Boot report:\n");
    std::istringstream lines(bootReport);
    for (std::string line; std::getline(lines, line);) std::fprintf(report, "  %s\n", line.c_str());
  }

  int code = kExitOk;
  if (format != ExportFormat::kNone) {
    std::string registry;
    if (!ReadText(qio_target_export_registry, target, &registry)) {
      std::fprintf(stderr, "qio5162-boot: exporting the registry failed: %s\n", qio_target_last_message());
      code = kExitFailure;
    } else {
      std::string bytes = registry;
      if (format == ExportFormat::kUtf16) {
        const std::vector<std::uint8_t> wide = qio::platform::Utf8ToUtf16Le(registry, false);
        bytes.assign("\xFF\xFE");
        bytes.append(wide.begin(), wide.end());
        if (::isatty(STDOUT_FILENO) != 0) {
          std::fprintf(stderr, "qio5162-boot: note: writing UTF-16 to a terminal; --export=utf8 is for reading\n");
        }
      }
      if (!WriteAll(stdout, bytes)) {
        std::fprintf(stderr, "qio5162-boot: writing the registry to standard output failed\n");
        code = kExitFailure;
      }
    }
  }
  if (qio_target_shutdown(target) != QIO_TARGET_OK) {
    std::fprintf(stderr, "qio5162-boot: %s\n", qio_target_last_message());
    return kExitFailure;
  }
  std::fprintf(report, "Target shut down cleanly.\n");
  return code;
}
