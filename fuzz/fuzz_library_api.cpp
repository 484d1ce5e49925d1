// Fuzz target: the library's C API, on one hosted target booted for the whole
// run, device 0 open.
//
// Each input is a sequence of calls in random order with random arguments:
// null, short and exact output buffers (allocated to their size, so that the
// address sanitizer sees a write beyond), ports, bits, counters, event types
// and property identifiers in and out of range, the open handle, a handle
// whose device was closed, a null and a made-up handle; extra opens and
// closes, a last close in the middle (after which the old handle is stale),
// the generic entry DriverProc with its records, and pin changes on the board.
// Oracle, for every call:
//   - a null, stale or made-up handle gives 3 and nothing else; the open
//     handle never gives 3;
//   - every other result is 0 or a documented code of that function: 10 for a
//     raw address outside the window, 27 for an unknown DriverProc function,
//     2 for a device number with no configuration, otherwise ErrorBase of the
//     device plus a low code the function may give;
//   - an output reference is left as it was when the call fails;
//   - a masked write that succeeded is what the driver's output record shows
//     next: (old AND NOT mask) OR (state AND mask).
//
// Calls that sleep on the real clock (a counter start's 50 ms settling in
// CounterEventStart and CounterPulseStart, a frequency measurement's passes
// in CounterFreqStart, a PWM measurement in PWMStartRead) are made only with
// a counter the library refuses before any request, which the oracle then
// requires. They will be fuzzed whole once the target runs on a virtual
// clock. DeviceConfig and DeviceConfigExt (modal dialogs) are left out.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "fuzz_support.h"
#include "qio5162/Zqs5162.h"
#include "qio5162/target.h"

namespace {

using qio::fuzz::FuzzInput;

constexpr std::uint32_t kBase = ZQS_ERROR_BASE(0);
// The driver's own codes, as the library passes them on.
constexpr std::uint32_t kLowBusy = ZQS_LOW_BUSY;
constexpr std::uint32_t kLowWindow = ZQS_LOW_OUTSIDE_WINDOW;
constexpr std::uint32_t kLowChannel = ZQS_LOW_DI_CHANNEL;

struct Session {
  QioTarget* target = nullptr;
  QioSimBoard* board = nullptr;
  std::uint32_t handle = 0;  // device 0; stale after a last close until reopened
  bool open = false;
  std::uint32_t stale = 0;  // the handle of a device closed for good
  int extraOpens = 0;       // opens of device 0 beyond the first, this input
};

Session& TheSession() {
  static Session* session = [] {
    auto* s = new Session;
    if (qio_target_boot(nullptr, &s->target) != QIO_TARGET_OK) {
      qio::fuzz::OracleFailure("boot failed: %s", qio_target_last_message());
    }
    s->board = qio_target_board(s->target, 0x300);
    if (DeviceOpen(0, &s->stale) != ZQS_SUCCESS) qio::fuzz::OracleFailure("the first open failed");
    std::uint32_t copy = s->stale;
    DeviceClose(&copy);
    return s;
  }();
  return *session;
}

// A handle argument and whether it names the open device.
struct HandleArg {
  std::uint32_t value;
  bool valid;
};

HandleArg PickHandle(FuzzInput& input, const Session& s) {
  const std::uint8_t which = input.Byte();
  if (which < 216) return {s.handle, s.open};
  if (which < 232) return {s.stale, false};
  if (which < 240) return {0, false};
  const std::uint32_t madeUp = input.U32();
  return {madeUp, s.open && madeUp == s.handle};
}

// The verdict on one result: 3 exactly for a bad handle; otherwise 0, one of
// the plain codes allowed, or ErrorBase + one of the low codes allowed.
void Check(const char* function, std::uint32_t result, const HandleArg& h,
           std::initializer_list<std::uint32_t> lows, std::initializer_list<std::uint32_t> plain = {}) {
  if (!h.valid) {
    QIO_FUZZ_CHECK(result == ZQS_ERROR_HANDLE, "%s on a bad handle 0x%X gave 0x%X, not 3", function, h.value,
                   result);
    return;
  }
  if (result == ZQS_SUCCESS) return;
  for (std::uint32_t code : plain) {
    if (result == code) return;
  }
  for (std::uint32_t low : lows) {
    if (result == kBase + low) return;
  }
  qio::fuzz::OracleFailure("%s gave 0x%X, not a code it may give", function, result);
}

// An output of `size` bytes, allocated exactly, or none.
template <typename T>
struct Out {
  Out(FuzzInput& input, T fill) : value(input.Byte() < 230 ? new T(fill) : nullptr), initial(fill) {}
  T* get() const { return value.get(); }
  bool Untouched() const {
    return !value || std::memcmp(value.get(), &initial, sizeof(T)) == 0;
  }
  std::unique_ptr<T> value;
  T initial;
};

std::uint16_t PortArg(FuzzInput& input) { return input.Byte() < 200 ? input.Below16(4) : input.U16(); }
std::uint16_t BitArg(FuzzInput& input) { return input.Byte() < 220 ? input.Below16(9) : input.U16(); }
std::uint16_t CounterArg(FuzzInput& input) { return input.Byte() < 220 ? input.Below16(3) : input.U16(); }

std::uint16_t EventTypeArg(FuzzInput& input) {
  static const std::uint16_t kTypes[] = {ZQS_EVENT_DI_FIRST, 0x3401, 0x3405, 0x3408, 0x3410, ZQS_EVENT_DI_LAST,
                                         0x3418, ZQS_EVENT_TERMINAL_COUNT0, ZQS_EVENT_TERMINAL_COUNT1, 0x5002,
                                         ZQS_EVENT_DEVICE_CLOSED, 0};
  return input.Byte() < 230 ? input.Pick(kTypes) : input.U16();
}

std::uint16_t PropertyArg(FuzzInput& input) {
  static const std::uint16_t kIds[] = {ZQS_PROPERTY_DEVICE_NUMBER, ZQS_PROPERTY_BOARD_ID, ZQS_PROPERTY_BASE_ADDRESS,
                                       ZQS_PROPERTY_IRQ, ZQS_PROPERTY_DIO_OUTPUT_MASKS, ZQS_PROPERTY_DIO_PORT_GROUPS,
                                       ZQS_PROPERTY_DIO_OUTPUT_MASKS2, ZQS_PROPERTY_DI_CHANNELS,
                                       ZQS_PROPERTY_DI_PORTS, ZQS_PROPERTY_DO_CHANNELS, ZQS_PROPERTY_DO_PORTS,
                                       ZQS_PROPERTY_COUNTER_EVENT_TYPES, ZQS_PROPERTY_PWM_LIMITS, 0x3C82, 0x5010,
                                       0x0002, 0x3007};
  return input.Byte() < 230 ? input.Pick(kIds) : input.U16();
}

float TimeArg(FuzzInput& input) {
  static const float kTimes[] = {0.0f, 0.0004f, 0.0005f, 0.0006f, 0.001f, 0.01f, 0.5f, 1.0f, 59.9f, 60.0f, 61.0f,
                                 -1.0f, NAN, INFINITY};
  return input.Byte() < 200 ? input.Pick(kTimes) : input.Float();
}

// ---- the calls ------------------------------------------------------------

void DioReads(FuzzInput& input, Session& s) {
  const HandleArg h = PickHandle(input, s);
  const std::uint16_t port = PortArg(input);
  switch (input.Below(8)) {
    case 0: {
      Out<std::uint8_t> value(input, 0xEE);
      const std::uint32_t r = DioReadPortByte(h.value, port, value.get());
      Check("DioReadPortByte", r, h, {ZQS_LOW_RANGE, ZQS_LOW_ARGUMENT});
      if (r != 0) QIO_FUZZ_CHECK(value.Untouched(), "DioReadPortByte failed and wrote its output");
      break;
    }
    case 1: {
      Out<std::uint16_t> value(input, 0xEEEE);
      Out<std::uint16_t> mask(input, 0xEEEE);
      const std::uint32_t r = DioReadPortWord(h.value, port, mask.get(), value.get());
      Check("DioReadPortWord", r, h, {ZQS_LOW_RANGE, ZQS_LOW_ARGUMENT});
      if (r != 0) QIO_FUZZ_CHECK(value.Untouched(), "DioReadPortWord failed and wrote its value");
      if (r == 0 && mask.get()) {
        QIO_FUZZ_CHECK(*mask.get() == (port == 2 ? 0x00FF : 0xFFFF), "DioReadPortWord mask 0x%X for port %u",
                       *mask.get(), port);
      }
      break;
    }
    case 2: {
      Out<std::uint32_t> value(input, 0xEEEEEEEE);
      Out<std::uint32_t> mask(input, 0xEEEEEEEE);
      const std::uint32_t r = DioGetCurrentDODword(h.value, port, mask.get(), value.get());
      Check("DioGetCurrentDODword", r, h, {ZQS_LOW_RANGE, ZQS_LOW_ARGUMENT});
      if (r != 0) QIO_FUZZ_CHECK(value.Untouched(), "DioGetCurrentDODword failed and wrote its value");
      break;
    }
    case 3: {
      Out<std::uint16_t> value(input, 0xEEEE);
      const std::uint16_t bit = BitArg(input);
      const std::uint32_t r = input.Bool() ? DioReadBit(h.value, port, bit, value.get())
                                           : DioGetCurrentDOBit(h.value, port, bit, value.get());
      Check("DioReadBit", r, h, {ZQS_LOW_RANGE, ZQS_LOW_ARGUMENT});
      if (r != 0) QIO_FUZZ_CHECK(value.Untouched(), "a bit read failed and wrote its output");
      if (r == 0) QIO_FUZZ_CHECK(*value.get() <= 1, "a bit read gave %u", *value.get());
      break;
    }
    case 4:
    case 5: {
      const std::uint32_t first = input.Byte() < 220 ? input.Below(4) : input.U32();
      const std::uint32_t count = input.Byte() < 220 ? input.Below(5) : input.U32();
      // Room for the ports that exist; a count beyond them must be refused.
      const std::size_t room = count < 3 ? count : 3;
      std::unique_ptr<std::uint8_t[]> buffer(input.Byte() < 230 ? new std::uint8_t[room] : nullptr);
      const std::uint32_t r = input.Bool() ? DioReadDiPorts(h.value, first, count, buffer.get())
                                           : DioGetCurrentDoPortsState(h.value, first, count, buffer.get());
      Check("DioRead*Ports", r, h, {ZQS_LOW_RANGE, ZQS_LOW_ARGUMENT});
      break;
    }
    case 6: {
      const std::uint16_t count = input.Below16(5);
      std::unique_ptr<std::uint16_t[]> codes(input.Byte() < 230 ? new std::uint16_t[count < 3 ? count : 3]
                                                                : nullptr);
      const std::uint32_t r = DioGetConfig(h.value, codes.get(), count);
      Check("DioGetConfig", r, h, {ZQS_LOW_ARGUMENT});
      break;
    }
    default: {
      Out<std::uint8_t> value(input, 0xEE);
      const std::uint32_t r = DioGetCurrentDOByte(h.value, port, value.get());
      Check("DioGetCurrentDOByte", r, h, {ZQS_LOW_RANGE, ZQS_LOW_ARGUMENT});
      if (r != 0) QIO_FUZZ_CHECK(value.Untouched(), "DioGetCurrentDOByte failed and wrote its output");
      break;
    }
  }
}

void DioWrites(FuzzInput& input, Session& s) {
  const HandleArg h = PickHandle(input, s);
  const std::uint16_t port = PortArg(input);
  switch (input.Below(5)) {
    case 0: {
      // A masked write and the output record after it.
      const std::uint16_t mask = input.U16();
      const std::uint16_t state = input.U16();
      std::uint8_t before = 0;
      const bool known = h.valid && DioGetCurrentDOByte(h.value, port, &before) == 0;
      const std::uint32_t r = DioWritePortByte(h.value, port, mask, state);
      Check("DioWritePortByte", r, h, {ZQS_LOW_RANGE, ZQS_LOW_ARGUMENT});
      if (r == 0 && known) {
        std::uint8_t after = 0;
        QIO_FUZZ_CHECK(DioGetCurrentDOByte(h.value, port, &after) == 0, "read-back after a write failed");
        const auto expected = static_cast<std::uint8_t>((before & ~mask) | (state & mask));
        QIO_FUZZ_CHECK(after == expected, "port %u: 0x%02X, mask 0x%X, state 0x%X gave 0x%02X, not 0x%02X", port,
                       before, mask, state, after, expected);
      }
      break;
    }
    case 1: {
      const std::uint16_t bit = BitArg(input);
      const std::uint16_t state = input.Below16(3);
      const std::uint32_t r = DioWriteBit(h.value, port, bit, state);
      Check("DioWriteBit", r, h, {ZQS_LOW_RANGE, ZQS_LOW_ARGUMENT});
      if (r == 0) {
        std::uint16_t now = 9;
        QIO_FUZZ_CHECK(DioGetCurrentDOBit(h.value, port, bit, &now) == 0 && now == (state != 0 ? 1 : 0),
                       "bit %u of port %u written %u reads back %u", bit, port, state, now);
      }
      break;
    }
    case 2: {
      const std::uint32_t r = input.Bool() ? DioWritePortWord(h.value, port, input.U16(), input.U16())
                                           : DioWritePortDword(h.value, port, input.U32(), input.U32());
      Check("DioWritePort*", r, h, {ZQS_LOW_RANGE, ZQS_LOW_ARGUMENT});
      break;
    }
    case 3: {
      const std::uint32_t first = input.Byte() < 220 ? input.Below(4) : input.U32();
      const std::uint32_t count = input.Byte() < 220 ? input.Below(5) : input.U32();
      const std::size_t room = count < 3 ? count : 3;
      std::unique_ptr<std::uint8_t[]> data(input.Byte() < 230 ? new std::uint8_t[room] : nullptr);
      if (data) input.Fill(data.get(), room);
      const std::uint32_t r = DioWriteDoPorts(h.value, first, count, data.get());
      Check("DioWriteDoPorts", r, h, {ZQS_LOW_RANGE, ZQS_LOW_ARGUMENT});
      break;
    }
    default: {
      const std::uint16_t direction = input.Byte() < 220 ? input.Below16(6) : input.U16();
      const std::uint32_t r = DioSetPortMode(h.value, port, direction);
      Check("DioSetPortMode", r, h, {ZQS_LOW_RANGE, ZQS_LOW_ARGUMENT});
      break;
    }
  }
}

void RawPorts(FuzzInput& input, Session& s) {
  const HandleArg h = PickHandle(input, s);
  const std::uint16_t port = input.Byte() < 220 ? static_cast<std::uint16_t>(0x2F0 + input.Below16(0x60)) : input.U16();
  const unsigned width = 1u << input.Below(3);
  if (input.Bool()) {
    std::uint32_t r = 0;
    bool untouched = true;
    if (width == 4) {
      Out<std::uint32_t> value(input, 0xEEEEEEEE);
      r = ReadPortDword(h.value, port, value.get());
      untouched = value.Untouched();
    } else {
      Out<std::uint16_t> value(input, 0xEEEE);
      r = width == 1 ? ReadPortByte(h.value, port, value.get()) : ReadPortWord(h.value, port, value.get());
      untouched = value.Untouched();
      if (r == 0 && width == 1) QIO_FUZZ_CHECK(*value.get() <= 0xFF, "ReadPortByte gave 0x%X", *value.get());
    }
    Check("ReadPort*", r, h, {ZQS_LOW_ARGUMENT, kLowWindow}, {ZQS_ERROR_PORT_WINDOW});
    if (r != 0) QIO_FUZZ_CHECK(untouched, "a raw read failed and wrote its output");
    if (h.valid && (port < 0x300 || port > 0x340)) {
      QIO_FUZZ_CHECK(r == ZQS_ERROR_PORT_WINDOW, "raw read at 0x%X outside the window gave 0x%X", port, r);
    }
    return;
  }
  // Writes stay off the interrupt and counter registers' worst corners only
  // by chance: anything the board accepts is fair.
  const std::uint32_t value = input.U32();
  std::uint32_t r = 0;
  switch (width) {
    case 1: r = WritePortByte(h.value, port, static_cast<std::uint8_t>(value)); break;
    case 2: r = WritePortWord(h.value, port, static_cast<std::uint16_t>(value)); break;
    default: r = WritePortDword(h.value, port, value); break;
  }
  Check("WritePort*", r, h, {kLowWindow}, {ZQS_ERROR_PORT_WINDOW});
  if (h.valid && (port < 0x300 || port > 0x340)) {
    QIO_FUZZ_CHECK(r == ZQS_ERROR_PORT_WINDOW, "raw write at 0x%X outside the window gave 0x%X", port, r);
  }
}

void Counters(FuzzInput& input, Session& s) {
  const HandleArg h = PickHandle(input, s);
  const std::uint16_t counter = CounterArg(input);
  switch (input.Below(9)) {
    case 0: {
      Out<std::uint16_t> tally(input, 0xEEEE);
      Out<std::uint32_t> count(input, 0xEEEEEEEE);
      const std::uint32_t r = CounterEventRead(h.value, counter, tally.get(), count.get());
      Check("CounterEventRead", r, h, {ZQS_LOW_RANGE, ZQS_LOW_ARGUMENT, kLowBusy, ZQS_LOW_PARAMETER});
      if (r != 0) QIO_FUZZ_CHECK(tally.Untouched() && count.Untouched(), "CounterEventRead failed and wrote");
      break;
    }
    case 1: {
      Out<float> frequency(input, -7.0f);
      const std::uint32_t r = CounterFreqRead(h.value, counter, frequency.get());
      Check("CounterFreqRead", r, h, {ZQS_LOW_RANGE, ZQS_LOW_ARGUMENT, kLowBusy, ZQS_LOW_PARAMETER});
      if (r != 0) QIO_FUZZ_CHECK(frequency.Untouched(), "CounterFreqRead failed and wrote its output");
      break;
    }
    case 2: {
      const std::uint32_t r = input.Bool() ? CounterReset(h.value, counter) : FreqOutReset(h.value, counter);
      Check("CounterReset", r, h, {ZQS_LOW_RANGE, kLowBusy});
      break;
    }
    case 3: {
      const std::uint16_t divisor = input.Byte() < 220 ? input.Below16(18) : input.U16();
      const std::uint16_t source = input.Byte() < 220 ? ZQS_FREQOUT_SOURCE(input.Below16(9)) : input.U16();
      const std::uint32_t r = FreqOutStart(h.value, counter, divisor, source);
      Check("FreqOutStart", r, h, {ZQS_LOW_RANGE, ZQS_LOW_PARAMETER, kLowBusy});
      break;
    }
    case 4: {
      const float period = TimeArg(input);
      const float high = TimeArg(input);
      const std::uint32_t pulses = input.Byte() < 200 ? input.Below(4) : input.U32();
      const std::uint32_t r = CounterPWMSetting(h.value, counter, period, high, pulses, 0);
      Check("CounterPWMSetting", r, h, {ZQS_LOW_RANGE, ZQS_LOW_PARAMETER, kLowBusy, ZQS_LOW_ARGUMENT});
      break;
    }
    case 5: {
      const std::uint32_t r = CounterPWMEnable(h.value, counter);
      Check("CounterPWMEnable", r, h, {ZQS_LOW_RANGE, ZQS_LOW_ARGUMENT, kLowBusy, ZQS_LOW_PARAMETER});
      break;
    }
    default: {
      // The calls that sleep, with a counter refused before any request.
      const auto refused = static_cast<std::uint16_t>(2 + input.Below(0xFFF0));
      float first = -7.0f;
      float second = -7.0f;
      std::uint32_t r = 0;
      switch (input.Below(4)) {
        case 0: r = CounterEventStart(h.value, refused, 0); break;
        case 1: r = CounterPulseStart(h.value, refused, TimeArg(input), 0, 0); break;
        case 2: r = CounterFreqStart(h.value, refused, input.U16(), 0); break;
        default: r = PWMStartRead(h.value, refused, &first, &second); break;
      }
      if (h.valid) {
        QIO_FUZZ_CHECK(r == kBase + ZQS_LOW_RANGE, "a start on counter %u gave 0x%X", refused, r);
      } else {
        Check("a counter start", r, h, {});
      }
      QIO_FUZZ_CHECK(first == -7.0f && second == -7.0f, "PWMStartRead failed and wrote its outputs");
      break;
    }
  }
}

void Events(FuzzInput& input, Session& s) {
  const HandleArg h = PickHandle(input, s);
  const std::uint16_t type = EventTypeArg(input);
  switch (input.Below(6)) {
    case 0: {
      const std::uint16_t enable = input.Below16(3);
      const std::uint16_t count = input.Byte() < 200 ? input.Below16(4) : input.U16();
      const std::uint32_t r = EnableEvent(h.value, type, enable, count);
      Check("EnableEvent", r, h, {ZQS_LOW_EVENT_TYPE, ZQS_LOW_ARGUMENT});
      break;
    }
    case 1:
    case 2: {
      Out<std::uint16_t> got(input, 0xEEEE);
      const std::uint32_t r = CheckEvent(h.value, got.get(), input.Below(2));
      Check("CheckEvent", r, h, {ZQS_LOW_ARGUMENT, ZQS_LOW_WAIT});
      if (r != 0) QIO_FUZZ_CHECK(got.Untouched(), "CheckEvent failed and wrote its output");
      if (r == 0) {
        const std::uint16_t t = *got.get();
        QIO_FUZZ_CHECK(t == ZQS_EVENT_TIMEOUT || t == ZQS_EVENT_NONE || (t >= 0x3400 && t <= 0x3417) ||
                           t == ZQS_EVENT_TERMINAL_COUNT0 || t == ZQS_EVENT_TERMINAL_COUNT1,
                       "CheckEvent reported type 0x%X", t);
      }
      break;
    }
    case 3: {
      const std::uint32_t first = input.Byte() < 220 ? input.Below(4) : input.U32();
      const std::uint32_t count = input.Byte() < 220 ? input.Below(5) : input.U32();
      const std::uint32_t r = DioEnableEventAndSpecifyDiPorts(h.value, type, first, count);
      Check("DioEnableEventAndSpecifyDiPorts", r, h, {ZQS_LOW_EVENT_TYPE, ZQS_LOW_ARGUMENT, kLowChannel});
      break;
    }
    case 4: {
      const std::uint32_t r = DioDisableEvent(h.value, input.Byte() < 230 ? type : input.U32());
      Check("DioDisableEvent", r, h, {ZQS_LOW_EVENT_TYPE, ZQS_LOW_ARGUMENT});
      break;
    }
    default: {
      const std::uint32_t length = input.Below(6);
      std::unique_ptr<std::uint8_t[]> buffer(input.Byte() < 230 ? new std::uint8_t[length] : nullptr);
      const std::uint32_t r = DioGetLatestEventDiPortsState(h.value, type, buffer.get(), length);
      Check("DioGetLatestEventDiPortsState", r, h, {ZQS_LOW_EVENT_TYPE, ZQS_LOW_ARGUMENT, kLowChannel});
      break;
    }
  }
}

void Device(FuzzInput& input, Session& s) {
  const HandleArg h = PickHandle(input, s);
  switch (input.Below(3)) {
    case 0: {
      const std::uint16_t size = input.Byte() < 200 ? (input.Bool() ? ZQS_FEATURES_SIZE : input.Below16(801))
                                                    : input.U16();
      const std::size_t room = size < ZQS_FEATURES_SIZE ? size : ZQS_FEATURES_SIZE;
      std::unique_ptr<std::uint8_t[]> buffer(input.Byte() < 230 ? new std::uint8_t[room] : nullptr);
      const std::uint32_t r = DeviceGetFeatures(h.value, buffer.get(), size);
      Check("DeviceGetFeatures", r, h, {ZQS_LOW_ARGUMENT, ZQS_LOW_BOARD_ID});
      if (h.valid) {
        QIO_FUZZ_CHECK((r == 0) == (buffer && size >= ZQS_FEATURES_SIZE), "DeviceGetFeatures size %u gave 0x%X",
                       size, r);
      }
      break;
    }
    case 1: {
      const std::uint16_t id = PropertyArg(input);
      const std::uint32_t length = input.Below(40);
      std::unique_ptr<std::uint8_t[]> buffer(input.Byte() < 200 ? new std::uint8_t[length] : nullptr);
      Out<std::uint32_t> size(input, length);
      const std::uint32_t r = DeviceGetProperty(h.value, id, buffer.get(), size.get());
      Check("DeviceGetProperty", r, h, {ZQS_LOW_ARGUMENT, ZQS_LOW_PROPERTY});
      if (r == 0 && buffer) QIO_FUZZ_CHECK(*size.get() <= length, "DeviceGetProperty gave %u bytes into %u",
                                           *size.get(), length);
      break;
    }
    default: {
      const std::uint16_t id = PropertyArg(input);
      const std::uint32_t length = input.Below(20);
      std::unique_ptr<std::uint8_t[]> data(input.Byte() < 230 ? new std::uint8_t[length] : nullptr);
      if (data) input.Fill(data.get(), length);
      const std::uint32_t r = DeviceSetProperty(h.value, id, data.get(), length);
      Check("DeviceSetProperty", r, h, {ZQS_LOW_ARGUMENT, ZQS_LOW_PROPERTY, ZQS_LOW_RANGE});
      break;
    }
  }
}

// Opens and closes beside the one that holds the device: extra opens share
// the handle; a close of the last one makes it stale.
void OpensAndCloses(FuzzInput& input, Session& s, bool& lastCloseDone) {
  switch (input.Below(5)) {
    case 0: {
      static const std::uint32_t kNumbers[] = {0, 0, 1, 7, 254, 255, 0x10000};
      const std::uint32_t n = input.Byte() < 230 ? input.Pick(kNumbers) : input.U32();
      Out<std::uint32_t> handle(input, 0xEEEEEEEE);
      const std::uint32_t r = DeviceOpen(n, handle.get());
      if (handle.get() == nullptr) {
        QIO_FUZZ_CHECK(r == ZQS_ERROR_BASE(n) + ZQS_LOW_ARGUMENT, "DeviceOpen(%u, NULL) gave 0x%X", n, r);
      } else if (n == 0) {
        QIO_FUZZ_CHECK(r == 0 && *handle.get() != 0, "DeviceOpen(0) gave 0x%X", r);
        QIO_FUZZ_CHECK(!s.open || *handle.get() == s.handle, "a second open gave another handle");
        if (!s.open) {
          s.handle = *handle.get();
          s.open = true;
        } else {
          ++s.extraOpens;
        }
      } else {
        QIO_FUZZ_CHECK(r == ZQS_ERROR_CONFIGURATION && *handle.get() == 0, "DeviceOpen(%u) gave 0x%X, handle 0x%X",
                       n, r, *handle.get());
      }
      break;
    }
    case 1: {
      if (s.extraOpens > 0) {
        std::uint32_t copy = s.handle;
        QIO_FUZZ_CHECK(DeviceClose(&copy) == 0 && copy == 0, "closing an extra open failed");
        --s.extraOpens;
      }
      break;
    }
    case 2: {
      // The last close, at most once an input: it stops the driver's
      // interrupt service and takes a while.
      if (lastCloseDone || !s.open) break;
      lastCloseDone = true;
      while (s.extraOpens > 0) {
        std::uint32_t copy = s.handle;
        DeviceClose(&copy);
        --s.extraOpens;
      }
      std::uint32_t copy = s.handle;
      QIO_FUZZ_CHECK(DeviceClose(&copy) == 0 && copy == 0, "the last close failed");
      s.open = false;
      s.stale = s.handle;
      break;
    }
    case 3: {
      std::uint32_t bad = input.Bool() ? s.stale : input.U32();
      const bool valid = s.open && bad == s.handle;
      if (valid) break;  // not a bad handle after all
      QIO_FUZZ_CHECK(DeviceClose(&bad) == ZQS_ERROR_HANDLE, "DeviceClose of a bad handle did not give 3");
      QIO_FUZZ_CHECK(DeviceClose(nullptr) == ZQS_ERROR_HANDLE, "DeviceClose(NULL) did not give 3");
      break;
    }
    default: {
      if (!s.open && !lastCloseDone) break;
      if (!s.open) {
        QIO_FUZZ_CHECK(DeviceOpen(0, &s.handle) == 0, "reopening failed");
        QIO_FUZZ_CHECK(s.handle != s.stale, "a reopened device got its stale handle back");
        s.open = true;
      }
      break;
    }
  }
}

// DriverProc: function numbers of its table and others, with records whose
// references are real buffers or null.
void GenericEntry(FuzzInput& input, Session& s) {
  const HandleArg h = PickHandle(input, s);
  static const std::uint32_t kFunctions[] = {
      ZQS_FN_DEVICE_GET_FEATURES,      ZQS_FN_DIO_SET_PORT_MODE,      ZQS_FN_DIO_GET_CONFIG,
      ZQS_FN_DIO_READ_PORT_BYTE,       ZQS_FN_DIO_WRITE_PORT_BYTE,    ZQS_FN_DIO_READ_BIT,
      ZQS_FN_DIO_WRITE_BIT,            ZQS_FN_DIO_GET_CURRENT_DO_BYTE, ZQS_FN_DIO_GET_CURRENT_DO_BIT,
      ZQS_FN_WRITE_PORT_WORD,          ZQS_FN_READ_PORT_WORD,         ZQS_FN_COUNTER_EVENT_READ,
      ZQS_FN_COUNTER_FREQ_READ,        ZQS_FN_COUNTER_RESET,          ZQS_FN_ENABLE_EVENT,
      ZQS_FN_CHECK_EVENT,              ZQS_FN_COUNTER_PWM_SETTING,    ZQS_FN_COUNTER_PWM_ENABLE,
      ZQS_FN_FREQOUT_START,            ZQS_FN_FREQOUT_RESET,          ZQS_FN_COUNTER_CONFIG,
      ZQS_FN_DEVICE_SET_PROPERTY,      ZQS_FN_DEVICE_GET_PROPERTY,    ZQS_FN_WRITE_PORT_WORD_ALT,
      ZQS_FN_READ_PORT_DWORD,          ZQS_FN_DIO_READ_PORT_WORD,     ZQS_FN_DIO_WRITE_PORT_WORD,
      ZQS_FN_DIO_READ_PORT_DWORD,      ZQS_FN_DIO_WRITE_PORT_DWORD,   ZQS_FN_DIO_GET_CURRENT_DO_WORD,
      ZQS_FN_DIO_GET_CURRENT_DO_DWORD, ZQS_FN_DIO_ENABLE_EVENT_DI_PORTS, ZQS_FN_DIO_DISABLE_EVENT,
      ZQS_FN_DIO_GET_LATEST_EVENT_DI_PORTS, ZQS_FN_DIO_READ_DI_PORTS, ZQS_FN_DIO_WRITE_DO_PORTS,
      ZQS_FN_DIO_GET_CURRENT_DO_PORTS, 3, 26, 200, 0xFFFF};
  std::uint32_t function = input.Byte() < 240 ? input.Pick(kFunctions) : input.U32();
  // Left out: open and close (their references are the handle arguments
  // themselves, made above), and the calls that sleep or take references
  // this fuzzer does not build (the counter starts, PWM measurement).
  switch (function & 0xFFFF) {
    case ZQS_FN_DEVICE_OPEN:
    case ZQS_FN_DEVICE_CLOSE:
    case ZQS_FN_COUNTER_EVENT_START:
    case ZQS_FN_COUNTER_FREQ_START:
    case ZQS_FN_COUNTER_PULSE_START:
    case ZQS_FN_PWM_START_READ: function = 0xFFFF; break;
    default: break;
  }

  // One record area, big enough for every record, filled from the input; the
  // references in it are set below to buffers of this function or null.
  alignas(8) std::uint8_t record[64];
  input.Fill(record, sizeof record);
  alignas(8) std::uint8_t target[ZQS_FEATURES_SIZE] = {};
  const bool nullRecord = input.Byte() >= 235;
  const bool nullReferences = input.Byte() >= 220;
  void* reference = nullReferences ? nullptr : target;
  auto setReference = [&](std::size_t offset) { std::memcpy(record + offset, &reference, sizeof reference); };
  uintptr_t parameter = nullRecord ? 0 : reinterpret_cast<uintptr_t>(record);
  switch (function & 0xFFFF) {
    case ZQS_FN_DEVICE_GET_FEATURES: setReference(offsetof(ZqsGetFeaturesParams, Buffer)); break;
    case ZQS_FN_DIO_GET_CONFIG: setReference(offsetof(ZqsGetConfigParams, Codes)); break;
    case ZQS_FN_DIO_READ_PORT_BYTE:
    case ZQS_FN_DIO_GET_CURRENT_DO_BYTE: setReference(offsetof(ZqsPortByteRefParams, Value)); break;
    case ZQS_FN_DIO_READ_BIT:
    case ZQS_FN_DIO_GET_CURRENT_DO_BIT: setReference(offsetof(ZqsPortBitRefParams, Value)); break;
    case ZQS_FN_READ_PORT_WORD: setReference(offsetof(ZqsReadPortWordParams, Value)); break;
    case ZQS_FN_COUNTER_EVENT_READ:
      setReference(offsetof(ZqsCounterEventReadParams, Tally));
      setReference(offsetof(ZqsCounterEventReadParams, Count));
      break;
    case ZQS_FN_COUNTER_FREQ_READ: setReference(offsetof(ZqsCounterFreqReadParams, Frequency)); break;
    case ZQS_FN_CHECK_EVENT:
      setReference(offsetof(ZqsCheckEventParams, EventType));
      reinterpret_cast<ZqsCheckEventParams*>(record)->Milliseconds = input.Below(2);
      break;
    case ZQS_FN_DEVICE_SET_PROPERTY: {
      setReference(offsetof(ZqsSetPropertyParams, Data));
      auto* p = reinterpret_cast<ZqsSetPropertyParams*>(record);
      p->Length %= sizeof target + 1;
      break;
    }
    case ZQS_FN_DEVICE_GET_PROPERTY: {
      setReference(offsetof(ZqsGetPropertyParams, Buffer));
      static std::uint32_t length;
      length = input.Below(sizeof target + 1);
      std::uint32_t* lengthRef = input.Byte() < 230 ? &length : nullptr;
      std::memcpy(record + offsetof(ZqsGetPropertyParams, Length), &lengthRef, sizeof lengthRef);
      break;
    }
    case ZQS_FN_READ_PORT_DWORD: setReference(offsetof(ZqsReadPortDwordParams, Value)); break;
    case ZQS_FN_DIO_READ_PORT_WORD:
    case ZQS_FN_DIO_GET_CURRENT_DO_WORD:
      setReference(offsetof(ZqsPortWordRefParams, Value));
      setReference(offsetof(ZqsPortWordRefParams, ValidMask));
      break;
    case ZQS_FN_DIO_READ_PORT_DWORD:
    case ZQS_FN_DIO_GET_CURRENT_DO_DWORD:
      setReference(offsetof(ZqsPortDwordRefParams, Value));
      setReference(offsetof(ZqsPortDwordRefParams, ValidMask));
      break;
    case ZQS_FN_DIO_GET_LATEST_EVENT_DI_PORTS: {
      setReference(offsetof(ZqsLatestEventDiPortsParams, Buffer));
      reinterpret_cast<ZqsLatestEventDiPortsParams*>(record)->Length %= sizeof target + 1;
      break;
    }
    case ZQS_FN_DIO_READ_DI_PORTS:
    case ZQS_FN_DIO_GET_CURRENT_DO_PORTS:
      setReference(offsetof(ZqsPortsBufferParams, Buffer));
      break;
    case ZQS_FN_DIO_WRITE_DO_PORTS: setReference(offsetof(ZqsPortsDataParams, Data)); break;
    case ZQS_FN_COUNTER_RESET:
    case ZQS_FN_COUNTER_PWM_ENABLE:
    case ZQS_FN_FREQOUT_RESET:
    case ZQS_FN_DIO_DISABLE_EVENT: parameter = input.Byte() < 220 ? input.Below(3) : input.U32(); break;
    default: break;
  }
  // The records of DriverProc count ports and buffers that the target area
  // covers (at most 800 bytes); a count or size beyond it is not sent.
  if ((function & 0xFFFF) == ZQS_FN_DEVICE_GET_FEATURES &&
      reinterpret_cast<ZqsGetFeaturesParams*>(record)->Size > sizeof target) {
    reinterpret_cast<ZqsGetFeaturesParams*>(record)->Size = sizeof target;
  }
  const std::uint32_t r = DriverProc(0, 0, function, h.value, parameter);
  static constexpr std::uint32_t kKnown[] = {ZQS_LOW_RANGE, ZQS_LOW_ARGUMENT, ZQS_LOW_BOARD_ID, ZQS_LOW_PARAMETER,
                                             ZQS_LOW_EVENT_TYPE, ZQS_LOW_PROPERTY, ZQS_LOW_WAIT, kLowBusy,
                                             kLowWindow, kLowChannel};
  bool known = false;
  for (std::uint32_t low : kKnown) known = known || r == kBase + low;
  const bool inTable = std::find(std::begin(kFunctions), std::end(kFunctions) - 4, function & 0xFFFF) !=
                       std::end(kFunctions) - 4;
  if (!inTable) {
    QIO_FUZZ_CHECK(r == ZQS_ERROR_FUNCTION, "DriverProc function %u gave 0x%X, not 27", function, r);
    return;
  }
  if (!h.valid) {
    QIO_FUZZ_CHECK(r == ZQS_ERROR_HANDLE, "DriverProc %u on a bad handle gave 0x%X", function, r);
    return;
  }
  QIO_FUZZ_CHECK(r == 0 || r == ZQS_ERROR_PORT_WINDOW || known, "DriverProc %u gave 0x%X", function, r);
}

void Stimulus(FuzzInput& input, Session& s) {
  switch (input.Below(3)) {
    case 0: qio_sim_set_di(s.board, input.Below(3), input.Byte()); break;
    case 1: {
      static const double kRates[] = {0.0, 10.0, 1000.0, 50000.0};
      qio_sim_set_counter_input(s.board, input.Below(2), input.Pick(kRates), 50.0);
      break;
    }
    default: qio_sim_set_di_square(s.board, input.Below(24), input.Bool() ? 500.0 : 0.0); break;
  }
}

// Every input starts from the same device: open once, counters idle, events
// off, every port input, quiet pins.
void Restore(Session& s) {
  if (!s.open) {
    if (DeviceOpen(0, &s.handle) != ZQS_SUCCESS) qio::fuzz::OracleFailure("reopening device 0 failed");
    s.open = true;
  }
  for (std::uint16_t counter = 0; counter < 2; ++counter) {
    CounterReset(s.handle, counter);
    FreqOutReset(s.handle, counter);
  }
  for (std::uint16_t type = 0x3400; type <= 0x3417; ++type) EnableEvent(s.handle, type, 0, 0);
  EnableEvent(s.handle, ZQS_EVENT_TERMINAL_COUNT0, 0, 0);
  EnableEvent(s.handle, ZQS_EVENT_TERMINAL_COUNT1, 0, 0);
  for (std::uint16_t port = 0; port < 3; ++port) DioSetPortMode(s.handle, port, ZQS_DIR_INPUT);
  for (unsigned port = 0; port < 3; ++port) qio_sim_set_di(s.board, port, 0);
  for (unsigned channel = 0; channel < 24; ++channel) qio_sim_set_di_square(s.board, channel, 0);
  for (unsigned counter = 0; counter < 2; ++counter) qio_sim_set_counter_input(s.board, counter, 0, 50);
  std::uint16_t type = 0;
  while (CheckEvent(s.handle, &type, 0) == 0 && type != ZQS_EVENT_TIMEOUT) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Session& s = TheSession();
  Restore(s);
  FuzzInput input(data, size);
  bool lastCloseDone = false;
  for (int step = 0; step < 48 && !input.Empty(); ++step) {
    switch (input.Below(9)) {
      case 0: DioReads(input, s); break;
      case 1: DioWrites(input, s); break;
      case 2: RawPorts(input, s); break;
      case 3: Counters(input, s); break;
      case 4: Events(input, s); break;
      case 5: Device(input, s); break;
      case 6: OpensAndCloses(input, s, lastCloseDone); break;
      case 7: GenericEntry(input, s); break;
      default: Stimulus(input, s); break;
    }
  }
  while (s.extraOpens > 0) {
    std::uint32_t copy = s.handle;
    DeviceClose(&copy);
    --s.extraOpens;
  }
  return 0;
}
