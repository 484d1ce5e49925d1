// Helpers for the driver's unit tests: a board record on a fake board, and
// requests sent through the dispatcher as byte buffers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "driver/DeviceContext.h"
#include "driver/core/Dispatcher.h"
#include "fake_board.h"
#include "request_bytes.h"
#include "qio/platform/errors.h"
#include "qio/platform/registry.h"

namespace qio::test {

inline constexpr std::uint16_t kTestBase = 0x300;

struct Reply {
  int result = 0;
  std::uint32_t error = 0;  // the thread's last error afterwards
  std::uint32_t bytesReturned = 0;
  std::vector<std::uint8_t> out;
};

inline Reply Send(driver::DeviceContext* ctx, std::uint32_t code, const std::vector<std::uint8_t>& in,
                  std::size_t outLength) {
  Reply reply;
  reply.out.assign(outLength, 0xEE);
  platform::SetLastError(0);
  reply.bytesReturned = 0xDEAD;
  reply.result = driver::Dispatch(ctx, code, in.empty() ? nullptr : in.data(), static_cast<std::uint32_t>(in.size()),
                                  outLength == 0 ? nullptr : reply.out.data(), static_cast<std::uint32_t>(outLength),
                                  &reply.bytesReturned);
  reply.error = platform::GetLastError();
  return reply;
}

// A board record as XXX_Init leaves it for a board at kTestBase, without the
// registry: for tests of the handlers alone.
inline std::unique_ptr<driver::DeviceContext> MakeContext() {
  auto ctx = std::make_unique<driver::DeviceContext>();
  ctx->ioBase = kTestBase;
  ctx->ioLength = 0x40;
  ctx->irq = 5;
  ctx->deviceNumber = 0;
  ctx->istPriority = driver::kIstPriority;
  return ctx;
}

}  // namespace qio::test
