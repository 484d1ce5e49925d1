// Device-control dispatch, and the driver's error convention.
#include "Dispatcher.h"

#include <array>

#include "Dio.h"
#include "InterruptService.h"
#include "qio/platform/errors.h"
#include "qio/protocol/ioctl.h"
#include "../counter/CounterEngine.h"

namespace qio::driver {

namespace {

using namespace protocol;
using B = BytesReturned;

constexpr DispatchRow kRows[] = {
    {IOCTL_EVENT_ENABLE, 16, false, 0, B::kZero, HandleEventEnable},
    {IOCTL_PORT_READ_BYTE, 4, true, 1, B::kHandler, HandlePortReadByte},
    {IOCTL_PORT_READ_WORD, 4, true, 2, B::kHandler, HandlePortReadWord},
    {IOCTL_PORT_READ_DWORD, 4, true, 4, B::kHandler, HandlePortReadDword},
    // The output must hold the port count; the handler checks it.
    {IOCTL_DIO_READ_DI_PORTS, 8, true, 0, B::kHandler, HandleReadDiPorts},
    {IOCTL_DIO_WRITE_DO_PORTS, 12, false, 0, B::kZero, HandleWriteDoPorts},
    {IOCTL_DIO_SET_EVENT_DI_PORTS, 12, false, 0, B::kZero, HandleSetEventDiPorts},
    {IOCTL_DIO_GET_EVENT_DI_PORTS, 4, true, 1, B::kHandler, HandleGetEventDiPorts},
    {IOCTL_PORT_WRITE_BYTE, 5, false, 0, B::kOutputLength, HandlePortWriteByte},
    {IOCTL_PORT_WRITE_WORD, 6, false, 0, B::kOutputLength, HandlePortWriteWord},
    {IOCTL_PORT_WRITE_DWORD, 8, false, 0, B::kOutputLength, HandlePortWriteDword},
    {IOCTL_DIO_GET_CURRENT_DO_PORTS, 8, true, 0, B::kHandler, HandleReadDoPorts},
    {IOCTL_COUNTER_EVENT_START, 4, false, 0, B::kZero, HandleCounterEventStart},
    {IOCTL_COUNTER_EVENT_READ, 8, true, 8, B::kFixed, HandleCounterEventRead},
    {IOCTL_COUNTER_FREQ_START, 6, false, 0, B::kZero, HandleCounterFreqStart},
    {IOCTL_COUNTER_FREQ_READ, 8, true, 8, B::kFixed, HandleCounterFreqRead},
    {IOCTL_COUNTER_PULSE_START, 16, false, 0, B::kZero, HandleCounterPulseStart},
    {IOCTL_COUNTER_RESET, 2, false, 0, B::kZero, HandleCounterReset},
    {IOCTL_PROPERTY_GET, 4, true, 3, B::kFixed, HandlePropertyGet},
    {IOCTL_PROPERTY_SET, 8, false, 0, B::kZero, HandlePropertySet},
    {IOCTL_FREQOUT_START, 6, false, 0, B::kZero, HandleFreqOutStart},
    {IOCTL_PWM_SETTING, 20, false, 0, B::kZero, HandlePwmSetting},
    {IOCTL_PWM_ENABLE, 2, false, 0, B::kZero, HandlePwmEnable},
    // The handler writes the whole 12-byte record back.
    {IOCTL_PWM_START_READ, 12, true, 12, B::kZero, HandlePwmStartRead},
    {IOCTL_COUNTER_CONFIG, 20, false, 0, B::kZero, HandleCounterConfig},
};

}  // namespace

HandlerResult Fail(DeviceContext& ctx, std::uint32_t code) {
  ctx.lastError.store(code);
  platform::SetLastError(DriverError(code));
  return 0;
}

const DispatchRow* FindDispatchRow(std::uint32_t code) {
  for (const DispatchRow& row : kRows) {
    if (row.code == code) return &row;
  }
  return nullptr;
}

HandlerResult Dispatch(DeviceContext* ctx, std::uint32_t code, const std::uint8_t* inBuffer,
                       std::uint32_t inLength, std::uint8_t* outBuffer, std::uint32_t outLength,
                       std::uint32_t* bytesReturned) {
  if (ctx == nullptr) {
    platform::SetLastError(DriverError(kDriverCodeNullHandle));
    return 0;
  }
  // The count of bytes returned has nowhere to go: refuse like a bad buffer.
  if (bytesReturned == nullptr) return Fail(*ctx, kDriverCodeBadBuffer);
  *bytesReturned = 0;

  const DispatchRow* row = FindDispatchRow(code);
  if (row == nullptr) {
    platform::SetLastError(kErrorUnknownCode);
    return 0;
  }
  if (inBuffer == nullptr || inLength < row->inputMinimum) return Fail(*ctx, kDriverCodeBadBuffer);
  if (row->outputRequired && (outBuffer == nullptr || outLength < row->outputMinimum)) {
    return Fail(*ctx, kDriverCodeBadBuffer);
  }

  switch (row->bytesReturned) {
    case B::kFixed: *bytesReturned = row->outputMinimum; break;
    case B::kOutputLength: *bytesReturned = outLength; break;
    case B::kZero:
    case B::kHandler: break;
  }

  Request request{{inBuffer, inLength}, {}, bytesReturned};
  if (row->outputRequired) request.out = {outBuffer, outLength};
  return row->handler(*ctx, request);
}

}  // namespace qio::driver
