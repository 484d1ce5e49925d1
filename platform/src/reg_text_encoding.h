// The encodings registry text arrives in, turned into the UTF-8 text the
// parser reads: UTF-16LE after its byte-order mark (regedit's own files),
// UTF-8 with or without a mark, and 8-bit ANSI text (REGEDIT4 files of
// regedit's "Win9x/NT4" kind, code page 1252). Internal to the platform.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qio::platform::detail {

// Decodes registry text. Text without a byte-order mark is UTF-8 when it is
// well-formed UTF-8, and code page 1252 otherwise. Returns false with
// *error set (no line number for the encoding as a whole, "line N: ..." for
// a fault at one place) for UTF-16 big-endian, UTF-16 of an odd length, an
// unpaired surrogate, or text after a UTF-8 mark that is not UTF-8.
bool DecodeRegText(std::string_view bytes, std::string* text, std::string* error);

// Code page 1252 bytes as UTF-8 (the five bytes it leaves undefined stand
// for the control characters of the same number, as Windows maps them).
std::string AnsiToUtf8(std::string_view bytes);

// An 8-bit string value of a REGEDIT4 file (hex(1), hex(2), hex(7) data) as
// the UTF-16LE the registry stores: every byte a code page 1252 character.
std::vector<std::uint8_t> AnsiToUtf16Le(const std::vector<std::uint8_t>& bytes);

}  // namespace qio::platform::detail
