// The file calls the registry-script editor makes, and the one composed
// operation that matters for keeping a script intact: replacing its whole
// text atomically.
//
// Every system call goes through a virtual function of FileLayer so that a test
// can make a single call fail (a full disk during the write, a failed flush, a
// refused rename) and then look at what is left on disk. The functions follow
// the POSIX convention: -1 (or a short count) with errno set on failure.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace qio::config {

class FileLayer {
 public:
  virtual ~FileLayer() = default;

  virtual int Open(const char* path, int flags, mode_t mode);
  virtual int Close(int fd);
  virtual int Stat(int fd, struct stat* info);
  virtual ssize_t ReadAt(int fd, void* buffer, std::size_t size, off_t offset);
  virtual ssize_t Write(int fd, const void* data, std::size_t size);
  virtual int Sync(int fd);
  virtual int ChangeMode(int fd, mode_t mode);
  virtual int ChangeOwner(int fd, uid_t owner, gid_t group);
  virtual int Rename(const char* from, const char* to);
  virtual int Unlink(const char* path);

  // The layer that calls the operating system directly.
  static FileLayer& System();
};

// Reads the whole file behind `fd` from offset 0 into `out` (exactly the file's
// length). A file longer than `limit` bytes gives EFBIG. Returns 0 or an errno.
int ReadWholeFile(FileLayer& files, int fd, std::size_t limit, std::vector<char>& out);

// Replaces the file at `path`, currently open as `oldFd`, by `bytes`, so that an
// interruption at any moment leaves either the old or the new text on disk,
// never a mixture or a truncated file: the text is written to a new file in
// the same directory, flushed, given the old file's permission bits (and owner
// where allowed), and renamed over the old file; then the directory is flushed.
// A symbolic link at `path` is followed: the file it names is replaced.
//
// On success returns 0 and `*newFd` is a read/write descriptor of the new file
// (the caller closes `oldFd`). On failure returns an errno, the old file is
// untouched and the temporary file is gone.
int ReplaceFileAtomically(FileLayer& files, const std::string& path, int oldFd,
                          std::span<const char> bytes, int* newFd);

}  // namespace qio::config
