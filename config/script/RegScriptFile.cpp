// Opening a script, loading it into the editor's text, and bringing every
// change to disk in one step.
#include "config/script/RegScriptFile.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <new>

namespace qio::config {

RegScriptFile::RegScriptFile(FileLayer& files) : files_(files) {}

RegScriptFile::~RegScriptFile() { Close(); }

int RegScriptFile::Open(const char* path) {
  if (path == nullptr) return EINVAL;
  if (::strnlen(path, kPathChars) >= kPathChars) return ENAMETOOLONG;
  Close();
  message_.clear();
  ScriptNames names;
  if (const int rc = DeriveScriptNames(path, names); rc != 0) {
    openError_ = rc;
    return rc;
  }
  errno = 0;
  const int fd = files_.Open(path, O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) {
    openError_ = errno != 0 ? errno : EIO;
    return openError_;
  }
  fd_ = fd;
  path_ = path;
  text_ = ScriptText(std::move(names));
  if (const int rc = Reload(); rc != 0) {
    Close();
    openError_ = rc;
    return rc;
  }
  return 0;
}

int RegScriptFile::Reload() {
  std::vector<char> bytes;
  if (const int rc = ReadWholeFile(files_, fd_, kMaxFileBytes, bytes); rc != 0) return rc;
  std::string raw(bytes.begin(), bytes.end());
  if (const int rc = text_.Load(raw); rc != 0) {
    message_ = text_.error();
    return rc;
  }
  onDisk_.swap(raw);
  ForgetSection();
  return 0;
}

int RegScriptFile::Commit(const ScriptText& edited) {
  lastWriteInPlace_ = false;
  int oldFd = -1;
  try {
    std::string bytes;
    if (const int rc = edited.Encode(bytes); rc != 0) {
      message_ = edited.error();
      return rc;
    }
    if (bytes.size() > kMaxFileBytes) return EFBIG;
    if (bytes != onDisk_) {
      int newFd = -1;
      ReplaceMode mode = ReplaceMode::kAtomic;
      if (const int rc = ReplaceFile(files_, path_, fd_, onDisk_, bytes, &newFd, &mode); rc != 0) return rc;
      if (newFd != fd_) oldFd = fd_;
      fd_ = newFd;
      lastWriteInPlace_ = mode == ReplaceMode::kInPlace;
      onDisk_.swap(bytes);
    }
    text_ = edited;
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  } catch (const std::exception&) {
    // A fault raised by the file layer: the old script is in place.
    return EIO;
  }
  ForgetSection();
  // The change is on disk; what follows can no longer fail it.
  try {
    if (oldFd >= 0) {
      files_.Close(oldFd);
    } else if (!lastWriteInPlace_) {
      // Nothing was written: a save still clears what crashed runs left.
      RemoveStaleTemporaries(files_, path_);
    }
  } catch (const std::exception&) {
  }
  return 0;
}

int RegScriptFile::Replace(const ScriptText& edited) {
  if (!IsOpen()) return EBADF;
  return Commit(edited);
}

void RegScriptFile::Close() {
  text_ = ScriptText();
  onDisk_.clear();
  onDisk_.shrink_to_fit();
  ForgetSection();
  if (fd_ >= 0) {
    files_.Close(fd_);
    fd_ = -1;
  }
}

int RegScriptFile::Locate(int n) {
  if (!IsOpen() || n < 0) return 1;
  if (n == cachedSection_) return sectionStart_ < sectionEnd_ ? 0 : 1;
  const auto sections = text_.Sections(n);
  cachedSection_ = n;
  if (sections.empty()) {
    sectionStart_ = sectionEnd_ = fileSize();
    return 1;
  }
  sectionStart_ = static_cast<std::uint32_t>(sections.front().start);
  sectionEnd_ = static_cast<std::uint32_t>(sections.front().end);
  return 0;
}

bool RegScriptFile::SectionExists(int n) { return IsOpen() && text_.SectionExists(n); }

int RegScriptFile::AppendSection(int n) {
  if (!IsOpen() || n < 0) return 1;
  ScriptText edited = text_;
  if (edited.AppendSection(n) != 0) {
    message_ = edited.error();
    return 1;
  }
  return Commit(edited) == 0 ? 0 : 1;
}

int RegScriptFile::RemoveSection(int n) {
  if (!IsOpen() || n < 0) return 1;
  ScriptText edited = text_;
  if (edited.RemoveSection(n) != 0) return 1;
  return Commit(edited) == 0 ? 0 : 1;
}

int RegScriptFile::WriteValue(int n, const char* name, std::uint32_t type, const void* data,
                              std::uint32_t size) {
  if (!IsOpen() || name == nullptr) return 1;
  ScriptText edited = text_;
  if (edited.WriteValue(n, name, type, data, size) != 0) {
    message_ = edited.error();
    return 1;
  }
  return Commit(edited) == 0 ? 0 : 1;
}

int RegScriptFile::WriteValues(int n, const ValueEntry* table) {
  if (!IsOpen() || table == nullptr) return 0;
  ScriptText edited = text_;
  const int written = edited.WriteValues(n, table);
  if (written == 0) message_ = edited.error();
  // The rows before a failing one are written all the same, in the one step.
  if (Commit(edited) != 0) return 0;
  return written;
}

int RegScriptFile::ReadValue(int n, const char* name, std::uint32_t* type, void* data, std::uint32_t* size) {
  if (!IsOpen() || name == nullptr) return 1;
  return text_.ReadValue(n, name, type, data, size);
}

int RegScriptFile::ReadValues(int n, ValueEntry* table) {
  if (!IsOpen()) return 1;
  return text_.ReadValues(n, table);
}

}  // namespace qio::config
