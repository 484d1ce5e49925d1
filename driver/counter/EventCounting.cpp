// Event counting: counter n counts the edges on its input pin, and every
// terminal count (one per 65536 edges) raises an interrupt that the interrupt
// service thread tallies, so that a caller can extend the count beyond 16
// bits: total = tally x 65536 + count.
#include "CounterEngine.h"
#include "CounterOps.h"
#include "CounterRegisters.h"
#include "qio/protocol/records.h"

namespace qio::driver {

using namespace counter;

HandlerResult HandleCounterEventStart(DeviceContext& ctx, const Request& request) {
  const auto start = protocol::Load<protocol::CounterEventStartRequest>(request.in.data(), request.in.size());
  const unsigned n = start.counter;
  if (!ValidCounter(n)) return Fail(ctx, protocol::kDriverCodeBadCounter);
  if (ctx.counterFunction[n].load() != kFunctionIdle) return FailBusy(ctx);

  ctx.terminalCountTally[n].store(0);
  // A raw configuration made just before is used once, instead of the default.
  if (ctx.modeConfigured[n].exchange(0) == 0) {
    DeviceLock lock(ctx.lock);
    WriteWord(ctx, reg::ModeRegister(n), kModeEventCount);
    WriteWord(ctx, reg::LoadRegister(n), kEventInitialCount);
  }
  ArmCounter(ctx, n);
  // The terminal-count interrupt of counter n, on top of the shadow: the next
  // write of the shadow (a reset, an event enable) removes it again.
  WriteInterruptEnable(ctx, std::uint32_t{reg::kIntTerminalCount0} << n);
  ctx.counterFunction[n].store(kFunctionEventCount);
  return 1;
}

HandlerResult HandleCounterEventRead(DeviceContext& ctx, const Request& request) {
  const auto read = protocol::Load<protocol::CounterEventReadRecord>(request.in.data(), request.in.size());
  const unsigned n = read.counter;
  if (!ValidCounter(n)) return Fail(ctx, protocol::kDriverCodeBadCounter);
  // Whatever owns the counter, the read latches and reports what it holds.
  const std::uint32_t count = LatchAndReadCounter(ctx, n);
  const std::uint16_t tally = ctx.terminalCountTally[n].load();
  StoreField(request.out, offsetof(protocol::CounterEventReadRecord, tally), tally);
  StoreField(request.out, offsetof(protocol::CounterEventReadRecord, count), count);
  return 1;
}

}  // namespace qio::driver
