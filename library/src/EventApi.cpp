// The event API: switching the driver's event sources on and off, choosing
// the DI ports a channel latches, and waiting on a device's 27 event slots.
#include "DeviceTable.h"
#include "ExportGuard.h"
#include "Requests.h"
#include "ResultCodes.h"
#include "qio/platform/kernel.h"
#include "qio/protocol/ioctl.h"
#include "qio/protocol/records.h"
#include "qio5162/Zqs5162.h"

namespace qio::library {
namespace {

std::uint32_t EnableEventOn(DeviceEntry& entry, std::uint16_t eventType, std::uint16_t enable,
                            std::uint16_t count) {
  const std::uint32_t base = ErrorBase(entry.deviceNumber);
  const int slot = FindEventSlot(eventType);
  if (slot < 0) return base + kLowEventType;
  if (slot == static_cast<int>(kCloseSlot)) return kSuccess;  // the close event is always armed
  if (enable != 0 && count == 0) return base + kLowArgument;
  const std::uint32_t result = SendEventEnable(entry, enable, SourceOfSlot(slot), count);
  if (result != kSuccess) return result;
  entry.eventTypes[slot].store(enable != 0 ? eventType : kEventNone);
  return kSuccess;
}

// The slot of a DI or counter event type; the close event does not count.
int SourceSlot(std::uint32_t eventType) {
  const int slot = FindEventSlot(eventType);
  return slot > static_cast<int>(kCloseSlot) ? slot : -1;
}

}  // namespace
}  // namespace qio::library

using namespace qio::library;
namespace platform = qio::platform;
namespace protocol = qio::protocol;

extern "C" ZQS5162_API uint32_t EnableEvent(uint32_t h, uint16_t EventType, uint16_t Enable, uint16_t Count) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t {
    EntryRef entry = LookupDevice(h);
    if (!entry) return kResultBadHandle;
    return EnableEventOn(*entry, EventType, Enable, Count);
  });
}

extern "C" ZQS5162_API uint32_t CheckEvent(uint32_t h, uint16_t* EventType, uint32_t Milliseconds) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t {
    EntryRef entry = LookupDevice(h);
    if (!entry) return kResultBadHandle;
    if (EventType == nullptr) return ErrorBase(entry->deviceNumber) + kLowArgument;
    // The handles stay open while this call holds the entry: the last close
    // signals slot 0 and waits for every caller to return before closing them.
    const std::uint32_t wait = platform::WaitForMultipleObjects(entry->eventHandles, Milliseconds);
    if (wait < platform::kWaitObject0 + kEventSlots) {
      *EventType = entry->eventTypes[wait - platform::kWaitObject0].load();
      return kSuccess;
    }
    if (wait == platform::kWaitTimeout) {
      *EventType = kEventTimeout;
      return kSuccess;
    }
    *EventType = kEventNone;
    if (wait == platform::kWaitFailed) return ErrorBase(entry->deviceNumber) + kLowWait;
    return kSuccess;
  });
}

extern "C" ZQS5162_API uint32_t DioEnableEventAndSpecifyDiPorts(uint32_t h, uint32_t EventType, uint32_t FirstPort,
                                                                uint32_t PortCount) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t {
    EntryRef entry = LookupDevice(h);
    if (!entry) return kResultBadHandle;
    const std::uint32_t base = ErrorBase(entry->deviceNumber);
    const unsigned ports = InputPorts(*entry->settings.features);
    if (FirstPort >= ports || PortCount > ports - FirstPort) return base + kLowArgument;
    const int slot = SourceSlot(EventType);
    if (slot < 0) return base + kLowEventType;
    // The driver refuses this for the counter sources; the enable goes on.
    protocol::DiEventPortsRequest request{SourceOfSlot(slot), FirstPort, PortCount};
    SendRecord(*entry, protocol::IOCTL_DIO_SET_EVENT_DI_PORTS, request);
    return EnableEventOn(*entry, static_cast<std::uint16_t>(EventType), 1, 1);
  });
}

extern "C" ZQS5162_API uint32_t DioDisableEvent(uint32_t h, uint32_t EventType) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t {
    EntryRef entry = LookupDevice(h);
    if (!entry) return kResultBadHandle;
    if (SourceSlot(EventType) < 0) return ErrorBase(entry->deviceNumber) + kLowEventType;
    return EnableEventOn(*entry, static_cast<std::uint16_t>(EventType), 0, 0);
  });
}

extern "C" ZQS5162_API uint32_t DioGetLatestEventDiPortsState(uint32_t h, uint32_t EventType, uint8_t* Buffer,
                                                              uint32_t Length) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t {
    EntryRef entry = LookupDevice(h);
    if (!entry) return kResultBadHandle;
    const std::uint32_t base = ErrorBase(entry->deviceNumber);
    if (Buffer == nullptr || Length == 0) return base + kLowArgument;
    const int slot = SourceSlot(EventType);
    if (slot < 0) return base + kLowEventType;
    const std::uint32_t channel = SourceOfSlot(slot);
    return SendRequest(*entry, protocol::IOCTL_DIO_GET_EVENT_DI_PORTS, &channel, sizeof channel, Buffer, Length);
  });
}
