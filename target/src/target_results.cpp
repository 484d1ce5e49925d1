// The library's result codes in words, for tools and language bindings that
// show a failed call to a person: the plain codes, and the device codes
// (device number + 1) * 0x1000 + a low code, whose low code carries the
// meaning whatever the device.
#include <cstdint>

#include "qio5162/target.h"

namespace {

constexpr std::uint32_t kDeviceCodeStep = 0x1000;
constexpr std::uint32_t kLastDeviceNumber = 254;
constexpr std::uint32_t kLowCodeMask = 0xFFF;

constexpr const char* kUnknown = "unknown result code";

const char* PlainMeaning(std::uint32_t code) {
  switch (code) {
    case 0: return "success";
    case 2: return "no complete registry configuration for the device, or not this board";
    case 3: return "invalid driver handle";
    case 10: return "port address outside the board's port window";
    case 27: return "function number not known to DriverProc";
    default: return nullptr;
  }
}

// Low codes: the library's own, the driver's (its error 0x20000000 + n
// arrives as n) and the platform errors the library maps.
const char* LowMeaning(std::uint32_t low) {
  switch (low) {
    case 0x000: return "request refused without an error code";
    case 0x001: return "device record or its events could not be created";
    case 0x003: return "the driver was given no open handle";
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
    case 103: return "too many requests pending in the platform";
    case 105: return "invalid memory access";
    default: return nullptr;
  }
}

}  // namespace

extern "C" const char* qio_target_result_text(uint32_t result) {
  if (const char* plain = PlainMeaning(result)) return plain;
  if (result < kDeviceCodeStep || result / kDeviceCodeStep - 1 > kLastDeviceNumber) return kUnknown;
  const char* meaning = LowMeaning(result & kLowCodeMask);
  return meaning != nullptr ? meaning : kUnknown;
}
