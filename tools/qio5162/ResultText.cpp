#include "ResultText.h"

#include <cstdio>

#include "qio5162/target.h"

namespace qio::tool {

std::string ResultMeaning(std::uint32_t code) {
  std::string out = qio_target_result_text(code);
  const bool deviceCode = code >= 0x1000 && code / 0x1000 - 1 <= 254;
  if (!deviceCode) return out;
  if (out == qio_target_result_text(UINT32_MAX)) {
    char low[32];
    std::snprintf(low, sizeof low, " (low code 0x%03X)", static_cast<unsigned>(code & 0xFFF));
    out += low;
  }
  const std::uint32_t device = code / 0x1000 - 1;
  if (device != 0) out += " (device " + std::to_string(device) + ")";
  return out;
}

std::string ResultCodeText(std::uint32_t code) {
  char text[24];
  if (code < 0x1000) {
    std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(code));
  } else {
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(code));
  }
  return text;
}

std::string DescribeResult(std::uint32_t code) { return ResultCodeText(code) + ": " + ResultMeaning(code); }

DeviceError::DeviceError(std::string call, std::uint32_t code)
    : std::runtime_error(call + " failed: " + DescribeResult(code)), call_(std::move(call)), code_(code),
      hasCode_(true), meaning_(ResultMeaning(code)) {}

DeviceError::DeviceError(std::string call, std::uint32_t code, std::string meaning)
    : std::runtime_error(call + " failed: " + ResultCodeText(code) + ": " + meaning), call_(std::move(call)),
      code_(code), hasCode_(true), meaning_(std::move(meaning)) {}

DeviceError::DeviceError(std::string message) : std::runtime_error(std::move(message)) {}

void Check(std::uint32_t code, const char* call) {
  if (code != 0) throw DeviceError(call, code);
}

}  // namespace qio::tool
