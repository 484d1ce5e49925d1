// Numbered properties: constants of the board family, the device's settings,
// and the DIO output masks that are read from and written to the driver's
// direction codes.
#include <mutex>
#include <cstring>
#include <optional>
#include <vector>

#include "DeviceTable.h"
#include "ExportGuard.h"
#include "Requests.h"
#include "ResultCodes.h"
#include "qio5162/Zqs5162.h"

namespace qio::library {
namespace {

constexpr std::uint16_t kPropDeviceNumber = 0x0000;
constexpr std::uint16_t kPropBoardId = 0x0001;
constexpr std::uint16_t kPropBaseAddress = 0x0003;
constexpr std::uint16_t kPropIrq = 0x0004;
constexpr std::uint16_t kPropOutputMasks = 0x3004;
constexpr std::uint16_t kPropPortGroups = 0x3005;
constexpr std::uint16_t kPropOutputMasks2 = 0x3006;
constexpr std::uint16_t kPropPwmLimits = 0x5008;

// The output mask of a port under a direction code (bits set are outputs).
std::uint32_t MaskOfCode(std::uint8_t code) {
  switch (code) {
    case 1: return 0x000000FFu;
    case 2: return 0xFFFFFFFFu;
    case 3: return 0x000000F0u;
    case 4: return 0x0000000Fu;
    default: return 0;
  }
}

// The direction code of an output mask, or none for a mask that no code has.
std::optional<std::uint8_t> CodeOfMask(std::uint32_t mask) {
  switch (mask) {
    case 0x00: return 0;
    case 0xFF: return 1;
    case 0xF0: return 3;
    case 0x0F: return 4;
    default: return std::nullopt;
  }
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  for (unsigned k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(value >> (8 * k)));
}

void PutU16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutFloatBits(std::vector<std::uint8_t>& out, std::uint32_t bits) { PutU32(out, bits); }

bool IsOutputMasks(std::uint16_t id) { return id == kPropOutputMasks || id == kPropOutputMasks2; }

// The value of every property but the output masks, or none for an unknown
// identifier. The output masks come back as placeholders of the right size.
std::optional<std::vector<std::uint8_t>> PropertyValue(std::uint16_t id, const DeviceEntry& entry) {
  const unsigned ports = InputPorts(*entry.settings.features);
  std::vector<std::uint8_t> v;
  switch (id) {
    case kPropDeviceNumber: PutU32(v, entry.deviceNumber); break;
    case kPropBoardId: PutU32(v, entry.settings.boardId); break;
    case kPropBaseAddress: PutU32(v, entry.settings.baseAddress); break;
    case kPropIrq: PutU32(v, entry.settings.irq); break;
    case kPropOutputMasks:
    case kPropOutputMasks2: v.assign(4 * ports, 0); break;
    case kPropPortGroups:
      for (unsigned p = 0; p < ports; ++p) v.push_back(p % 3 == 2 ? 4 : 3);
      break;
    case 0x3C82: PutU32(v, 0); break;
    case 0x3C83: PutU32(v, ports * 8); break;
    case 0x3C84: PutU32(v, ports); break;
    case 0x3C85:
    case 0x3C86:
      for (unsigned p = 0; p < ports; ++p) v.push_back(p < 3 ? 0xFF : 0);
      break;
    case 0x3C87:
    case 0x3C8C: v.assign(ports, 0); break;
    case 0x4806: PutU32(v, 0); break;
    case 0x4807: PutU32(v, ports * 8); break;
    case 0x4808: PutU32(v, ports); break;
    case 0x5001: PutU32(v, 0xE7); PutU32(v, 0xE7); break;
    case 0x5002: PutU32(v, 7); break;
    case 0x5003: PutU32(v, 3); break;
    case 0x5004: PutU32(v, 0x0F); break;
    case 0x5005: PutU32(v, 1); break;
    case 0x5006: PutU16(v, kEventTerminalCount0); PutU16(v, kEventTerminalCount1); break;
    case kPropPwmLimits:
      // Lower and upper limits, seconds, of the PWM period and high time; the
      // two lower limits differ in their last bit, as published.
      PutFloatBits(v, 0x3A031270u);
      PutFloatBits(v, 0x42700000u);  // 60.0
      PutFloatBits(v, 0x3A03126Fu);
      PutFloatBits(v, 0x42700000u);
      break;
    case 0x5009: PutU32(v, 2); break;
    case 0x5010: PutU32(v, 16); PutU32(v, 16); break;
    case 0x5011: PutU32(v, 0); PutU32(v, 0); break;
    default: return std::nullopt;
  }
  return v;
}

}  // namespace
}  // namespace qio::library

using namespace qio::library;

extern "C" ZQS5162_API uint32_t DeviceGetProperty(uint32_t DriverHandle, uint16_t Id, void* Buffer,
                                                  uint32_t* Length) {
  return qio::library::GuardedForHandle(DriverHandle, [&]() -> uint32_t {
    EntryRef entry = LookupDevice(DriverHandle);
    if (!entry) return kResultBadHandle;
    const std::uint32_t base = ErrorBase(entry->deviceNumber);
    if (Length == nullptr) return base + kLowArgument;
    if (Buffer != nullptr) std::memset(Buffer, 0, *Length);
    const std::optional<std::vector<std::uint8_t>> value = PropertyValue(Id, *entry);
    if (!value) return base + kLowProperty;
    const auto size = static_cast<std::uint32_t>(value->size());
    if (Buffer == nullptr) {
      *Length = size;
      return kSuccess;
    }
    if (*Length < size) {
      *Length = size;
      return base + kLowArgument;
    }
    if (IsOutputMasks(Id)) {
      std::uint8_t codes[3] = {};
      const std::uint32_t read = ReadDirectionCodes(*entry, codes);
      if (read != kSuccess) return read;
      std::memset(Buffer, 0, *Length);
      auto* out = static_cast<std::uint8_t*>(Buffer);
      const unsigned ports = size / 4;
      for (unsigned p = 0; p < ports && p < 3; ++p) {
        const std::uint32_t mask = MaskOfCode(codes[p]);
        for (unsigned k = 0; k < 4; ++k) out[4 * p + k] = static_cast<std::uint8_t>(mask >> (8 * k));
      }
    } else {
      std::memcpy(Buffer, value->data(), size);
    }
    *Length = size;
    return kSuccess;
  });
}

extern "C" ZQS5162_API uint32_t DeviceSetProperty(uint32_t DriverHandle, uint16_t Id, const void* Data,
                                                  uint32_t Length) {
  return qio::library::GuardedForHandle(DriverHandle, [&]() -> uint32_t {
    EntryRef entry = LookupDevice(DriverHandle);
    if (!entry) return kResultBadHandle;
    const std::uint32_t base = ErrorBase(entry->deviceNumber);
    if (Data == nullptr) return base + kLowArgument;
    if (!IsOutputMasks(Id)) return base + kLowProperty;
    const unsigned ports = InputPorts(*entry->settings.features);
    if (Length < 4 * ports) return base + kLowArgument;
    const auto* in = static_cast<const std::uint8_t*>(Data);
    std::uint8_t codes[3] = {};
    for (unsigned p = 0; p < ports && p < 3; ++p) {
      std::uint32_t mask = 0;
      for (unsigned k = 0; k < 4; ++k) mask |= static_cast<std::uint32_t>(in[4 * p + k]) << (8 * k);
      const std::optional<std::uint8_t> code = CodeOfMask(mask);
      if (!code || !DirectionAllowed(p, *code)) return base + kLowArgument;
      codes[p] = *code;
    }
    std::scoped_lock output(entry->outputLock);
    return WriteDirectionCodes(*entry, codes);
  });
}
