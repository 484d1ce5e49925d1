// One device-control request as a handler sees it, after the dispatcher has
// checked the buffers against the code's row: `in` holds at least the row's
// minimum input, `out` at least its minimum output (or is empty when the row
// uses none). Handlers read and write only within these spans.
#pragma once

#include <cstdint>
#include <span>

#include "DeviceContext.h"

namespace qio::driver {

struct Request {
  std::span<const std::uint8_t> in;
  std::span<std::uint8_t> out;
  std::uint32_t* bytesReturned;  // never null
};

// Result of a handler: TRUE (1), FALSE (0), or a status code of its own that
// the dispatcher passes on unchanged.
using HandlerResult = int;
using RequestHandler = HandlerResult (*)(DeviceContext& ctx, const Request& request);

// Records a driver failure: lastError = code, thread's last error =
// 0x20000000 | code; returns FALSE for `return Fail(ctx, code);`.
HandlerResult Fail(DeviceContext& ctx, std::uint32_t code);

}  // namespace qio::driver
