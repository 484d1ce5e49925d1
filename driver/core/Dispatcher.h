// The device-control dispatcher: one table row per control code with the
// buffer checks that run before its handler and the bytes-returned rule.
#pragma once

#include <cstdint>
#include <optional>

#include "../DeviceContext.h"
#include "../Request.h"

namespace qio::driver {

enum class BytesReturned {
  kZero,          // nothing is returned
  kFixed,         // the row's output minimum, set before the handler runs
  kOutputLength,  // the output length given (raw-port writes)
  kHandler,       // the handler sets the count it delivers
};

struct DispatchRow {
  std::uint32_t code;
  std::uint32_t inputMinimum;    // the input buffer is always required
  bool outputRequired;
  std::uint32_t outputMinimum;
  BytesReturned bytesReturned;
  RequestHandler handler;
};

// The row of a control code (matched by exact value), or nothing.
const DispatchRow* FindDispatchRow(std::uint32_t code);

// XXX_IOControl: checks the handle, the code and the buffers, then runs the
// handler and returns its result. Never reads or writes outside the buffers.
HandlerResult Dispatch(DeviceContext* ctx, std::uint32_t code, const std::uint8_t* inBuffer,
                       std::uint32_t inLength, std::uint8_t* outBuffer, std::uint32_t outLength,
                       std::uint32_t* bytesReturned);

}  // namespace qio::driver
