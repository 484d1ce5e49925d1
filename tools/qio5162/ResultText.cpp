#include "ResultText.h"

#include <cstdio>

namespace qio::tool {
namespace {

const char* LowMeaning(std::uint32_t low) {
  switch (low) {
    case 0x000: return "request refused without an error code";
    case 0x001: return "device record or its events could not be created";
    case 0x007: return "port, port range or counter out of range";
    case 0x00A: return "invalid argument";
    case 0x018: return "not a QIO-5162 board";
    case 0x01A: return "the driver's stream device could not be opened";
    case 0x020: return "counter parameter out of range";
    case 0x028: return "unknown event type";
    case 0x032: return "counter busy";
    case 0x03E: return "unknown property";
    case 0x03F: return "waiting for events failed";
    case 0x040: return "register outside the board's port window";
    case 0x068: return "DI event channel above 23";
    case 100: return "unspecified platform failure";
    case 101: return "not found";
    case 102: return "invalid handle";
    case 103: return "platform error 56";
    case 105: return "invalid memory access";
    default: return nullptr;
  }
}

}  // namespace

std::string ResultMeaning(std::uint32_t code) {
  switch (code) {
    case 0: return "success";
    case 2: return "no complete registry configuration for the device, or not this board";
    case 3: return "invalid driver handle";
    case 10: return "port address outside the board's port window";
    case 27: return "function number not known to DriverProc";
    default: break;
  }
  if (code < 0x1000) return "unknown result";
  const std::uint32_t device = code / 0x1000 - 1;
  const std::uint32_t low = code & 0xFFF;
  const char* meaning = LowMeaning(low);
  char text[96];
  if (meaning != nullptr) {
    std::snprintf(text, sizeof text, "%s", meaning);
  } else {
    std::snprintf(text, sizeof text, "driver error %u", static_cast<unsigned>(low));
  }
  std::string out = text;
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
      hasCode_(true) {}

DeviceError::DeviceError(std::string message) : std::runtime_error(std::move(message)) {}

void Check(std::uint32_t code, const char* call) {
  if (code != 0) throw DeviceError(call, code);
}

}  // namespace qio::tool
