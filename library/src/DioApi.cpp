// Digital I/O: DI reads, read-back of the output ports and the writers.
//
// The driver reads and writes whole ports only; masks, bits and the
// read-modify-write of the masked writers are done here. A masked write is a
// read-back request and a write request, made under the entry's output lock
// (as is every write), so that another thread's write cannot fall between them.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "DeviceTable.h"
#include "ExportGuard.h"
#include "Requests.h"
#include "ResultCodes.h"
#include "qio/protocol/ioctl.h"
#include "qio/protocol/records.h"
#include "qio5162/Zqs5162.h"

namespace qio::library {
namespace {

constexpr std::uint16_t kHighestBit = 7;

// The two sides a port read can look at: the DI pins, or the driver's record
// of the last values written to the output ports.
enum class Side { Input, OutputRecord };

unsigned PortsOf(const DeviceEntry& entry, Side side) {
  const DeviceFeatures& features = *entry.settings.features;
  return side == Side::Input ? InputPorts(features) : OutputPorts(features);
}

std::uint32_t CodeOf(Side side) {
  return side == Side::Input ? protocol::IOCTL_DIO_READ_DI_PORTS : protocol::IOCTL_DIO_GET_CURRENT_DO_PORTS;
}

// Port range checks shared by every multi-port call: first below the port
// count, and first + count within it (computed without wrapping).
bool RangeValid(std::uint32_t first, std::uint32_t count, unsigned ports) {
  return first < ports && count <= ports - first;
}

std::uint32_t SendPortsRead(const DeviceEntry& entry, Side side, std::uint32_t first, std::uint32_t count,
                            void* out) {
  protocol::DioPortsRequest request{first, count};
  return SendRequest(entry, CodeOf(side), &request, sizeof request, out, count);
}

std::uint32_t SendPortsWrite(const DeviceEntry& entry, std::uint32_t first, std::uint32_t count,
                             const std::uint8_t* data) {
  protocol::DioWriteRequest request{};
  request.startPort = first;
  request.portCount = count;
  std::memcpy(request.data, data, std::min<std::size_t>(count, sizeof request.data));
  return SendRecord(entry, protocol::IOCTL_DIO_WRITE_DO_PORTS, request);
}

std::uint32_t ReadPorts(std::uint32_t h, Side side, std::uint32_t first, std::uint32_t count, std::uint8_t* buffer) {
  EntryRef entry = LookupDevice(h);
  if (!entry) return kResultBadHandle;
  const std::uint32_t base = ErrorBase(entry->deviceNumber);
  if (!RangeValid(first, count, PortsOf(*entry, side))) return base + kLowRange;
  if (buffer == nullptr) return base + kLowArgument;
  return SendPortsRead(*entry, side, first, count, buffer);
}

// The Word and Dword reads: up to `maxPorts` ports from `port` on, as many as
// exist, into the bytes of *value; the valid-port mask is stored whatever the
// read returned.
template <typename Value>
std::uint32_t ReadMulti(std::uint32_t h, Side side, std::uint16_t port, Value* validMask, Value* value) {
  constexpr unsigned maxPorts = sizeof(Value);
  EntryRef entry = LookupDevice(h);
  if (!entry) return kResultBadHandle;
  const std::uint32_t base = ErrorBase(entry->deviceNumber);
  const unsigned ports = PortsOf(*entry, side);
  if (port >= ports) return base + kLowRange;
  if (value == nullptr) return base + kLowArgument;
  const unsigned n = std::min(maxPorts, ports - port);
  const std::uint32_t result = SendPortsRead(*entry, side, port, n, value);
  if (validMask != nullptr) {
    constexpr unsigned bits = 8 * sizeof(Value);
    *validMask = static_cast<Value>(static_cast<Value>(~Value{0}) >> (bits - 8 * n));
  }
  return result;
}

std::uint32_t ReadBit(std::uint32_t h, Side side, std::uint16_t port, std::uint16_t bit, std::uint16_t* value) {
  EntryRef entry = LookupDevice(h);
  if (!entry) return kResultBadHandle;
  const std::uint32_t base = ErrorBase(entry->deviceNumber);
  if (bit > kHighestBit) return base + kLowArgument;
  if (!RangeValid(port, 1, PortsOf(*entry, side))) return base + kLowRange;
  if (value == nullptr) return base + kLowArgument;
  std::uint8_t byte = 0;
  const std::uint32_t result = SendPortsRead(*entry, side, port, 1, &byte);
  if (result == kSuccess) *value = static_cast<std::uint16_t>((byte >> bit) & 1u);
  return result;
}

// The masked writers: read back up to `maxPorts` output ports from `port` on,
// combine (current AND NOT mask) OR (state AND mask), write them back.
std::uint32_t WriteMasked(std::uint32_t h, std::uint16_t port, unsigned maxPorts, std::uint32_t mask,
                          std::uint32_t state) {
  EntryRef entry = LookupDevice(h);
  if (!entry) return kResultBadHandle;
  const unsigned ports = PortsOf(*entry, Side::OutputRecord);
  if (port >= ports) return ErrorBase(entry->deviceNumber) + kLowRange;
  const unsigned n = std::min(maxPorts, ports - port);
  std::scoped_lock output(entry->outputLock);
  std::uint8_t current[4] = {};
  const std::uint32_t readBack = SendPortsRead(*entry, Side::OutputRecord, port, n, current);
  if (readBack != kSuccess) return readBack;
  std::uint32_t value = 0;
  for (unsigned k = 0; k < n; ++k) value |= static_cast<std::uint32_t>(current[k]) << (8 * k);
  value = (value & ~mask) | (state & mask);
  std::uint8_t bytes[4] = {};
  for (unsigned k = 0; k < n; ++k) bytes[k] = static_cast<std::uint8_t>(value >> (8 * k));
  return SendPortsWrite(*entry, port, n, bytes);
}

}  // namespace
}  // namespace qio::library

using namespace qio::library;

// ---- DI -------------------------------------------------------------------

extern "C" ZQS5162_API uint32_t DioReadDiPorts(uint32_t h, uint32_t FirstPort, uint32_t PortCount, uint8_t* Buffer) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t { return ReadPorts(h, Side::Input, FirstPort, PortCount, Buffer); });
}

extern "C" ZQS5162_API uint32_t DioReadPortByte(uint32_t h, uint16_t Port, uint8_t* Value) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t { return ReadPorts(h, Side::Input, Port, 1, Value); });
}

extern "C" ZQS5162_API uint32_t DioReadPortWord(uint32_t h, uint16_t Port, uint16_t* ValidMask, uint16_t* Value) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t { return ReadMulti<std::uint16_t>(h, Side::Input, Port, ValidMask, Value); });
}

extern "C" ZQS5162_API uint32_t DioReadPortDword(uint32_t h, uint16_t Port, uint32_t* ValidMask, uint32_t* Value) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t { return ReadMulti<std::uint32_t>(h, Side::Input, Port, ValidMask, Value); });
}

extern "C" ZQS5162_API uint32_t DioReadBit(uint32_t h, uint16_t Port, uint16_t Bit, uint16_t* Value) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t { return ReadBit(h, Side::Input, Port, Bit, Value); });
}

// ---- read-back of the output ports -----------------------------------------

extern "C" ZQS5162_API uint32_t DioGetCurrentDoPortsState(uint32_t h, uint32_t FirstPort, uint32_t PortCount,
                                                          uint8_t* Buffer) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t { return ReadPorts(h, Side::OutputRecord, FirstPort, PortCount, Buffer); });
}

extern "C" ZQS5162_API uint32_t DioGetCurrentDOByte(uint32_t h, uint16_t Port, uint8_t* Value) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t { return ReadPorts(h, Side::OutputRecord, Port, 1, Value); });
}

extern "C" ZQS5162_API uint32_t DioGetCurrentDOWord(uint32_t h, uint16_t Port, uint16_t* ValidMask,
                                                    uint16_t* Value) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t { return ReadMulti<std::uint16_t>(h, Side::OutputRecord, Port, ValidMask, Value); });
}

extern "C" ZQS5162_API uint32_t DioGetCurrentDODword(uint32_t h, uint16_t Port, uint32_t* ValidMask,
                                                     uint32_t* Value) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t { return ReadMulti<std::uint32_t>(h, Side::OutputRecord, Port, ValidMask, Value); });
}

extern "C" ZQS5162_API uint32_t DioGetCurrentDOBit(uint32_t h, uint16_t Port, uint16_t Bit, uint16_t* Value) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t { return ReadBit(h, Side::OutputRecord, Port, Bit, Value); });
}

// ---- writers ---------------------------------------------------------------

extern "C" ZQS5162_API uint32_t DioWriteDoPorts(uint32_t h, uint32_t FirstPort, uint32_t PortCount,
                                                const uint8_t* Data) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t {
    EntryRef entry = LookupDevice(h);
    if (!entry) return kResultBadHandle;
    const std::uint32_t base = ErrorBase(entry->deviceNumber);
    if (!RangeValid(FirstPort, PortCount, PortsOf(*entry, Side::OutputRecord))) return base + kLowRange;
    if (Data == nullptr) return base + kLowArgument;
    std::scoped_lock output(entry->outputLock);
    return SendPortsWrite(*entry, FirstPort, PortCount, Data);
  });
}

extern "C" ZQS5162_API uint32_t DioWritePortByte(uint32_t h, uint16_t Port, uint16_t Mask, uint16_t State) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t { return WriteMasked(h, Port, 1, Mask, State); });
}

extern "C" ZQS5162_API uint32_t DioWritePortWord(uint32_t h, uint16_t Port, uint16_t Mask, uint16_t State) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t { return WriteMasked(h, Port, 2, Mask, State); });
}

extern "C" ZQS5162_API uint32_t DioWritePortDword(uint32_t h, uint16_t Port, uint32_t Mask, uint32_t State) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t { return WriteMasked(h, Port, 4, Mask, State); });
}

extern "C" ZQS5162_API uint32_t DioWriteBit(uint32_t h, uint16_t Port, uint16_t Bit, uint16_t State) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t {
    EntryRef entry = LookupDevice(h);
    if (!entry) return kResultBadHandle;
    const std::uint32_t base = ErrorBase(entry->deviceNumber);
    if (Bit > kHighestBit) return base + kLowArgument;
    if (!RangeValid(Port, 1, PortsOf(*entry, Side::OutputRecord))) return base + kLowRange;
    std::scoped_lock output(entry->outputLock);
    std::uint8_t byte = 0;
    const std::uint32_t readBack = SendPortsRead(*entry, Side::OutputRecord, Port, 1, &byte);
    if (readBack != kSuccess) return readBack;
    const auto bitMask = static_cast<std::uint8_t>(1u << Bit);
    byte = static_cast<std::uint8_t>(State != 0 ? (byte | bitMask) : (byte & ~bitMask));
    return SendPortsWrite(*entry, Port, 1, &byte);
  });
}
