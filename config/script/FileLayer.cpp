#include "config/script/FileLayer.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qio::config {

int FileLayer::Open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int FileLayer::Close(int fd) { return ::close(fd); }
int FileLayer::Stat(int fd, struct stat* info) { return ::fstat(fd, info); }
ssize_t FileLayer::ReadAt(int fd, void* buffer, std::size_t size, off_t offset) {
  return ::pread(fd, buffer, size, offset);
}
ssize_t FileLayer::Write(int fd, const void* data, std::size_t size) { return ::write(fd, data, size); }
ssize_t FileLayer::WriteAt(int fd, const void* data, std::size_t size, off_t offset) {
  return ::pwrite(fd, data, size, offset);
}
int FileLayer::Truncate(int fd, off_t length) { return ::ftruncate(fd, length); }
int FileLayer::Sync(int fd) { return ::fsync(fd); }
int FileLayer::ChangeMode(int fd, mode_t mode) { return ::fchmod(fd, mode); }
int FileLayer::ChangeOwner(int fd, uid_t owner, gid_t group) { return ::fchown(fd, owner, group); }
int FileLayer::Rename(const char* from, const char* to) { return ::rename(from, to); }
int FileLayer::Unlink(const char* path) { return ::unlink(path); }
int FileLayer::StatPath(const char* path, struct stat* info) { return ::lstat(path, info); }

int FileLayer::ListDirectory(const char* path, std::vector<std::string>* names) {
  DIR* dir = ::opendir(path);
  if (dir == nullptr) return -1;
  names->clear();
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names->emplace_back(entry->d_name);
    }
  }
  const int error = errno;
  ::closedir(dir);
  errno = error;
  return error == 0 ? 0 : -1;
}

FileLayer& FileLayer::System() {
  static FileLayer layer;
  return layer;
}

int ReadWholeFile(FileLayer& files, int fd, std::size_t limit, std::vector<char>& out) {
  struct stat info {};
  errno = 0;
  if (files.Stat(fd, &info) != 0) return errno != 0 ? errno : EIO;
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
      return errno != 0 ? errno : EIO;
    }
    if (n == 0) break;  // the file shrank meanwhile: take what is there
    done += static_cast<std::size_t>(n);
  }
  bytes.resize(done);
  out.swap(bytes);
  return 0;
}

}  // namespace qio::config
