// Port directions and raw register access.
//
// Raw accesses are bounded by the port window of the device's settings: an
// offset above "IoPortCount" is refused here with the plain code 10; an
// offset equal to it passes and is left to the driver's own window check.
#include <mutex>

#include "DeviceTable.h"
#include "ExportGuard.h"
#include "Requests.h"
#include "ResultCodes.h"
#include "qio/protocol/directions.h"
#include "qio/protocol/ioctl.h"
#include "qio/protocol/records.h"
#include "qio5162/Zqs5162.h"

namespace qio::library {

bool DirectionAllowed(std::uint32_t port, std::uint32_t code) {
  if (code == protocol::kDirAllInput || code == protocol::kDirAllOutput) return true;
  return (code == protocol::kDirLowInHighOut || code == protocol::kDirLowOutHighIn) && port % 3 == 2;
}

namespace {

// Checks the handle and the window and sends one raw access. The request
// carries the offset and, for writes, the value after it.
std::uint32_t RawAccess(std::uint32_t h, std::uint16_t port, std::uint32_t code, std::uint32_t inLength,
                        std::uint32_t value, void* out, std::uint32_t outLength, bool needsOut) {
  EntryRef entry = LookupDevice(h);
  if (!entry) return kResultBadHandle;
  const std::uint32_t offset = static_cast<std::uint32_t>(port) - entry->settings.baseAddress;
  if (offset > entry->settings.ioPortCount) return kResultPortWindow;
  if (needsOut && out == nullptr) return ErrorBase(entry->deviceNumber) + kLowArgument;
  protocol::PortAccessRequest request{offset, value};
  return SendRequest(*entry, code, &request, inLength, out, outLength);
}

template <typename Value>
std::uint32_t RawRead(std::uint32_t h, std::uint16_t port, std::uint32_t code, Value* value) {
  Value read = 0;
  const std::uint32_t result = RawAccess(h, port, code, 4, 0, value == nullptr ? nullptr : &read, sizeof read, true);
  if (result == kSuccess) *value = read;
  return result;
}

}  // namespace
}  // namespace qio::library

using namespace qio::library;
namespace protocol = qio::protocol;

// ---- directions --------------------------------------------------------------

extern "C" ZQS5162_API uint32_t DioSetPortMode(uint32_t h, uint16_t Port, uint16_t Direction) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t {
    EntryRef entry = LookupDevice(h);
    if (!entry) return kResultBadHandle;
    const std::uint32_t base = ErrorBase(entry->deviceNumber);
    if (Port >= InputPorts(*entry->settings.features)) return base + kLowRange;
    if (!DirectionAllowed(Port, Direction)) return base + kLowArgument;
    // The codes of all ports are read back and written whole: under the
    // device's output lock, so that modes set at once for different ports
    // from several threads do not undo each other.
    std::scoped_lock output(entry->outputLock);
    std::uint8_t codes[3] = {};
    const std::uint32_t read = ReadDirectionCodes(*entry, codes);
    if (read != kSuccess) return read;
    codes[Port] = static_cast<std::uint8_t>(Direction);
    return WriteDirectionCodes(*entry, codes);
  });
}

extern "C" ZQS5162_API uint32_t DioGetConfig(uint32_t h, uint16_t* Codes, uint16_t Count) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t {
    EntryRef entry = LookupDevice(h);
    if (!entry) return kResultBadHandle;
    const unsigned ports = InputPorts(*entry->settings.features);
    const unsigned count = Count > ports ? ports : Count;
    if (Codes == nullptr && count > 0) return ErrorBase(entry->deviceNumber) + kLowArgument;
    std::uint8_t codes[3] = {};
    const std::uint32_t read = ReadDirectionCodes(*entry, codes);
    if (read != kSuccess) return read;
    for (unsigned port = 0; port < count; ++port) Codes[port] = codes[port];
    return kSuccess;
  });
}

// ---- raw registers -----------------------------------------------------------

extern "C" ZQS5162_API uint32_t ReadPortByte(uint32_t h, uint16_t Port, uint16_t* Value) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t {
    std::uint8_t byte = 0;
    const std::uint32_t result = RawRead<std::uint8_t>(h, Port, protocol::IOCTL_PORT_READ_BYTE,
                                                       Value == nullptr ? nullptr : &byte);
    if (result == kSuccess) *Value = byte;  // zero-extended
    return result;
  });
}

extern "C" ZQS5162_API uint32_t ReadPortWord(uint32_t h, uint16_t Port, uint16_t* Value) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t { return RawRead<std::uint16_t>(h, Port, protocol::IOCTL_PORT_READ_WORD, Value); });
}

extern "C" ZQS5162_API uint32_t ReadPortDword(uint32_t h, uint16_t Port, uint32_t* Value) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t { return RawRead<std::uint32_t>(h, Port, protocol::IOCTL_PORT_READ_DWORD, Value); });
}

extern "C" ZQS5162_API uint32_t WritePortByte(uint32_t h, uint16_t Port, uint8_t Value) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t { return RawAccess(h, Port, protocol::IOCTL_PORT_WRITE_BYTE, 5, Value, nullptr, 0, false); });
}

extern "C" ZQS5162_API uint32_t WritePortWord(uint32_t h, uint16_t Port, uint16_t Value) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t { return RawAccess(h, Port, protocol::IOCTL_PORT_WRITE_WORD, 6, Value, nullptr, 0, false); });
}

extern "C" ZQS5162_API uint32_t WritePortDword(uint32_t h, uint16_t Port, uint32_t Value) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t { return RawAccess(h, Port, protocol::IOCTL_PORT_WRITE_DWORD, 8, Value, nullptr, 0, false); });
}
