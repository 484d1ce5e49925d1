// RegScriptFile: the editor of a board's registry script, the text file that
// the image build merges into the target's registry. It keeps one section
// per device template n (the key whose name ends in the driver key name +
// n), reads and writes single values in it, appends headers and removes
// whole sections, and leaves every other byte of the file as it was. How the
// text is read and changed is ScriptText's (ScriptText.h); this class loads
// the file into it and brings every change to disk.
//
// One editor serves one operation: construct, Open, work, Close (the
// destructor closes too). It never creates the script. It holds the whole file
// in memory. Each change, and each Replace of the whole text, reaches the disk
// in one step (ReplaceFile in FileLayer.h), so an interruption leaves the old
// or the new text; a change that fails leaves both the file and the editor's
// copy as they were. The file's encoding (8-bit, UTF-8 with its byte-order
// mark, UTF-16LE) and line ends are kept.
//
// Results are 0 for success and nonzero for failure unless said otherwise.
// Every operation on an editor that is not open fails and changes nothing.
// Single-threaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "config/script/FileLayer.h"
#include "config/script/ScriptText.h"
#include "config/script/ValueEntry.h"

namespace qio::config {

class RegScriptFile {
 public:
  static constexpr std::size_t kNameChars = 20;
  static constexpr std::size_t kPrefixChars = 256;
  // A value line with its CR LF and a terminator must fit this buffer.
  static constexpr std::size_t kLineBufferBytes = ScriptText::kLineBufferBytes;
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
  // component (no "Device_Drivers/", no bus kind, a control character in the
  // component's name) or is no regular file,
  // EFBIG for a file over kMaxFileBytes, EILSEQ for text the editor cannot
  // represent (message() says why).
  int Open(const char* path);

  // True when a header of template n stands on a line of its own.
  bool SectionExists(int n);
  // Appends " ", a line end, the header line of template n, " " and a line end.
  int AppendSection(int n);
  // Deletes the sections of template n. A template without a section is no
  // failure and changes nothing.
  int RemoveSection(int n);

  // Writes one value of template n (ScriptText::WriteValue).
  int WriteValue(int n, const char* name, std::uint32_t type, const void* data, std::uint32_t size);
  // Writes the rows of `table` in order, in one step. Returns 1 when all were
  // written, 0 when one failed (the rows before it are written) or the file
  // could not be written (nothing is).
  int WriteValues(int n, const ValueEntry* table);

  // Reads one value of template n (ScriptText::ReadValue).
  int ReadValue(int n, const char* name, std::uint32_t* type, void* data, std::uint32_t* size);
  // Reads every row of `table`; a value that is not found leaves its row
  // untouched. Returns 0 when every row was read, 1 otherwise.
  int ReadValues(int n, ValueEntry* table);

  // Finds the bounds of template n's first section (kept until the next
  // change). Returns 0 when its header was found; otherwise the section is
  // empty at the end of the text and the result is 1.
  int Locate(int n);

  // The script as the editor holds it. A caller composes any number of
  // changes on a copy and hands it to Replace, which writes it in one step.
  const ScriptText& script() const { return text_; }
  // Makes `edited` the script's text. Returns 0 (also when nothing changed)
  // or the errno of the failed write; the file and the editor's copy are then
  // as they were.
  int Replace(const ScriptText& edited);
  // True when the last change was written in place because the script's
  // directory takes no new file (see ReplaceFile).
  bool lastWriteInPlace() const { return lastWriteInPlace_; }
  // Why the last Open or change failed, when there is more to say than its
  // errno; empty otherwise.
  const std::string& message() const { return message_; }

  // Releases the contents and closes the file.
  void Close();

  bool IsOpen() const { return fd_ >= 0; }
  const char* componentName() const { return text_.names().componentName.c_str(); }
  const char* driverKeyName() const { return text_.names().driverKeyName.c_str(); }
  std::int32_t busKind() const { return text_.names().busKind; }
  const char* keyPrefix() const { return text_.names().keyPrefix.c_str(); }
  std::uint32_t fileSize() const { return static_cast<std::uint32_t>(text_.text().size()); }
  std::uint32_t sectionStart() const { return sectionStart_; }
  std::uint32_t sectionEnd() const { return sectionEnd_; }
  int openError() const { return openError_; }
  // The text as last loaded or written (without a byte-order mark; UTF-16
  // as UTF-8).
  std::string_view contents() const { return text_.text(); }

  // keyPrefix + n + "]".
  std::string HeaderLine(int n) const { return text_.names().HeaderLine(n); }
  // The header's last component, the number and "]" ("ZQS5162S0]").
  std::string SearchKey(int n) const { return text_.names().SearchKey(n); }

 private:
  int Reload();
  // Writes `edited` if it differs from the file and makes it the editor's text.
  int Commit(const ScriptText& edited);
  void ForgetSection() {
    cachedSection_ = -1;
    sectionStart_ = sectionEnd_ = 0;
  }

  FileLayer& files_;
  ScriptText text_;
  int fd_ = -1;
  int openError_ = 0;
  std::string path_;
  std::string onDisk_;  // the file's bytes as last read or written
  std::string message_;
  bool lastWriteInPlace_ = false;
  std::int32_t cachedSection_ = -1;
  std::uint32_t sectionStart_ = 0;
  std::uint32_t sectionEnd_ = 0;
};

}  // namespace qio::config
