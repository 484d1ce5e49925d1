// Fuzz target: registry text import and export (RegImportText,
// RegExportText), and the boot of a hosted target from text that does not
// import (qio_target_boot_data).
//
// Each input is raw bytes (any encoding, any content) or a text built from
// realistic pieces (reg_text_builder.h) whose meaning is known line by line;
// either may be imported over a registry that an earlier, valid text filled,
// and either may meet an allocation that fails part-way.
// Oracle:
//   - a failed import leaves the registry exactly as it was and says why:
//     "line N: ..." with N a line of the text (for a built text, the very
//     line that is bad), or a fault of the encoding as a whole, or "out of
//     memory" when an allocation was made to fail;
//   - a built text that is valid imports, and afterwards every key it
//     leaves exists, every value it sets has exactly the type and bytes it
//     wrote, every key it deleted is gone, and the export holds as many keys
//     and values as the text left;
//   - after a successful import, the export imports again (from an empty
//     registry, in UTF-8, UTF-8 with its mark or UTF-16LE; and over the
//     registry it came from) and exports to the very same text;
//   - a hosted target booted from a text that does not import refuses with
//     QIO_TARGET_E_REGISTRY and the import's own message, boots nothing and
//     leaves the registry empty.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "qio/platform/errors.h"
#include "qio/platform/faults.h"
#include "qio/platform/registry.h"
#include "qio5162/target.h"
#include "reg_text_builder.h"
#include "text_encodings.h"

namespace {

namespace pf = qio::platform;
using qio::fuzz::BuiltText;
using qio::fuzz::FuzzInput;
using qio::fuzz::RegistryModel;
using qio::fuzz::RegTextBuilder;

constexpr std::string_view kEmptyExport = "Windows Registry Editor Version 5.00\r\n";
// Faults of the text as a whole, which no one line carries.
constexpr std::string_view kWholeTextFaults[] = {
    "the UTF-16 text ends in half a character (an odd number of bytes)",
    "UTF-16 big-endian text is not read; save it as UTF-16LE (regedit's Unicode) or UTF-8",
};

// The number of lines of the text the bytes hold, whatever their encoding.
std::size_t LineCount(std::string_view bytes) {
  std::size_t lines = 1;
  if (bytes.substr(0, 2) == qio::fuzz::kUtf16LeMark) {
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) lines += bytes[i] == '\n' && bytes[i + 1] == '\0';
  } else {
    for (const char c : bytes) lines += c == '\n';
  }
  return lines;
}

// The N of "line N: why", or 0 when the message has no such form.
std::size_t MessageLine(std::string_view message) {
  if (message.substr(0, 5) != "line ") return 0;
  std::size_t line = 0;
  std::size_t i = 5;
  for (; i < message.size() && message[i] >= '0' && message[i] <= '9' && i < 16; ++i) {
    line = line * 10 + static_cast<std::size_t>(message[i] - '0');
  }
  const bool rest = message.substr(i, 2) == ": " && message.size() > i + 2;
  return rest ? line : 0;
}

std::string Show(std::string_view text) { return std::string(text.substr(0, 300)); }

// The message of a refused import: a line of the text, or the text as a whole.
void CheckRefusal(const std::string& error, std::string_view bytes, std::size_t badLine, bool injected) {
  if (injected && error == "out of memory") return;
  for (const auto whole : kWholeTextFaults) {
    if (error == whole) {
      QIO_FUZZ_CHECK(badLine == 0, "a built text was refused as a whole: %s", error.c_str());
      return;
    }
  }
  const std::size_t line = MessageLine(error);
  QIO_FUZZ_CHECK(line >= 1 && line <= LineCount(bytes), "refusal without a line of the text (%zu lines): \"%s\"",
                 LineCount(bytes), Show(error).c_str());
  if (badLine != 0) {
    QIO_FUZZ_CHECK(line == badLine, "line %zu is the bad one, the import named: \"%s\"", badLine, Show(error).c_str());
  }
}

std::vector<std::uint8_t> QueryValue(pf::RegKey key, const std::string& name, std::uint32_t* type,
                                     std::uint32_t* status) {
  std::uint32_t size = 0;
  *status = pf::RegQueryValue(key, name, type, nullptr, &size);
  if (*status != pf::kErrorSuccess) return {};
  std::vector<std::uint8_t> data(size);
  *status = pf::RegQueryValue(key, name, type, data.data(), &size);
  data.resize(size);
  return data;
}

// The registry against what a valid built text must have left.
void CheckModel(const RegistryModel& model) {
  std::size_t sections = 0;
  std::size_t values = 0;
  for (const auto& [folded, key] : model.keys()) {
    sections += key.path.empty() && key.values.empty() ? 0 : 1;
    values += key.values.size();
    pf::RegKey handle = pf::kNullHandle;
    const std::uint32_t opened =
        key.path.empty() ? pf::kErrorSuccess : pf::RegOpenKey(pf::kLocalMachine, key.path, &handle);
    if (key.path.empty()) handle = pf::kLocalMachine;
    QIO_FUZZ_CHECK(opened == pf::kErrorSuccess, "key \"%s\" is missing (%u)", key.path.c_str(), opened);
    for (const auto& value : key.values) {
      std::uint32_t type = 0;
      std::uint32_t status = 0;
      const std::vector<std::uint8_t> data = QueryValue(handle, value.name, &type, &status);
      QIO_FUZZ_CHECK(status == pf::kErrorSuccess, "value \"%s\" of \"%s\" is missing (%u)", value.name.c_str(),
                     key.path.c_str(), status);
      QIO_FUZZ_CHECK(type == value.type && data == value.data,
                     "value \"%s\" of \"%s\": type %u with %zu bytes, not type %u with %zu bytes", value.name.c_str(),
                     key.path.c_str(), type, data.size(), value.type, value.data.size());
    }
    pf::RegCloseKey(handle);
  }
  for (const auto& [folded, path] : model.deleted()) {
    if (model.keys().count(folded) != 0) continue;
    pf::RegKey handle = pf::kNullHandle;
    const std::uint32_t opened = pf::RegOpenKey(pf::kLocalMachine, path, &handle);
    if (opened == pf::kErrorSuccess) pf::RegCloseKey(handle);
    QIO_FUZZ_CHECK(opened == pf::kErrorFileNotFound, "deleted key \"%s\" is still there", path.c_str());
  }
  // Nothing more than the model: one section per key, one line per value.
  std::size_t exportedSections = 0;
  std::size_t exportedValues = 0;
  const std::string exported = pf::RegExportText();
  for (const std::string_view line : qio::fuzz::SplitLines(exported)) {
    exportedSections += line.front() == '[';
    exportedValues += line.front() == '"' || line.front() == '@';
  }
  QIO_FUZZ_CHECK(exportedSections == sections && exportedValues == values,
                 "the export holds %zu keys and %zu values, the text left %zu and %zu", exportedSections,
                 exportedValues, sections, values);
}

bool Import(std::string_view bytes, std::string* error) { return pf::RegImportText(bytes, error); }

// The export of a registry imports to the same registry: from nothing, in
// any encoding, and over itself.
void CheckRoundTrip(FuzzInput& input) {
  const std::string exported = pf::RegExportText();
  std::string encoded = exported;
  switch (input.Below(3)) {
    case 1: encoded = std::string(qio::fuzz::kUtf8Mark) + exported; break;
    case 2: encoded = std::string(qio::fuzz::kUtf16LeMark) + qio::fuzz::Utf16Le(exported); break;
    default: break;
  }
  std::string error;
  QIO_FUZZ_CHECK(Import(exported, &error), "the export imports over itself: %s", error.c_str());
  QIO_FUZZ_CHECK(pf::RegExportText() == exported, "importing the export over its registry changed it");
  pf::RegClearAll();
  QIO_FUZZ_CHECK(Import(encoded, &error), "the export does not import: %s", error.c_str());
  const std::string again = pf::RegExportText();
  QIO_FUZZ_CHECK(again == exported, "export -> import -> export differs:\n%s\n---\n%s", Show(exported).c_str(),
                 Show(again).c_str());
}

// A target booted from a text that does not import: refused with the
// import's message, nothing booted, the registry empty.
void CheckBootRefuses(std::string_view bytes, const std::string& error) {
  QioTarget* target = reinterpret_cast<QioTarget*>(&target);
  const int rc = qio_target_boot_data(bytes.data(), bytes.size(), QIO_TARGET_BARE | QIO_TARGET_NO_BOARDS, &target);
  QIO_FUZZ_CHECK(rc == QIO_TARGET_E_REGISTRY && target == nullptr, "boot from a bad text gave %d", rc);
  std::string expected = "qio_target_boot_data: registry text: " + error;
  const std::string message = qio_target_last_message();
  if (expected.size() > message.size()) expected.resize(message.size());  // the message buffer's limit
  QIO_FUZZ_CHECK(message == expected && message.size() > 40, "boot refused with \"%s\", not the import's \"%s\"",
                 Show(message).c_str(), Show(error).c_str());
  QIO_FUZZ_CHECK(pf::RegExportText() == kEmptyExport, "a refused boot left keys in the registry");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  pf::RegClearAll();
  const std::uint8_t mode = input.Byte();
  const bool built = (mode & 0x03) != 0;
  const bool prefilled = (mode & 0x04) != 0;
  const bool nullError = (mode & 0x08) != 0;
  const bool boot = (mode & 0x10) != 0;
  const std::uint64_t failAllocation = (mode & 0x60) == 0x60 ? 1 + input.Below(160) : 0;

  // A registry an earlier text filled, for this one to change.
  RegistryModel model;
  if (prefilled) {
    const BuiltText earlier = RegTextBuilder(input, false).Build(model);
    std::string error;
    QIO_FUZZ_CHECK(Import(earlier.bytes, &error), "a valid text does not import: %s", error.c_str());
    CheckModel(model);
  }

  BuiltText text;
  if (built) {
    text = RegTextBuilder(input, true).Build(model);
  } else {
    // The rest of the input, as it is.
    while (!input.Empty()) text.bytes.push_back(static_cast<char>(input.Byte()));
  }

  const std::string before = pf::RegExportText();
  std::string error = "(not set)";
  if (failAllocation != 0) pf::ArmFault(pf::FaultKind::Allocation, failAllocation);
  const bool imported = pf::RegImportText(text.bytes, nullError ? nullptr : &error);
  const bool injected = failAllocation != 0 && pf::FaultsInjected(pf::FaultKind::Allocation) != 0;
  pf::DisarmFaults();

  if (!imported) {
    QIO_FUZZ_CHECK(pf::RegExportText() == before, "a refused import changed the registry (%s)", Show(error).c_str());
    if (nullError) return 0;
    CheckRefusal(error, text.bytes, text.badLine, injected);
    QIO_FUZZ_CHECK(built ? injected || text.badLine != 0 : true, "a valid built text was refused: %s",
                   Show(error).c_str());
    if (boot && !injected) CheckBootRefuses(text.bytes, error);
    return 0;
  }
  QIO_FUZZ_CHECK(!injected, "the import succeeded though an allocation failed");
  QIO_FUZZ_CHECK(nullError || error.empty(), "a successful import left the message \"%s\"", Show(error).c_str());
  QIO_FUZZ_CHECK(text.badLine == 0, "the import took bad line %zu", text.badLine);
  if (built) CheckModel(model);
  CheckRoundTrip(input);
  return 0;
}
