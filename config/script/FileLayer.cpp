#include "config/script/FileLayer.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

namespace qio::config {

int FileLayer::Open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int FileLayer::Close(int fd) { return ::close(fd); }
int FileLayer::Stat(int fd, struct stat* info) { return ::fstat(fd, info); }
ssize_t FileLayer::ReadAt(int fd, void* buffer, std::size_t size, off_t offset) {
  return ::pread(fd, buffer, size, offset);
}
ssize_t FileLayer::Write(int fd, const void* data, std::size_t size) { return ::write(fd, data, size); }
int FileLayer::Sync(int fd) { return ::fsync(fd); }
int FileLayer::ChangeMode(int fd, mode_t mode) { return ::fchmod(fd, mode); }
int FileLayer::ChangeOwner(int fd, uid_t owner, gid_t group) { return ::fchown(fd, owner, group); }
int FileLayer::Rename(const char* from, const char* to) { return ::rename(from, to); }
int FileLayer::Unlink(const char* path) { return ::unlink(path); }

FileLayer& FileLayer::System() {
  static FileLayer layer;
  return layer;
}

namespace {

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

// Creates a new, empty, private file next to `target`.
int CreateTemporary(FileLayer& files, const std::string& target, std::string& tempPath, int& fd) {
  static std::atomic<unsigned> counter{0};
  const std::string dir = DirectoryOf(target);
  const std::string base = target.substr(target.find_last_of('/') == std::string::npos
                                             ? 0
                                             : target.find_last_of('/') + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempPath = dir + "/." + base + ".tmp-" + std::to_string(::getpid()) + "-" +
               std::to_string(counter.fetch_add(1));
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
    files.Close(fd);
    files.Unlink(path.c_str());
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

void SyncDirectory(FileLayer& files, const std::string& dir) {
  const int fd = files.Open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) return;
  // The rename is done; a file system that cannot flush a directory still
  // holds the new file.
  files.Sync(fd);
  files.Close(fd);
}

}  // namespace

int ReadWholeFile(FileLayer& files, int fd, std::size_t limit, std::vector<char>& out) {
  struct stat info {};
  errno = 0;
  if (files.Stat(fd, &info) != 0) return ErrnoOr(EIO);
  if (!S_ISREG(info.st_mode)) return EINVAL;
  if (info.st_size < 0 || static_cast<unsigned long long>(info.st_size) > limit) return EFBIG;
  std::vector<char> bytes(static_cast<std::size_t>(info.st_size));
  std::size_t done = 0;
  while (done < bytes.size()) {
    errno = 0;
    const ssize_t n = files.ReadAt(fd, bytes.data() + done, bytes.size() - done,
                                   static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoOr(EIO);
    }
    if (n == 0) break;  // the file shrank meanwhile: take what is there
    done += static_cast<std::size_t>(n);
  }
  bytes.resize(done);
  out.swap(bytes);
  return 0;
}

int ReplaceFileAtomically(FileLayer& files, const std::string& path, int oldFd,
                          std::span<const char> bytes, int* newFd) {
  if (newFd == nullptr) return EINVAL;
  struct stat old {};
  errno = 0;
  if (files.Stat(oldFd, &old) != 0) return ErrnoOr(EIO);

  const std::string target = ResolvedPath(path);
  TemporaryFile temp(files);
  if (const int rc = CreateTemporary(files, target, temp.path, temp.fd); rc != 0) return rc;

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
  return 0;
}

}  // namespace qio::config
