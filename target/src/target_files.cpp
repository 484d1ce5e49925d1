// Booting from registry text given as bytes, and from registry files: each
// file is read whole and imported on its own, so that its encoding, its
// header line and its line numbers are its own and a message can name it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "hosted_target.h"

namespace qio::target {
namespace {

// Registry files are small text files; anything larger is no registry file.
constexpr off_t kMaxFileBytes = 64 * 1024 * 1024;

// Reads the whole file at `path`. False with `*why` set when it cannot.
bool ReadRegistryFile(const char* path, std::string* bytes, std::string* why) {
  // Without O_NONBLOCK, opening a named pipe would wait for a writer (for
  // ever, if none comes) before the checks below could refuse it; reads of a
  // regular file do not heed the flag.
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *why = std::strerror(errno);
    return false;
  }
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0;
  if (!ok) {
    *why = std::strerror(errno);
  } else if (S_ISDIR(info.st_mode)) {
    *why = "is a directory";
    ok = false;
  } else if (!S_ISREG(info.st_mode)) {
    *why = "is not a regular file";
    ok = false;
  } else if (info.st_size > kMaxFileBytes) {
    *why = "is larger than a registry file can be (" + std::to_string(kMaxFileBytes) + " bytes)";
    ok = false;
  }
  bytes->clear();
  char chunk[65536];
  while (ok) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *why = std::strerror(errno);
      ok = false;
    } else if (n == 0) {
      break;
    } else {
      bytes->append(chunk, static_cast<std::size_t>(n));
    }
  }
  ::close(fd);
  return ok;
}

}  // namespace
}  // namespace qio::target

using namespace qio::target;

extern "C" {

int qio_target_boot_data(const void* data, size_t length, unsigned flags, QioTarget** target) {
  if (data == nullptr && length != 0) {
    if (target != nullptr) *target = nullptr;
    return Result(QIO_TARGET_E_ARGUMENT, "qio_target_boot_data: data is NULL but length is not 0");
  }
  std::vector<RegistryText> texts;
  if (data != nullptr) texts.push_back({{static_cast<const char*>(data), length}, "registry text"});
  return BootFrom("qio_target_boot_data", texts, flags, target);
}

int qio_target_boot_files(const char* const* paths, size_t count, unsigned flags, QioTarget** target) {
  constexpr const char* kFunction = "qio_target_boot_files";
  if (target != nullptr) *target = nullptr;
  if (paths == nullptr && count != 0) {
    return Result(QIO_TARGET_E_ARGUMENT, std::string(kFunction) + ": paths is NULL but count is not 0");
  }
  for (size_t i = 0; i < count; ++i) {
    if (paths[i] == nullptr || paths[i][0] == '\0') {
      return Result(QIO_TARGET_E_ARGUMENT, std::string(kFunction) + ": path " + std::to_string(i) + " is empty");
    }
  }
  // Read before anything boots: a file that cannot be read boots nothing.
  std::vector<std::string> contents(count);
  std::vector<RegistryText> texts;
  for (size_t i = 0; i < count; ++i) {
    std::string why;
    if (!ReadRegistryFile(paths[i], &contents[i], &why)) {
      return Result(QIO_TARGET_E_FILE, std::string(kFunction) + ": cannot read " + paths[i] + ": " + why);
    }
    texts.push_back({contents[i], paths[i]});
  }
  return BootFrom(kFunction, texts, flags, target);
}

}  // extern "C"
