// DriverProc: the generic entry of a data-acquisition layer. It unpacks the
// parameter record of a function number and calls the export; the export
// does every check. Numbers not in the table return 27.
#include "CounterConfig.h"
#include "DeviceTable.h"
#include "ExportGuard.h"
#include "ResultCodes.h"
#include "qio5162/Zqs5162.h"

namespace qio::library {
namespace {

// A pointer-sized handle argument that does not fit 32 bits is no handle.
std::uint32_t HandleOf(uintptr_t handle) {
  return handle > 0xFFFFFFFFu ? 0 : static_cast<std::uint32_t>(handle);
}

// The result for a function whose parameter record is missing: 3 for a bad
// handle (as the export would say), else a missing argument.
std::uint32_t MissingRecord(std::uint32_t h) {
  EntryRef entry = LookupDevice(h);
  return entry ? ErrorBase(entry->deviceNumber) + kLowArgument : kResultBadHandle;
}

// Calls fn(record) with the record that `parameter` refers to.
template <typename Record, typename Fn>
std::uint32_t WithRecord(std::uint32_t h, uintptr_t parameter, Fn fn) {
  if (parameter == 0) return MissingRecord(h);
  return fn(*reinterpret_cast<const Record*>(parameter));
}

std::uint32_t Dispatch(std::uint32_t function, uintptr_t handle, uintptr_t parameter) {
  const std::uint32_t h = HandleOf(handle);
  // A counter or event type passed as the parameter itself: a value beyond
  // the callee's argument becomes one the callee refuses, never its low bits.
  const auto small = static_cast<std::uint16_t>(parameter > 0xFFFFu ? 0xFFFFu : parameter);
  const std::uint64_t wide = parameter;
  const auto word = static_cast<std::uint32_t>(wide > 0xFFFFFFFFu ? 0xFFFFFFFFu : wide);
  switch (function) {
    case ZQS_FN_DEVICE_OPEN:
      return DeviceOpen(HandleOf(handle), reinterpret_cast<std::uint32_t*>(parameter));
    case ZQS_FN_DEVICE_CLOSE:
      return DeviceClose(reinterpret_cast<std::uint32_t*>(handle));
    case ZQS_FN_DEVICE_GET_FEATURES:
      return WithRecord<ZqsGetFeaturesParams>(h, parameter, [&](const auto& r) {
        return DeviceGetFeatures(h, r.Buffer, r.Size);
      });
    case ZQS_FN_DIO_SET_PORT_MODE:
      return WithRecord<ZqsSetPortModeParams>(h, parameter, [&](const auto& r) {
        return DioSetPortMode(h, r.Port, r.Direction);
      });
    case ZQS_FN_DIO_GET_CONFIG:
      return WithRecord<ZqsGetConfigParams>(h, parameter, [&](const auto& r) {
        return DioGetConfig(h, r.Codes, r.Count);
      });
    case ZQS_FN_DIO_READ_PORT_BYTE:
      return WithRecord<ZqsPortByteRefParams>(h, parameter, [&](const auto& r) {
        return DioReadPortByte(h, r.Port, r.Value);
      });
    case ZQS_FN_DIO_WRITE_PORT_BYTE:
      return WithRecord<ZqsPortMaskParams>(h, parameter, [&](const auto& r) {
        return DioWritePortByte(h, r.Port, r.Mask, r.State);
      });
    case ZQS_FN_DIO_READ_BIT:
      return WithRecord<ZqsPortBitRefParams>(h, parameter, [&](const auto& r) {
        return DioReadBit(h, r.Port, r.Bit, r.Value);
      });
    case ZQS_FN_DIO_WRITE_BIT:
      return WithRecord<ZqsPortBitStateParams>(h, parameter, [&](const auto& r) {
        return DioWriteBit(h, r.Port, r.Bit, r.State);
      });
    case ZQS_FN_DIO_GET_CURRENT_DO_BYTE:
      return WithRecord<ZqsPortByteRefParams>(h, parameter, [&](const auto& r) {
        return DioGetCurrentDOByte(h, r.Port, r.Value);
      });
    case ZQS_FN_DIO_GET_CURRENT_DO_BIT:
      return WithRecord<ZqsPortBitRefParams>(h, parameter, [&](const auto& r) {
        return DioGetCurrentDOBit(h, r.Port, r.Bit, r.Value);
      });
    case ZQS_FN_WRITE_PORT_WORD:
      return WithRecord<ZqsWritePortWordParams>(h, parameter, [&](const auto& r) {
        return WritePortWord(h, r.Port, r.Value);
      });
    case ZQS_FN_READ_PORT_WORD:
      return WithRecord<ZqsReadPortWordParams>(h, parameter, [&](const auto& r) {
        return ReadPortWord(h, r.Port, r.Value);
      });
    case ZQS_FN_COUNTER_EVENT_START:
      return WithRecord<ZqsCounterEventStartParams>(h, parameter, [&](const auto& r) {
        return CounterEventStart(h, r.Counter, r.Reserved);
      });
    case ZQS_FN_COUNTER_EVENT_READ:
      return WithRecord<ZqsCounterEventReadParams>(h, parameter, [&](const auto& r) {
        return CounterEventRead(h, r.Counter, r.Tally, r.Count);
      });
    case ZQS_FN_COUNTER_FREQ_START:
      return WithRecord<ZqsCounterFreqStartParams>(h, parameter, [&](const auto& r) {
        return CounterFreqStart(h, r.Counter, r.Gate, r.Reserved);
      });
    case ZQS_FN_COUNTER_FREQ_READ:
      return WithRecord<ZqsCounterFreqReadParams>(h, parameter, [&](const auto& r) {
        return CounterFreqRead(h, r.Counter, r.Frequency);
      });
    case ZQS_FN_COUNTER_PULSE_START:
      return WithRecord<ZqsCounterPulseStartParams>(h, parameter, [&](const auto& r) {
        return CounterPulseStart(h, r.Counter, r.Period, r.Reserved1, r.Reserved2);
      });
    case ZQS_FN_COUNTER_RESET: return CounterReset(h, small);
    case ZQS_FN_ENABLE_EVENT:
      return WithRecord<ZqsEnableEventParams>(h, parameter, [&](const auto& r) {
        return EnableEvent(h, r.EventType, r.Enable, r.Count);
      });
    case ZQS_FN_CHECK_EVENT:
      return WithRecord<ZqsCheckEventParams>(h, parameter, [&](const auto& r) {
        return CheckEvent(h, r.EventType, r.Milliseconds);
      });
    case ZQS_FN_COUNTER_PWM_SETTING:
      return WithRecord<ZqsCounterPwmSettingParams>(h, parameter, [&](const auto& r) {
        return CounterPWMSetting(h, r.Counter, r.Period, r.HighTime, r.PulseCount, r.Reserved);
      });
    case ZQS_FN_COUNTER_PWM_ENABLE: return CounterPWMEnable(h, small);
    case ZQS_FN_PWM_START_READ:
      return WithRecord<ZqsPwmStartReadParams>(h, parameter, [&](const auto& r) {
        return PWMStartRead(h, r.Counter, r.First, r.Second);
      });
    case ZQS_FN_FREQOUT_START:
      return WithRecord<ZqsFreqOutStartParams>(h, parameter, [&](const auto& r) {
        return FreqOutStart(h, r.Counter, r.Divisor, r.Source);
      });
    case ZQS_FN_FREQOUT_RESET: return FreqOutReset(h, small);
    case ZQS_FN_COUNTER_CONFIG:
      return WithRecord<ZqsCounterConfigParams>(h, parameter, [&](const auto& r) {
        return CounterConfig(h, r.Counter, r.InitialCount, r.Mode);
      });
    case ZQS_FN_DEVICE_SET_PROPERTY:
      return WithRecord<ZqsSetPropertyParams>(h, parameter, [&](const auto& r) {
        return DeviceSetProperty(h, r.Id, r.Data, r.Length);
      });
    case ZQS_FN_DEVICE_GET_PROPERTY:
      return WithRecord<ZqsGetPropertyParams>(h, parameter, [&](const auto& r) {
        return DeviceGetProperty(h, r.Id, r.Buffer, r.Length);
      });
    case ZQS_FN_WRITE_PORT_WORD_ALT:
      return WithRecord<ZqsWritePortWordAltParams>(h, parameter, [&](const auto& r) {
        return WritePortWord(h, r.Port, r.Value);
      });
    case ZQS_FN_READ_PORT_DWORD:
      return WithRecord<ZqsReadPortDwordParams>(h, parameter, [&](const auto& r) {
        return ReadPortDword(h, r.Port, r.Value);
      });
    case ZQS_FN_DIO_READ_PORT_WORD:
      return WithRecord<ZqsPortWordRefParams>(h, parameter, [&](const auto& r) {
        return DioReadPortWord(h, r.Port, r.ValidMask, r.Value);
      });
    case ZQS_FN_DIO_WRITE_PORT_WORD:
      return WithRecord<ZqsPortMaskParams>(h, parameter, [&](const auto& r) {
        return DioWritePortWord(h, r.Port, r.Mask, r.State);
      });
    case ZQS_FN_DIO_READ_PORT_DWORD:
      return WithRecord<ZqsPortDwordRefParams>(h, parameter, [&](const auto& r) {
        return DioReadPortDword(h, r.Port, r.ValidMask, r.Value);
      });
    case ZQS_FN_DIO_WRITE_PORT_DWORD:
      return WithRecord<ZqsPortDwordMaskParams>(h, parameter, [&](const auto& r) {
        return DioWritePortDword(h, r.Port, r.Mask, r.State);
      });
    case ZQS_FN_DIO_GET_CURRENT_DO_WORD:
      return WithRecord<ZqsPortWordRefParams>(h, parameter, [&](const auto& r) {
        return DioGetCurrentDOWord(h, r.Port, r.ValidMask, r.Value);
      });
    case ZQS_FN_DIO_GET_CURRENT_DO_DWORD:
      return WithRecord<ZqsPortDwordRefParams>(h, parameter, [&](const auto& r) {
        return DioGetCurrentDODword(h, r.Port, r.ValidMask, r.Value);
      });
    case ZQS_FN_DIO_ENABLE_EVENT_DI_PORTS:
      return WithRecord<ZqsEnableEventDiPortsParams>(h, parameter, [&](const auto& r) {
        return DioEnableEventAndSpecifyDiPorts(h, r.EventType, r.FirstPort, r.PortCount);
      });
    case ZQS_FN_DIO_DISABLE_EVENT: return DioDisableEvent(h, word);
    case ZQS_FN_DIO_GET_LATEST_EVENT_DI_PORTS:
      return WithRecord<ZqsLatestEventDiPortsParams>(h, parameter, [&](const auto& r) {
        return DioGetLatestEventDiPortsState(h, r.EventType, r.Buffer, r.Length);
      });
    case ZQS_FN_DIO_READ_DI_PORTS:
      return WithRecord<ZqsPortsBufferParams>(h, parameter, [&](const auto& r) {
        return DioReadDiPorts(h, r.FirstPort, r.PortCount, r.Buffer);
      });
    case ZQS_FN_DIO_WRITE_DO_PORTS:
      return WithRecord<ZqsPortsDataParams>(h, parameter, [&](const auto& r) {
        return DioWriteDoPorts(h, r.FirstPort, r.PortCount, r.Data);
      });
    case ZQS_FN_DIO_GET_CURRENT_DO_PORTS:
      return WithRecord<ZqsPortsBufferParams>(h, parameter, [&](const auto& r) {
        return DioGetCurrentDoPortsState(h, r.FirstPort, r.PortCount, r.Buffer);
      });
    default: return kResultBadFunction;
  }
}

}  // namespace
}  // namespace qio::library

extern "C" ZQS5162_API uint32_t DriverProc(uint32_t Reserved1, uint32_t Reserved2, uint32_t Function,
                                           uintptr_t Handle, uintptr_t Parameter) {
  return qio::library::GuardedForHandle(static_cast<uint32_t>(Handle), [&]() -> uint32_t {
    (void)Reserved1;
    (void)Reserved2;
    return qio::library::Dispatch(Function & 0xFFFFu, Handle, Parameter);
  });
}
