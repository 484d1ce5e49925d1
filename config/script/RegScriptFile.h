// RegScriptFile: the editor of a board's registry script, the text file that
// the image build merges into the target's registry. Key lines stand in
// square brackets, value lines read "name"=..., lines end in CR LF and ";"
// starts a comment. The editor keeps one section per device template n (the
// key whose name ends in the driver key name + n), reads and writes single
// values in it, appends headers and removes whole sections, and leaves every
// other byte of the file as it was. All searches are plain, case-sensitive
// substring searches.
//
// One editor serves one operation: construct, Open, work, Close (the
// destructor closes too). It never creates the script. It holds the whole file
// in memory and reloads it after every change; each change reaches the disk
// atomically (FileLayer.h), so an interruption leaves the old or the new text.
//
// Results are 0 for success and nonzero for failure unless said otherwise.
// Every operation on an editor that is not open fails and changes nothing.
// Single-threaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/script/FileLayer.h"
#include "config/script/ValueEntry.h"

namespace qio::config {

// Kind of registry key a component's templates live under.
inline constexpr std::int32_t kBusPci = 0;       // PCI template
inline constexpr std::int32_t kBusUsb = 1;       // USB client driver
inline constexpr std::int32_t kBusBuiltIn = 2;   // built-in board (this board)

class RegScriptFile {
 public:
  static constexpr std::size_t kNameChars = 20;
  static constexpr std::size_t kPrefixChars = 256;
  // A value line with its CR LF and a terminator must fit this buffer.
  static constexpr std::size_t kLineBufferBytes = 256;
  // A script path with its terminator must fit this many characters.
  static constexpr std::size_t kPathChars = 260;
  // Scripts are small text files; anything larger is refused.
  static constexpr std::size_t kMaxFileBytes = 16u << 20;

  explicit RegScriptFile(FileLayer& files = FileLayer::System());
  ~RegScriptFile();
  RegScriptFile(const RegScriptFile&) = delete;
  RegScriptFile& operator=(const RegScriptFile&) = delete;

  // Opens an existing script for reading and writing and derives the
  // component's names and key prefix from the path. Returns 0 or an errno:
  // that of the failed open (ENOENT for a missing script), ENAMETOOLONG for a
  // path that does not fit kPathChars, EINVAL when the path names no
  // component (no "Device_Drivers/" or no bus kind) or is no regular file,
  // EFBIG for a file over kMaxFileBytes.
  int Open(const char* path);

  // True when a header of template n stands on a line without ";".
  bool SectionExists(int n);
  // Appends " " CR LF, the header line of template n, and " " CR LF.
  int AppendSection(int n);
  // Deletes the section of template n: its header up to the next "[". A
  // section that is not there is no failure and changes nothing.
  int RemoveSection(int n);

  // Writes one value line into section n: replaces the line that holds the
  // name, or adds it as the section's last line, or (no section) at the end of
  // the file. Types 1, 3 and 4. A line that does not fit kLineBufferBytes, a
  // name or string with a line break in it, or a failed write is a failure
  // and leaves the file unchanged.
  int WriteValue(int n, const char* name, std::uint32_t type, const void* data, std::uint32_t size);
  // Writes the rows of `table` in order. Returns 1 when all were written, 0
  // when one failed (the rows after it are not written).
  int WriteValues(int n, const ValueEntry* table);

  // Reads one value of section n. `*size` is in/out: the capacity of `data`
  // in bytes, then the size found; `*type` receives the type found. Nothing
  // beyond the capacity is written; a string is copied zero-terminated. With
  // data null only type and size are reported (a failure for types 1, 3, 4).
  int ReadValue(int n, const char* name, std::uint32_t* type, void* data, std::uint32_t* size);
  // Reads every row of `table`; a value that is not found leaves its row
  // untouched. Returns 0 when every row was read, 1 otherwise.
  int ReadValues(int n, ValueEntry* table);

  // Finds the bounds of section n (kept until the next change). Returns 0 when
  // its header was found; otherwise the section is empty at the end of the
  // file and the result is 1.
  int Locate(int n);

  // Releases the contents and closes the file.
  void Close();

  bool IsOpen() const { return fd_ >= 0; }
  const char* componentName() const { return componentName_; }
  const char* driverKeyName() const { return driverKeyName_; }
  std::int32_t busKind() const { return busKind_; }
  const char* keyPrefix() const { return keyPrefix_; }
  std::uint32_t fileSize() const { return fileSize_; }
  std::uint32_t sectionStart() const { return sectionStart_; }
  std::uint32_t sectionEnd() const { return sectionEnd_; }
  int openError() const { return openError_; }
  // The file as last loaded.
  std::string_view contents() const { return {contents_.data(), fileSize_}; }

  // keyPrefix + n + "]".
  std::string HeaderLine(int n) const;
  // The text that identifies template n's header in the file.
  std::string SearchKey(int n) const;

 private:
  int DeriveNames(std::string_view path);
  int Reload();
  // Replaces the whole file by `text` and reloads it.
  int Commit(const std::string& text);
  bool Loaded() const { return fd_ >= 0 && !contents_.empty(); }

  FileLayer& files_;
  char componentName_[kNameChars] = {};
  char driverKeyName_[kNameChars] = {};
  std::int32_t busKind_ = -1;
  char keyPrefix_[kPrefixChars] = {};
  // The last component of the header before the number ("ZQS5162S" or
  // "Template"): the search key starts with it.
  char searchBase_[kNameChars] = {};
  int fd_ = -1;
  int openError_ = 0;
  std::string path_;
  std::uint32_t fileSize_ = 0;
  std::vector<char> contents_;  // fileSize_ + 1 bytes, the last one zero; empty before a load
  std::int32_t cachedSection_ = -1;
  std::uint32_t sectionStart_ = 0;
  std::uint32_t sectionEnd_ = 0;
};

}  // namespace qio::config
