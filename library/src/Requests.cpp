#include "Requests.h"

#include "ResultCodes.h"
#include "qio/platform/device_manager.h"
#include "qio/platform/errors.h"
#include "qio/protocol/ioctl.h"
#include "qio/protocol/records.h"

namespace qio::library {

std::uint32_t SendRequest(const DeviceEntry& entry, std::uint32_t code, const void* in, std::uint32_t inLength,
                          void* out, std::uint32_t outLength) {
  platform::SetLastError(platform::kErrorSuccess);
  std::uint32_t returned = 0;
  if (platform::DeviceIoControl(entry.streamHandle, code, in, inLength, out, outLength, &returned)) return kSuccess;
  return ErrorBase(entry.deviceNumber) + MapDriverError();
}

std::uint32_t SendEventEnable(const DeviceEntry& entry, std::uint16_t enable, std::uint16_t source,
                              std::uint16_t triggerCount) {
  protocol::EventEnableRequest request{};
  request.enable = enable;
  request.source = source;
  request.triggerCount = triggerCount;
  request.processId = platform::GetCurrentProcessId();
  return SendRecord(entry, protocol::IOCTL_EVENT_ENABLE, request);
}

std::uint32_t ReadDirectionCodes(const DeviceEntry& entry, std::uint8_t codes[3]) {
  const std::uint32_t propertyId = 0;
  return SendRequest(entry, protocol::IOCTL_PROPERTY_GET, &propertyId, sizeof propertyId, codes, 3);
}

std::uint32_t WriteDirectionCodes(const DeviceEntry& entry, const std::uint8_t codes[3]) {
  protocol::PropertySetRequest request{};
  request.propertyId = 0;
  request.codes[0] = codes[0];
  request.codes[1] = codes[1];
  request.codes[2] = codes[2];
  return SendRecord(entry, protocol::IOCTL_PROPERTY_SET, request);
}

}  // namespace qio::library
