// ScriptText: a registry script held in memory, and every edit the template
// editor makes to it. It does no file I/O: RegScriptFile loads a file into
// it and writes it back in one step, and a fuzzer or a test can drive it with
// nothing but bytes.
//
// The text is read the way the image build and regedit read it:
//   - a line ends at LF (a CR before it belongs to the line end);
//   - a section header is a line whose first non-blank character is "[", and
//     a section runs from its header line to the next such line (less the
//     " " line that an append writes before a header, which goes with it);
//   - template n's section is the one whose header is keyPrefix + n + "]"
//     (letters in any case, as registry keys are), after optional blanks and
//     followed by nothing but blanks or a ";" comment;
//   - a value line is a line that starts, after blanks, with the quoted
//     name, "=" and the data; a hex value may continue over further lines,
//     each continued line ending in "\", as long as the next line holds hex
//     bytes (a value line, a comment, a blank line or other text after a
//     stray "\" ends the list, so that no line added or left behind is
//     taken for its bytes);
//   - ";" starts a comment, outside a quoted string. A comment line, or a
//     comment that mentions a template's key or a value's name, is never
//     taken for a header or a value.
// A key may have several sections (a hand-edited file can repeat one); the
// registry merges them in order, so a value is read from the last line that
// sets it, a write replaces every such line, and a removal takes all of them.
//
// Every edit changes only the template's own header and value lines (and the
// " " line an append writes before a header); all other bytes, comments
// within a template's section included, stay as they were. New lines end like the file's lines do. Results are 0 for success
// and nonzero for failure unless said otherwise; a failed edit changes
// nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/script/ScriptEncoding.h"
#include "config/script/ScriptNames.h"
#include "config/script/ValueEntry.h"

namespace qio::config {

class ScriptText {
 public:
  // A value line with its CR LF and a terminator must fit this many bytes.
  static constexpr std::size_t kLineBufferBytes = 256;

  struct Span {
    std::size_t start = 0;  // first byte of the header line
    // First byte of the next section's header line, or of the " " line an
    // append wrote just before it; the text's end after the last section.
    std::size_t end = 0;
  };

  ScriptText() = default;
  explicit ScriptText(ScriptNames names) : names_(std::move(names)) {}

  // Takes a script's bytes. Returns 0, or EILSEQ (error() says why) when the
  // editor cannot represent them; the text is then unchanged.
  int Load(std::string_view bytes);
  // The text as the file's bytes, in the encoding it was loaded from.
  // Returns 0, or EILSEQ when the text no longer fits that encoding.
  int Encode(std::string& bytes) const;

  const ScriptNames& names() const { return names_; }
  const std::string& text() const { return text_; }
  ScriptEncoding encoding() const { return encoding_; }
  const std::string& lineEnd() const { return lineEnd_; }
  // Why the last failed Load or edit failed, when there is more to say than
  // the result.
  const std::string& error() const { return error_; }

  // Every section of template n, in file order.
  std::vector<Span> Sections(int n) const;
  bool SectionExists(int n) const { return !Sections(n).empty(); }

  // Appends " ", a line end, template n's header line, " " and a line end.
  // A header that is not UTF-8 (a component name in an 8-bit code page) is
  // a failure in a Unicode script.
  int AppendSection(int n);
  // Deletes every section of template n: its header line, its value lines,
  // and the " " line just before the header when there is one. Comments and
  // other lines between them stay. A template without a section is no
  // failure.
  int RemoveSection(int n);

  // Sets one value of template n (types 1, 3, 4): every line that sets it is
  // replaced where it stands, keeping its indentation, its trailing comment
  // and its line end (stray text after the old data goes with it); without such a line, the value becomes the last line
  // of the template's last section, or (without a section, in a file with no
  // section of any key) of the file; a template without a section in a file
  // with sections of other keys is a failure, as its value would be read as
  // theirs. The value always starts on a line of its own. A name with a quote or a
  // control character, a string with a line break, a string that is not
  // UTF-8 in a Unicode script, or a line over kLineBufferBytes is a failure.
  int WriteValue(int n, std::string_view name, std::uint32_t type, const void* data, std::uint32_t size);
  // Writes the rows of `table` in order until a row fails. Returns 1 when all
  // were written, 0 when one failed (the rows before it stay written).
  int WriteValues(int n, const ValueEntry* table);

  // Reads one value of template n, from the last line that sets it. `*size`
  // is in/out: the capacity of `data` in bytes, then the size found; `*type`
  // receives the type found. Nothing beyond the capacity is written; a string
  // is copied zero-terminated. With data null only type and size are reported
  // (a failure for types 1, 3 and 4). A value that is not set fails and
  // leaves the outputs untouched.
  int ReadValue(int n, std::string_view name, std::uint32_t* type, void* data, std::uint32_t* size) const;
  // Reads every row of `table`; a value that is not found leaves its row
  // untouched. Returns 0 when every row was read, 1 otherwise.
  int ReadValues(int n, ValueEntry* table) const;

 private:
  // Where one value line stands in the text.
  struct ValueLine {
    std::string name;           // unescaped; empty for the default value "@"
    std::size_t start = 0;      // first byte of the line
    std::size_t nameStart = 0;  // its opening quote
    std::size_t dataStart = 0;  // first byte of the data after "=" and blanks
    std::size_t dataEnd = 0;    // end of the data on its last line (before blanks and comment)
    std::size_t contentEnd = 0; // end of its last line, before the line end
    std::size_t next = 0;       // first byte after its line end
  };

  // Every value line of a section, in order.
  std::vector<ValueLine> SectionValues(const Span& span) const;
  // The lines that set `name` in template n's sections, in order.
  std::vector<ValueLine> ValueLines(int n, std::string_view name) const;
  bool Fail(std::string why) const;
  // True when some line opens a section (of any key).
  bool HasSectionHeader() const;

  ScriptNames names_;
  std::string text_;
  ScriptEncoding encoding_ = ScriptEncoding::kEightBit;
  std::string lineEnd_ = "\r\n";
  mutable std::string error_;
};

}  // namespace qio::config
