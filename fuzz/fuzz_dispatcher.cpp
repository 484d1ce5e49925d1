// Fuzz target: the driver's device-control dispatcher, on one hosted target
// booted for the whole run, through qio_target_device_ioctl.
//
// Each input is a sequence of steps: requests of the control-code table with
// exact-size buffers, short ones, null pointers and random lengths; unknown
// and near-miss codes; pin changes on the board; a request on a closed or a
// null stream. Oracle, for every request:
//   - the result and the last error are ones the table allows for the code
//     (a busy counter among them), and a request whose buffers fail the
//     table's checks is refused with 0x2000000A before its handler runs;
//   - bytes returned follow the code's rule and never exceed the output;
//   - no byte beyond the output length is written (guard bytes), nothing is
//     written to an output the code does not use or to any output of a
//     refused request, the input is never written, and nothing is read past
//     the input's length (it is allocated exactly; the address sanitizer
//     sees any read beyond).
//
// Requests that sleep on the real clock in the driver (a counter start's
// 50 ms settling, a frequency measurement's passes, a PWM measurement) are
// only sent with buffers the dispatcher refuses: run whole, they would slow
// the fuzzer to a crawl. Once the target runs on a virtual clock they can be
// sent whole.
#include <cstdint>

#include "fuzz_support.h"
#include "qio/protocol/ioctl.h"
#include "qio5162/target.h"

namespace {

using namespace qio::protocol;
using qio::fuzz::ExactInput;
using qio::fuzz::FuzzInput;
using qio::fuzz::GuardedOutput;

enum class Returned { kZero, kFixed, kOutputLength, kDelivered };
enum class Family { kEvent, kPort, kDio, kDiEvent, kProperty, kCounter };

struct Row {
  std::uint32_t code;
  std::uint32_t inMinimum;
  bool outRequired;
  std::uint32_t outMinimum;
  Returned returned;
  Family family;
  bool sleeps;  // sent only with buffers the dispatcher refuses
};

// The control-code table, written out here on its own so that the oracle does
// not share the driver's copy.
constexpr Row kRows[] = {
    {IOCTL_EVENT_ENABLE, 16, false, 0, Returned::kZero, Family::kEvent, false},
    {IOCTL_PORT_READ_BYTE, 4, true, 1, Returned::kDelivered, Family::kPort, false},
    {IOCTL_PORT_READ_WORD, 4, true, 2, Returned::kDelivered, Family::kPort, false},
    {IOCTL_PORT_READ_DWORD, 4, true, 4, Returned::kDelivered, Family::kPort, false},
    {IOCTL_DIO_READ_DI_PORTS, 8, true, 0, Returned::kDelivered, Family::kDio, false},
    {IOCTL_DIO_WRITE_DO_PORTS, 12, false, 0, Returned::kZero, Family::kDio, false},
    {IOCTL_DIO_SET_EVENT_DI_PORTS, 12, false, 0, Returned::kZero, Family::kDiEvent, false},
    {IOCTL_DIO_GET_EVENT_DI_PORTS, 4, true, 1, Returned::kDelivered, Family::kDiEvent, false},
    {IOCTL_PORT_WRITE_BYTE, 5, false, 0, Returned::kOutputLength, Family::kPort, false},
    {IOCTL_PORT_WRITE_WORD, 6, false, 0, Returned::kOutputLength, Family::kPort, false},
    {IOCTL_PORT_WRITE_DWORD, 8, false, 0, Returned::kOutputLength, Family::kPort, false},
    {IOCTL_DIO_GET_CURRENT_DO_PORTS, 8, true, 0, Returned::kDelivered, Family::kDio, false},
    {IOCTL_COUNTER_EVENT_START, 4, false, 0, Returned::kZero, Family::kCounter, true},
    {IOCTL_COUNTER_EVENT_READ, 8, true, 8, Returned::kFixed, Family::kCounter, false},
    {IOCTL_COUNTER_FREQ_START, 6, false, 0, Returned::kZero, Family::kCounter, true},
    {IOCTL_COUNTER_FREQ_READ, 8, true, 8, Returned::kFixed, Family::kCounter, false},
    {IOCTL_COUNTER_PULSE_START, 16, false, 0, Returned::kZero, Family::kCounter, true},
    {IOCTL_COUNTER_RESET, 2, false, 0, Returned::kZero, Family::kCounter, false},
    {IOCTL_PROPERTY_GET, 4, true, 3, Returned::kFixed, Family::kProperty, false},
    {IOCTL_PROPERTY_SET, 8, false, 0, Returned::kZero, Family::kProperty, false},
    {IOCTL_FREQOUT_START, 6, false, 0, Returned::kZero, Family::kCounter, false},
    {IOCTL_PWM_SETTING, 20, false, 0, Returned::kZero, Family::kCounter, false},
    {IOCTL_PWM_ENABLE, 2, false, 0, Returned::kZero, Family::kCounter, false},
    {IOCTL_PWM_START_READ, 12, true, 12, Returned::kZero, Family::kCounter, true},
    {IOCTL_COUNTER_CONFIG, 20, false, 0, Returned::kZero, Family::kCounter, false},
};

constexpr std::uint32_t kErrorInvalidHandle = 6;

const Row* FindRow(std::uint32_t code) {
  for (const Row& row : kRows) {
    if (row.code == code) return &row;
  }
  return nullptr;
}

// The last errors a handler of the family may leave when it refuses.
bool AllowedError(Family family, std::uint32_t error) {
  switch (family) {
    case Family::kEvent: return error == DriverError(kDriverCodeBadBuffer);
    case Family::kPort: return error == DriverError(kDriverCodeOutsideWindow);
    case Family::kDio: return error == DriverError(kDriverCodeBadBuffer);
    case Family::kDiEvent:
      return error == DriverError(kDriverCodeBadChannel) || error == DriverError(kDriverCodeBadBuffer);
    case Family::kProperty: return error == DriverError(kDriverCodeBadBuffer);
    case Family::kCounter:
      return error == DriverError(kDriverCodeBadCounter) || error == DriverError(kDriverCodeBadBuffer) ||
             error == DriverError(kDriverCodeOutOfRange) || error == DriverError(kDriverCodeBusy);
  }
  return false;
}

// A counter handler may end a start with a status code of its own instead of
// TRUE (out of range, busy, bad counter).
bool AllowedResult(Family family, int result) {
  if (result == 0 || result == 1) return true;
  return family == Family::kCounter &&
         (result == static_cast<int>(kDriverCodeOutOfRange) || result == static_cast<int>(kDriverCodeBusy) ||
          result == static_cast<int>(kDriverCodeBadCounter));
}

struct Target {
  QioTarget* target = nullptr;
  QioSimBoard* board = nullptr;
  QioStream* stream = nullptr;
  QioStream* closed = nullptr;  // a stream handle that was open once
};

Target& TheTarget() {
  static Target* target = [] {
    auto* t = new Target;
    if (qio_target_boot(nullptr, &t->target) != QIO_TARGET_OK) {
      qio::fuzz::OracleFailure("boot failed: %s", qio_target_last_message());
    }
    t->board = qio_target_board(t->target, 0x300);
    if (qio_target_device_open(t->target, "Q621:", &t->closed) != QIO_TARGET_OK ||
        qio_target_device_close(t->closed) != QIO_TARGET_OK ||
        qio_target_device_open(t->target, "Q621:", &t->stream) != QIO_TARGET_OK) {
      qio::fuzz::OracleFailure("open failed: %s", qio_target_last_message());
    }
    return t;
  }();
  return *target;
}

std::uint32_t Length(FuzzInput& input, std::uint32_t minimum) {
  switch (input.Below(6)) {
    case 0: return minimum;
    case 1: return minimum > 0 ? minimum - 1 : 0;
    case 2: return 0;
    case 3: return minimum + 1 + input.Below(8);
    case 4: return input.Below(64);
    default: return minimum;
  }
}

void Request(FuzzInput& input, QioStream* stream, bool streamOpen) {
  // A code of the table, a near miss of one (a bit flipped), or any code.
  std::uint32_t code = 0;
  const std::uint8_t which = input.Byte();
  if (which < 200) {
    code = kRows[which % std::size(kRows)].code;
  } else if (which < 230) {
    code = kRows[input.Below(std::size(kRows))].code ^ (1u << input.Below(32));
  } else {
    code = input.U32();
  }
  const Row* row = FindRow(code);

  const std::uint8_t shape = input.Byte();
  const bool inPresent = (shape & 0x07) != 0;
  const bool outPresent = (shape & 0x38) != 0;
  const bool countWanted = (shape & 0xC0) != 0;
  const std::uint32_t inLength = Length(input, row ? row->inMinimum : 8);
  const std::uint32_t outLength = Length(input, row ? std::max(row->outMinimum, 3u) : 8);

  bool buffersPass = row != nullptr && inPresent && inLength >= row->inMinimum &&
                     (!row->outRequired || (outPresent && outLength >= row->outMinimum));
  // A request that would sleep is kept to the dispatcher's refusal.
  if (row != nullptr && row->sleeps && buffersPass) return;

  ExactInput in(input, inLength, inPresent);
  GuardedOutput out(outLength, outPresent);
  std::uint32_t bytesReturned = 0xDEADBEEF;
  std::uint32_t lastError = 0xDEADBEEF;
  const int result = qio_target_device_ioctl(stream, code, in.data(), in.length(), out.data(), out.length(),
                                             countWanted ? &bytesReturned : nullptr, &lastError);
  if (!countWanted) bytesReturned = 0;

  QIO_FUZZ_CHECK(in.Unchanged(), "code 0x%08X wrote to its input", code);
  QIO_FUZZ_CHECK(out.GuardIntact(), "code 0x%08X wrote beyond its output of %u bytes", code, outLength);
  if (!streamOpen) {
    QIO_FUZZ_CHECK(result == 0 && lastError == kErrorInvalidHandle && bytesReturned == 0,
                   "code 0x%08X on a closed stream: result %d, error 0x%X", code, result, lastError);
    QIO_FUZZ_CHECK(out.DataUntouched(), "code 0x%08X on a closed stream wrote its output", code);
    return;
  }
  if (row == nullptr) {
    QIO_FUZZ_CHECK(result == 0 && lastError == kErrorUnknownCode && bytesReturned == 0,
                   "unknown code 0x%08X: result %d, error 0x%X, %u bytes", code, result, lastError, bytesReturned);
    QIO_FUZZ_CHECK(out.DataUntouched(), "unknown code 0x%08X wrote its output", code);
    return;
  }
  if (!buffersPass) {
    QIO_FUZZ_CHECK(result == 0 && lastError == DriverError(kDriverCodeBadBuffer) && bytesReturned == 0,
                   "code 0x%08X with input %s/%u, output %s/%u: result %d, error 0x%X, %u bytes (want a refusal)",
                   code, inPresent ? "given" : "null", inLength, outPresent ? "given" : "null", outLength, result,
                   lastError, bytesReturned);
    QIO_FUZZ_CHECK(out.DataUntouched(), "refused code 0x%08X wrote its output", code);
    return;
  }
  QIO_FUZZ_CHECK(AllowedResult(row->family, result), "code 0x%08X: result %d is not one it may give", code,
                 result);
  if (result == 0) {
    QIO_FUZZ_CHECK(AllowedError(row->family, lastError), "code 0x%08X refused with error 0x%X", code, lastError);
  }
  if (!row->outRequired) {
    QIO_FUZZ_CHECK(out.DataUntouched(), "code 0x%08X wrote to an output it does not use", code);
  }
  if (countWanted) {
    switch (row->returned) {
      case Returned::kZero:
        QIO_FUZZ_CHECK(bytesReturned == 0, "code 0x%08X returned %u bytes, none expected", code, bytesReturned);
        break;
      case Returned::kFixed:
        QIO_FUZZ_CHECK(bytesReturned == row->outMinimum, "code 0x%08X returned %u bytes, not %u", code,
                       bytesReturned, row->outMinimum);
        break;
      case Returned::kOutputLength:
        QIO_FUZZ_CHECK(bytesReturned == outLength, "code 0x%08X returned %u bytes, not the output length %u", code,
                       bytesReturned, outLength);
        break;
      case Returned::kDelivered:
        QIO_FUZZ_CHECK(bytesReturned <= outLength && (result != 0 || bytesReturned == 0),
                       "code 0x%08X: %u bytes returned with an output of %u (result %d)", code, bytesReturned,
                       outLength, result);
        break;
    }
  }
}

// Pins the board sees: DI levels, counter inputs (so that interrupts, latched
// ports and counts are in play while requests arrive).
void Stimulus(FuzzInput& input, QioSimBoard* board) {
  switch (input.Below(3)) {
    case 0: qio_sim_set_di(board, input.Below(3), input.Byte()); break;
    case 1: {
      static const double kRates[] = {0.0, 50.0, 1000.0, 20000.0};
      qio_sim_set_counter_input(board, input.Below(2), input.Pick(kRates), 50.0);
      break;
    }
    default: qio_sim_set_di_square(board, input.Below(24), input.Bool() ? 200.0 : 0.0); break;
  }
}

// Every input starts from the same board: counters idle, events off, the
// shipped directions, quiet pins.
void ResetBoard(Target& t) {
  std::uint32_t returned = 0;
  for (std::uint16_t counter = 0; counter < 2; ++counter) {
    qio_target_device_ioctl(t.stream, IOCTL_COUNTER_RESET, &counter, sizeof counter, nullptr, 0, &returned, nullptr);
  }
  for (std::uint16_t source = 0; source < 26; ++source) {
    std::uint8_t request[16] = {};
    request[2] = static_cast<std::uint8_t>(source);
    qio_target_device_ioctl(t.stream, IOCTL_EVENT_ENABLE, request, sizeof request, nullptr, 0, &returned, nullptr);
  }
  const std::uint8_t directions[8] = {};
  qio_target_device_ioctl(t.stream, IOCTL_PROPERTY_SET, directions, sizeof directions, nullptr, 0, &returned, nullptr);
  for (unsigned port = 0; port < 3; ++port) qio_sim_set_di(t.board, port, 0);
  for (unsigned channel = 0; channel < 24; ++channel) qio_sim_set_di_square(t.board, channel, 0);
  for (unsigned counter = 0; counter < 2; ++counter) qio_sim_set_counter_input(t.board, counter, 0, 50);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Target& t = TheTarget();
  ResetBoard(t);
  FuzzInput input(data, size);
  for (int step = 0; step < 64 && !input.Empty(); ++step) {
    const std::uint8_t kind = input.Byte();
    if (kind < 208) {
      Request(input, t.stream, true);
    } else if (kind < 240) {
      Stimulus(input, t.board);
    } else if (kind < 248) {
      Request(input, t.closed, false);
    } else {
      Request(input, nullptr, false);
    }
  }
  return 0;
}
