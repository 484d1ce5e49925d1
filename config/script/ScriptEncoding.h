// How a registry script's bytes are encoded, and the conversions the editor
// needs to change the text and write it back exactly as it found it.
//
// Scripts come from the image tree's own files, from people's editors and
// from regedit, whose default is UTF-16LE with a byte-order mark. The editor
// works on narrow text: 8-bit text (ASCII, UTF-8 or an ANSI code page; every
// byte is kept as it is), UTF-8 after its byte-order mark, or UTF-16LE
// turned into UTF-8. Writing back restores the byte-order mark and the
// encoding, so the bytes the editor did not change are the bytes the file
// had. Text the editor cannot represent that way is refused.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qio::config {

enum class ScriptEncoding {
  kEightBit,  // no byte-order mark: bytes as they are
  kUtf8Bom,   // EF BB BF, then UTF-8
  kUtf16Le,   // FF FE, then UTF-16 little-endian
};

struct DecodedScript {
  ScriptEncoding encoding = ScriptEncoding::kEightBit;
  std::string text;      // narrow text, without a byte-order mark
  std::string lineEnd;   // "\r\n" or "\n": what new lines of this file end with
};

// Decodes a script's bytes. Returns 0, or EILSEQ with `*why` set when the
// editor cannot represent the text: UTF-16 big-endian, UTF-16 with an odd
// number of bytes or an unpaired surrogate, or a NUL character (which 8-bit
// text cannot hold, and which marks UTF-16 without its byte-order mark).
int DecodeScript(std::string_view bytes, DecodedScript& decoded, std::string* why);

// The bytes of `text` in `encoding`, its byte-order mark first. Returns 0, or
// EILSEQ when the encoding is UTF-16 and the text is not valid UTF-8, or the
// encoding is 8-bit and the text begins with the bytes of a byte-order mark
// (which would make the file read as another encoding).
int EncodeScript(std::string_view text, ScriptEncoding encoding, std::string& bytes);

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(std::string_view text);

// The line end a file uses: that of its first line, CR LF when it has none.
std::string_view DetectLineEnd(std::string_view text);

}  // namespace qio::config
