// Device-control requests on an entry's stream handle, with the library's
// result convention: 0 when the platform reports success, else ErrorBase plus
// the mapped last error.
#pragma once

#include <cstdint>

#include "DeviceEntry.h"

namespace qio::library {

// The thread's last error is cleared first, so that a refusal without an
// error code of its own maps to ErrorBase itself rather than to a stale value.
std::uint32_t SendRequest(const DeviceEntry& entry, std::uint32_t code, const void* in, std::uint32_t inLength,
                          void* out, std::uint32_t outLength);

// A request record with no response.
template <typename Record>
std::uint32_t SendRecord(const DeviceEntry& entry, std::uint32_t code, const Record& record) {
  return SendRequest(entry, code, &record, sizeof record, nullptr, 0);
}

// A record that is both input and output (one buffer, the record's length).
template <typename Record>
std::uint32_t ExchangeRecord(const DeviceEntry& entry, std::uint32_t code, Record& record) {
  return SendRequest(entry, code, &record, sizeof record, &record, sizeof record);
}

// IOCTL_EVENT_ENABLE for driver source `source`.
std::uint32_t SendEventEnable(const DeviceEntry& entry, std::uint16_t enable, std::uint16_t source,
                              std::uint16_t triggerCount);

// IOCTL_PROPERTY_GET with identifier 0: the direction codes of ports A, B, C.
std::uint32_t ReadDirectionCodes(const DeviceEntry& entry, std::uint8_t codes[3]);
// IOCTL_PROPERTY_SET with identifier 0.
std::uint32_t WriteDirectionCodes(const DeviceEntry& entry, const std::uint8_t codes[3]);

}  // namespace qio::library
