// The target's registry, hosted: keys under the local-machine root, names
// compared without regard to case (the case given at creation is kept),
// typed values stored as the target stores them. Thread-safe.
//
// Functions return a Win32-style status (kErrorSuccess = 0). Key paths use
// "\" between components, as on the target.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "qio/platform/api.h"
#include "qio/platform/kernel.h"

namespace qio::platform {

using RegKey = Handle;
// The predefined local-machine root; never closed.
inline constexpr RegKey kLocalMachine = 0x80000002u;

// Value types.
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegString = 1;       // UTF-16LE with terminator
inline constexpr std::uint32_t kRegExpandString = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;        // 4 bytes, little-endian
inline constexpr std::uint32_t kRegMultiString = 7;  // UTF-16LE strings, each terminated, then one more 0

QIO_PLATFORM_API std::uint32_t RegOpenKey(RegKey parent, std::string_view subKey, RegKey* key);
// Creates the key (and any missing parents) or opens it; *created (may be
// null) tells which.
QIO_PLATFORM_API std::uint32_t RegCreateKey(RegKey parent, std::string_view subKey, RegKey* key,
                                            bool* created);
QIO_PLATFORM_API std::uint32_t RegCloseKey(RegKey key);

// Queries a value. `size` is in/out: the capacity of `data` in bytes, then the
// value's size. With data null only type and size are reported. A buffer too
// small gives kErrorMoreData with the size needed and copies nothing. An empty
// name is the key's default value. kErrorFileNotFound when absent.
QIO_PLATFORM_API std::uint32_t RegQueryValue(RegKey key, std::string_view name, std::uint32_t* type,
                                             void* data, std::uint32_t* size);
QIO_PLATFORM_API std::uint32_t RegSetValue(RegKey key, std::string_view name, std::uint32_t type,
                                           const void* data, std::uint32_t size);
QIO_PLATFORM_API std::uint32_t RegDeleteValue(RegKey key, std::string_view name);

// Enumerates subkeys in creation order. `nameChars` is in/out: the capacity of
// `name` in characters including the terminator, then the name's length. A
// name that does not fit gives kErrorMoreData, leaves the buffer untouched and
// sets *nameChars to the capacity needed (terminator included); the caller
// may go on with the next index. Past the last subkey kErrorNoMoreItems.
QIO_PLATFORM_API std::uint32_t RegEnumKey(RegKey key, std::uint32_t index, char* name,
                                          std::uint32_t* nameChars);

// Deletes a key with everything below it.
QIO_PLATFORM_API std::uint32_t RegDeleteKey(RegKey parent, std::string_view subKey);

// ---- conveniences over the calls above ----------------------------------

// Sets a string value from UTF-8 text (stored UTF-16LE with terminator).
QIO_PLATFORM_API std::uint32_t RegSetString(RegKey key, std::string_view name, std::string_view text);
QIO_PLATFORM_API std::uint32_t RegSetDword(RegKey key, std::string_view name, std::uint32_t value);
// Reads a string value as UTF-8 text.
QIO_PLATFORM_API std::uint32_t RegQueryString(RegKey key, std::string_view name, std::string* text);
QIO_PLATFORM_API std::uint32_t RegQueryDword(RegKey key, std::string_view name, std::uint32_t* value);

// ---- the registry as text -----------------------------------------------

// Imports registry text (the .reg format that the image build merges and
// regedit writes): an optional "Windows Registry Editor Version 5.00" or
// "REGEDIT4" line, [HKEY_LOCAL_MACHINE\...] sections, "name"="text" (with
// \\ and \" escapes), @= for the default value, dword:, hex:, hex(7):
// multi-strings, ; comments, values continued with a trailing backslash, CR LF
// or LF line ends. The bytes may be UTF-16LE after its byte-order mark, UTF-8
// with or without one, or 8-bit ANSI text (code page 1252); under REGEDIT4
// the bytes of hex(1), hex(2) and hex(7) are ANSI text too. All or nothing:
// on a malformed line nothing is changed and *error (may be null) says which
// line and why. Returns true on success.
QIO_PLATFORM_API bool RegImportText(std::string_view bytes, std::string* error);

// Exports the whole registry as "Windows Registry Editor Version 5.00" text,
// in UTF-8, that RegImportText reads back to the same registry (keys and
// values in creation order, CR LF line ends; hex(2) and hex(7) bytes are
// UTF-16LE, as that version has them).
QIO_PLATFORM_API std::string RegExportText();

// Removes every key and value (used when the hosted target boots and shuts
// down). Open key handles become invalid.
QIO_PLATFORM_API void RegClearAll();

// UTF-8 <-> UTF-16LE byte conversions used for string values.
QIO_PLATFORM_API std::vector<std::uint8_t> Utf8ToUtf16Le(std::string_view text, bool terminate);
QIO_PLATFORM_API std::string Utf16LeToUtf8(const std::uint8_t* data, std::size_t bytes);

}  // namespace qio::platform
