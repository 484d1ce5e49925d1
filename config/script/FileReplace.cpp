// Replacing a script's whole text in one step: a new file beside it renamed
// over it, or, when its directory takes no new file, a write in place.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <memory>

#include "config/script/FileLayer.h"

namespace qio::config {

namespace {

constexpr std::string_view kTemporaryMark = ".tmp-";
// A temporary file this old belongs to no replacement still running, whoever
// made it (another machine sharing the directory, a process number reused).
constexpr std::time_t kStaleSeconds = 60 * 60;

int ErrnoOr(int fallback) { return errno != 0 ? errno : fallback; }

// The file a path finally names, following symbolic links; the path itself
// when it cannot be resolved (the rename then reports the problem).
std::string ResolvedPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : path;
}

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// ".<name>.tmp-": how every temporary file of `target` begins.
std::string TemporaryPrefix(const std::string& target) { return "." + BaseOf(target) + std::string(kTemporaryMark); }

int WriteAll(FileLayer& files, int fd, std::span<const char> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    errno = 0;
    const ssize_t n = files.Write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoOr(EIO);
    }
    if (n == 0) return ENOSPC;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

int WriteAllAt(FileLayer& files, int fd, std::span<const char> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    errno = 0;
    const ssize_t n = files.WriteAt(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoOr(EIO);
    }
    if (n == 0) return ENOSPC;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

// Creates a new, empty, private file next to `target`.
int CreateTemporary(FileLayer& files, const std::string& target, std::string& tempPath, int& fd) {
  static std::atomic<unsigned> counter{0};
  const std::string stem = DirectoryOf(target) + "/" + TemporaryPrefix(target) + std::to_string(::getpid()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempPath = stem + std::to_string(counter.fetch_add(1));
    errno = 0;
    fd = files.Open(tempPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) return 0;
    if (errno != EEXIST) return ErrnoOr(EIO);
  }
  return EEXIST;
}

// The new text until it has been renamed over the script: closed and removed
// on every way out before that, an exception from the file layer included.
struct TemporaryFile {
  explicit TemporaryFile(FileLayer& layer) : files(layer) {}
  ~TemporaryFile() {
    if (fd < 0) return;
    try {
      files.Close(fd);
      files.Unlink(path.c_str());
    } catch (...) {
      // A layer that throws while cleaning up leaves a file the next save removes.
    }
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  int Release() {
    const int kept = fd;
    fd = -1;
    return kept;
  }

  FileLayer& files;
  std::string path;
  int fd = -1;
};

// The rename is done, so nothing here can fail the replacement: a file
// system that cannot flush a directory still holds the new file.
void SyncDirectory(FileLayer& files, const std::string& dir) noexcept {
  try {
    const int fd = files.Open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
    if (fd < 0) return;
    files.Sync(fd);
    files.Close(fd);
  } catch (...) {
  }
}

// The process number in "<pid>-<n>", or 0 when the rest is not of that form.
pid_t OwnerOf(std::string_view rest) {
  const auto dash = rest.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash + 1 == rest.size()) return 0;
  long long pid = 0;
  for (std::size_t i = 0; i < rest.size(); ++i) {
    const char c = rest[i];
    if (i == dash) continue;
    if (c < '0' || c > '9') return 0;
    if (i < dash && (pid = pid * 10 + (c - '0')) > 0x7FFFFFFF) return 0;
  }
  return static_cast<pid_t>(pid);
}

bool ProcessGone(pid_t pid) { return pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH; }

// Overwrites the script in place and truncates it to the new length. A
// failure writes the old text back, as far as the disk lets it.
int ReplaceInPlace(FileLayer& files, int fd, std::span<const char> oldBytes, std::span<const char> bytes) {
  auto put = [&files, fd](std::span<const char> text) {
    if (const int rc = WriteAllAt(files, fd, text); rc != 0) return rc;
    errno = 0;
    if (files.Truncate(fd, static_cast<off_t>(text.size())) != 0) return ErrnoOr(EIO);
    errno = 0;
    if (files.Sync(fd) != 0) return ErrnoOr(EIO);
    return 0;
  };
  int rc = EIO;
  try {
    rc = put(bytes);
    if (rc == 0) return 0;
  } catch (const std::exception&) {
    rc = EIO;
  }
  try {
    put(oldBytes);
  } catch (const std::exception&) {
    // Nothing more can be done here; the failure is reported.
  }
  return rc;
}

}  // namespace

std::vector<std::string> StaleTemporaries(FileLayer& files, const std::string& path) {
  std::vector<std::string> stale;
  const std::string target = ResolvedPath(path);
  const std::string dir = DirectoryOf(target);
  const std::string prefix = TemporaryPrefix(target);
  std::vector<std::string> names;
  if (files.ListDirectory(dir.c_str(), &names) != 0) return stale;
  const std::time_t now = std::time(nullptr);
  for (const std::string& name : names) {
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    const pid_t owner = OwnerOf(std::string_view(name).substr(prefix.size()));
    if (owner <= 0) continue;
    const std::string full = dir + "/" + name;
    struct stat info {};
    if (files.StatPath(full.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    if (ProcessGone(owner) || now - info.st_mtime > kStaleSeconds) stale.push_back(full);
  }
  return stale;
}

void RemoveStaleTemporaries(FileLayer& files, const std::string& path) {
  for (const std::string& leftover : StaleTemporaries(files, path)) files.Unlink(leftover.c_str());
}

int ReplaceFile(FileLayer& files, const std::string& path, int oldFd, std::span<const char> oldBytes,
                std::span<const char> bytes, int* newFd, ReplaceMode* mode) {
  if (newFd == nullptr || mode == nullptr) return EINVAL;
  struct stat old {};
  errno = 0;
  if (files.Stat(oldFd, &old) != 0) return ErrnoOr(EIO);

  const std::string target = ResolvedPath(path);
  RemoveStaleTemporaries(files, target);

  TemporaryFile temp(files);
  if (const int rc = CreateTemporary(files, target, temp.path, temp.fd); rc != 0) {
    if (rc != EACCES && rc != EPERM && rc != EROFS) return rc;
    // The directory takes no new file: the script is all there is to write.
    if (const int inPlace = ReplaceInPlace(files, oldFd, oldBytes, bytes); inPlace != 0) return inPlace;
    *newFd = oldFd;
    *mode = ReplaceMode::kInPlace;
    return 0;
  }

  if (const int rc = WriteAll(files, temp.fd, bytes); rc != 0) return rc;
  errno = 0;
  if (files.ChangeMode(temp.fd, old.st_mode & 07777) != 0) return ErrnoOr(EIO);
  struct stat fresh {};
  if (files.Stat(temp.fd, &fresh) == 0 && (fresh.st_uid != old.st_uid || fresh.st_gid != old.st_gid)) {
    // Only a privileged user may hand a file to someone else; otherwise the
    // script is owned by whoever edits it, as a newly saved file would be.
    files.ChangeOwner(temp.fd, old.st_uid, old.st_gid);
  }
  errno = 0;
  if (files.Sync(temp.fd) != 0) return ErrnoOr(EIO);
  errno = 0;
  if (files.Rename(temp.path.c_str(), target.c_str()) != 0) return ErrnoOr(EIO);
  SyncDirectory(files, DirectoryOf(target));
  *newFd = temp.Release();
  *mode = ReplaceMode::kAtomic;
  return 0;
}

}  // namespace qio::config
