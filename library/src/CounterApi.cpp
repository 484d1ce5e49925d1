// The counter API: range checks, seconds to milliseconds for PWM, the
// per-counter PWM flag, and one request per call.

#include "CounterConfig.h"
#include "DeviceTable.h"
#include "ExportGuard.h"
#include "Requests.h"
#include "ResultCodes.h"
#include "qio/protocol/ioctl.h"
#include "qio/protocol/records.h"
#include "qio5162/Zqs5162.h"

namespace qio::library {
namespace {

constexpr std::uint16_t kLastCounter = 1;

// Pulse output period, seconds; both limits valid.
constexpr double kPulsePeriodMin = 0.001;
constexpr double kPulsePeriodMax = 50.0;

// Frequency output: divisors 1 to 16, generator sources 1 to 7 in bits 8-10.
constexpr std::uint16_t kDivisorMin = 1;
constexpr std::uint16_t kDivisorMax = 16;
constexpr std::uint16_t kSourceStep = 0x0100;
constexpr std::uint16_t kSourceMax = 0x0700;

// PWM, milliseconds: 0.5 < period <= 60000, 0.5 <= high time < 60000.
constexpr float kSecondsToMs = 1000.0f;
constexpr double kPwmTimeMax = 60000.0;
constexpr double kPwmTimeMin = 0.5;

bool SourceValid(std::uint16_t source) {
  return source >= kSourceStep && source <= kSourceMax && source % kSourceStep == 0;
}

// The PWM time checks, in double precision on the single-precision products
// that are sent. Written so that a not-a-number fails every comparison.
bool PwmTimesValid(float periodMs, float highMs) {
  const double period = periodMs;
  const double high = highMs;
  if (!(period <= kPwmTimeMax) || !(period > kPwmTimeMin)) return false;
  if (!(high < kPwmTimeMax) || !(high >= kPwmTimeMin)) return false;
  return high < period;
}

std::uint32_t SendCounterOnly(const DeviceEntry& entry, std::uint32_t code, std::uint16_t counter) {
  protocol::CounterResetRequest request{counter};
  return SendRecord(entry, code, request);
}

}  // namespace

std::uint32_t CounterConfig(std::uint32_t h, std::uint16_t counter, std::uint16_t initialCount,
                            const std::uint16_t modes[8]) {
  EntryRef entry = LookupDevice(h);
  if (!entry) return kResultBadHandle;
  const std::uint32_t base = ErrorBase(entry->deviceNumber);
  if (counter > kLastCounter) return base + kLowRange;
  if (initialCount == 0) return base + kLowArgument;
  protocol::CounterConfigRequest request{};
  request.counter = counter;
  request.initialCount = initialCount;
  for (unsigned i = 0; i < 8; ++i) request.modeFields[i] = modes[i];
  return SendRecord(*entry, protocol::IOCTL_COUNTER_CONFIG, request);
}

}  // namespace qio::library

using namespace qio::library;
namespace protocol = qio::protocol;

extern "C" ZQS5162_API uint32_t CounterEventStart(uint32_t h, uint16_t Counter, uint16_t Reserved) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t {
    EntryRef entry = LookupDevice(h);
    if (!entry) return kResultBadHandle;
    if (Counter > kLastCounter) return ErrorBase(entry->deviceNumber) + kLowRange;
    protocol::CounterEventStartRequest request{Counter, Reserved};
    return SendRecord(*entry, protocol::IOCTL_COUNTER_EVENT_START, request);
  });
}

extern "C" ZQS5162_API uint32_t CounterEventRead(uint32_t h, uint16_t Counter, uint16_t* Tally, uint32_t* Count) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t {
    EntryRef entry = LookupDevice(h);
    if (!entry) return kResultBadHandle;
    const std::uint32_t base = ErrorBase(entry->deviceNumber);
    if (Counter > kLastCounter) return base + kLowRange;
    if (Tally == nullptr || Count == nullptr) return base + kLowArgument;
    protocol::CounterEventReadRecord record{Counter, 0, 0};
    const std::uint32_t result = ExchangeRecord(*entry, protocol::IOCTL_COUNTER_EVENT_READ, record);
    if (result != kSuccess) return result;
    *Tally = record.tally;
    *Count = record.count;
    return kSuccess;
  });
}

extern "C" ZQS5162_API uint32_t CounterFreqStart(uint32_t h, uint16_t Counter, uint16_t Gate, uint16_t Reserved) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t {
    EntryRef entry = LookupDevice(h);
    if (!entry) return kResultBadHandle;
    // Only counter 0 measures frequency.
    if (Counter > kLastCounter || Counter % 2 != 0) return ErrorBase(entry->deviceNumber) + kLowRange;
    protocol::CounterFreqStartRequest request{Counter, Gate, Reserved};
    return SendRecord(*entry, protocol::IOCTL_COUNTER_FREQ_START, request);
  });
}

extern "C" ZQS5162_API uint32_t CounterFreqRead(uint32_t h, uint16_t Counter, float* Frequency) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t {
    EntryRef entry = LookupDevice(h);
    if (!entry) return kResultBadHandle;
    const std::uint32_t base = ErrorBase(entry->deviceNumber);
    if (Counter > kLastCounter || Counter % 2 != 0) return base + kLowRange;
    if (Frequency == nullptr) return base + kLowArgument;
    protocol::CounterFreqReadRecord record{Counter, 0, 0.0f};
    const std::uint32_t result = ExchangeRecord(*entry, protocol::IOCTL_COUNTER_FREQ_READ, record);
    if (result == kSuccess) *Frequency = record.frequency;
    return result;
  });
}

extern "C" ZQS5162_API uint32_t CounterPulseStart(uint32_t h, uint16_t Counter, float Period, uint32_t Reserved1,
                                                  uint16_t Reserved2) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t {
    EntryRef entry = LookupDevice(h);
    if (!entry) return kResultBadHandle;
    const std::uint32_t base = ErrorBase(entry->deviceNumber);
    if (Counter > kLastCounter) return base + kLowRange;
    const double period = Period;
    if (!(period >= kPulsePeriodMin && period <= kPulsePeriodMax)) return base + kLowParameter;
    protocol::CounterPulseStartRequest request{};
    request.counter = Counter;
    request.periodSeconds = Period;
    request.passThrough32 = Reserved1;
    request.passThrough16 = Reserved2;
    return SendRecord(*entry, protocol::IOCTL_COUNTER_PULSE_START, request);
  });
}

extern "C" ZQS5162_API uint32_t CounterReset(uint32_t h, uint16_t Counter) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t {
    EntryRef entry = LookupDevice(h);
    if (!entry) return kResultBadHandle;
    if (Counter > kLastCounter) return ErrorBase(entry->deviceNumber) + kLowRange;
    return SendCounterOnly(*entry, protocol::IOCTL_COUNTER_RESET, Counter);
  });
}

extern "C" ZQS5162_API uint32_t FreqOutStart(uint32_t h, uint16_t Counter, uint16_t Divisor, uint16_t Source) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t {
    EntryRef entry = LookupDevice(h);
    if (!entry) return kResultBadHandle;
    const std::uint32_t base = ErrorBase(entry->deviceNumber);
    if (Counter > kLastCounter) return base + kLowRange;
    if (Divisor < kDivisorMin || Divisor > kDivisorMax) return base + kLowParameter;
    if (!SourceValid(Source)) return base + kLowParameter;
    protocol::FreqOutStartRequest request{Counter, Divisor, Source};
    return SendRecord(*entry, protocol::IOCTL_FREQOUT_START, request);
  });
}

// The generator is stopped by the counter's reset.
extern "C" ZQS5162_API uint32_t FreqOutReset(uint32_t h, uint16_t Counter) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t { return CounterReset(h, Counter); });
}

extern "C" ZQS5162_API uint32_t CounterPWMSetting(uint32_t h, uint16_t Counter, float Period, float HighTime,
                                                  uint32_t PulseCount, uint16_t Reserved) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t {
    EntryRef entry = LookupDevice(h);
    if (!entry) return kResultBadHandle;
    const std::uint32_t base = ErrorBase(entry->deviceNumber);
    if (Counter > kLastCounter) return base + kLowRange;
    // A pulse count needs the odd counter of the cascaded pair.
    if (PulseCount != 0 && Counter % 2 == 0) return base + kLowRange;
    const float periodMs = Period * kSecondsToMs;
    const float highMs = HighTime * kSecondsToMs;
    if (!PwmTimesValid(periodMs, highMs)) return base + kLowParameter;
    protocol::PwmSettingRequest request{};
    request.counter = Counter;
    request.periodMs = periodMs;
    request.highMs = highMs;
    request.pulseCount = PulseCount;
    request.passThrough = Reserved;
    const std::uint32_t result = SendRecord(*entry, protocol::IOCTL_PWM_SETTING, request);
    if (result == kSuccess) entry->pwmConfigured[Counter].store(1);
    return result;
  });
}

extern "C" ZQS5162_API uint32_t CounterPWMEnable(uint32_t h, uint16_t Counter) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t {
    EntryRef entry = LookupDevice(h);
    if (!entry) return kResultBadHandle;
    const std::uint32_t base = ErrorBase(entry->deviceNumber);
    if (Counter > kLastCounter) return base + kLowRange;
    if (entry->pwmConfigured[Counter].load() == 0) return base + kLowArgument;
    return SendCounterOnly(*entry, protocol::IOCTL_PWM_ENABLE, Counter);
  });
}

extern "C" ZQS5162_API uint32_t PWMStartRead(uint32_t h, uint16_t Counter, float* First, float* Second) {
  return qio::library::GuardedForHandle(h, [&]() -> uint32_t {
    EntryRef entry = LookupDevice(h);
    if (!entry) return kResultBadHandle;
    const std::uint32_t base = ErrorBase(entry->deviceNumber);
    // The measurement takes both counters and is addressed as counter 0.
    if (Counter != 0) return base + kLowRange;
    if (First == nullptr || Second == nullptr) return base + kLowArgument;
    protocol::PwmStartReadRecord record{};
    const std::uint32_t result = ExchangeRecord(*entry, protocol::IOCTL_PWM_START_READ, record);
    if (result != kSuccess) return result;
    *First = record.firstUs;
    *Second = record.secondUs;
    return kSuccess;
  });
}
