#include "ScriptLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace qio::tools {

ScriptLock::ScriptLock(const std::string& path) {
  // A save renames a new file over the script: a lock won on the file that
  // was replaced meanwhile guards nothing, so take it again on the new one.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    int rc = 0;
    do {
      rc = ::flock(fd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      // A file system without locks: edit as before.
      ::close(fd);
      return;
    }
    struct stat held {};
    struct stat named {};
    if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      fd_ = fd;
      return;
    }
    ::close(fd);
  }
}

ScriptLock::~ScriptLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace qio::tools
