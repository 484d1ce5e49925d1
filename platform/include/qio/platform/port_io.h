// The port-I/O bus of the hosted target: 8-, 16- and 32-bit input and output
// on 16-bit port numbers, dispatched to the devices mapped on port ranges.
// An unmapped port reads all ones and ignores writes, like a floating ISA bus.
// An access that is not wholly inside one device's range is split into byte
// accesses. Thread-safe; a device's handlers may be called from any thread.
// A handler runs under the bus lock: it must not map or unmap ports nor make a
// port access of its own (raising an interrupt request is fine).
#pragma once

#include <cstdint>

#include "qio/platform/api.h"

namespace qio::platform {

class PortDevice {
 public:
  virtual ~PortDevice() = default;
  // `offset` is relative to the mapped base; `width` is 1, 2 or 4 bytes and the
  // access lies wholly inside the mapped range.
  virtual std::uint32_t PortRead(std::uint16_t offset, unsigned width) = 0;
  virtual void PortWrite(std::uint16_t offset, unsigned width, std::uint32_t value) = 0;
};

// Maps a device on [base, base + length). Refused (false) when the range is
// empty, passes 0xFFFF or overlaps a mapped range. The device must outlive its
// mapping; it is not owned.
QIO_PLATFORM_API bool MapPorts(std::uint16_t base, std::uint32_t length, PortDevice* device);
// Removes the mapping that starts at base. Returns false when there is none.
// Returns only once no access to the device is in progress.
QIO_PLATFORM_API bool UnmapPorts(std::uint16_t base);
QIO_PLATFORM_API void UnmapAllPorts();

QIO_PLATFORM_API std::uint8_t PortInByte(std::uint16_t port);
QIO_PLATFORM_API std::uint16_t PortInWord(std::uint16_t port);
QIO_PLATFORM_API std::uint32_t PortInDword(std::uint16_t port);
QIO_PLATFORM_API void PortOutByte(std::uint16_t port, std::uint8_t value);
QIO_PLATFORM_API void PortOutWord(std::uint16_t port, std::uint16_t value);
QIO_PLATFORM_API void PortOutDword(std::uint16_t port, std::uint32_t value);

}  // namespace qio::platform
