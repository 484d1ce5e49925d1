// The file calls the registry-script editor makes, and the one composed
// operation that matters for keeping a script intact: replacing its whole
// text in one step.
//
// Every system call goes through a virtual function of FileLayer so that a test
// can make a single call fail (a full disk during the write, a failed flush, a
// refused rename), or end the process at any call, and then look at what is
// left on disk. The functions follow the POSIX convention: -1 (or a short
// count) with errno set on failure.
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
  virtual ssize_t WriteAt(int fd, const void* data, std::size_t size, off_t offset);
  virtual int Truncate(int fd, off_t length);
  virtual int Sync(int fd);
  virtual int ChangeMode(int fd, mode_t mode);
  virtual int ChangeOwner(int fd, uid_t owner, gid_t group);
  virtual int Rename(const char* from, const char* to);
  virtual int Unlink(const char* path);
  // The status of a path itself (a symbolic link is not followed).
  virtual int StatPath(const char* path, struct stat* info);
  // The names in a directory, "." and ".." left out.
  virtual int ListDirectory(const char* path, std::vector<std::string>* names);

  // The layer that calls the operating system directly.
  static FileLayer& System();
};

// Reads the whole file behind `fd` from offset 0 into `out` (exactly the file's
// length). A file longer than `limit` bytes gives EFBIG. Returns 0 or an errno.
int ReadWholeFile(FileLayer& files, int fd, std::size_t limit, std::vector<char>& out);

// How ReplaceFile brought the new text to disk.
enum class ReplaceMode {
  kAtomic,   // a new file renamed over the old one: the old or the new text, always
  kInPlace,  // the old file overwritten: its directory takes no new file
};

// Replaces the file at `path`, currently open as `oldFd` and holding
// `oldBytes`, by `bytes`.
//
// Normally the text is written to a new file in the same directory
// (".<name>.tmp-<pid>-<n>"), flushed, given the old file's permission bits
// (and owner where allowed) and renamed over the old file; then the
// directory is flushed. An interruption at any moment (a failing call, the
// process killed, the machine stopping after the flushes) leaves either the
// old or the new text on disk, never a mixture. Temporary files that an
// interrupted run left behind (their process gone, or an hour old) are
// removed first. A symbolic link at `path` is followed: the file it names is
// replaced.
//
// When the directory does not let a new file be created (no write
// permission), the old file is overwritten in place and truncated, then
// flushed; an interruption during that write can leave a damaged file. A
// failing write in place is answered by writing `oldBytes` back.
//
// On success returns 0, `*newFd` is a read/write descriptor of the script
// (the new file, or `oldFd` itself after a write in place; the caller closes
// `oldFd` when they differ) and `*mode` tells which way was taken. On failure
// returns an errno; after the atomic way the old file is untouched and the
// temporary file is gone.
int ReplaceFile(FileLayer& files, const std::string& path, int oldFd, std::span<const char> oldBytes,
                std::span<const char> bytes, int* newFd, ReplaceMode* mode);

// The temporary files a replacement of `path` would use that no running
// replacement owns: their process is gone, or they are older than an hour.
std::vector<std::string> StaleTemporaries(FileLayer& files, const std::string& path);
// Removes them (ReplaceFile does this first; a save that finds nothing to
// write calls it on its own).
void RemoveStaleTemporaries(FileLayer& files, const std::string& path);

}  // namespace qio::config
