// Event counting: counter n counts the edges on its input pin, and every
// terminal count (one per 65536 edges) raises an interrupt that the interrupt
// service thread tallies, so that a caller can extend the count beyond 16
// bits: total = tally x 65536 + count.
#include "CounterEngine.h"
#include "CounterOps.h"
#include "qio/platform/clock.h"
#include "qio/protocol/records.h"

namespace qio::driver {

namespace {

constexpr std::uint16_t kEventInitialCount = 1;

}  // namespace

HandlerResult HandleCounterEventStart(DeviceContext& ctx, const Request& request) {
  const auto start = protocol::Load<protocol::CounterEventStartRequest>(request.in.data(), request.in.size());
  const unsigned n = start.counter;
  if (!ValidCounter(n)) return Fail(ctx, protocol::kDriverCodeBadCounter);

  Claim claim;
  {
    DeviceLock lock(ctx.lock);
    if (!BlockFreeLocked(ctx, n)) return FailBusy(ctx);
    ctx.counterFunction[n].store(CounterFunction::kEventCount);
    claim = CurrentClaim(ctx, n);
    ctx.terminalCountTally[n].store(0);
    // A raw configuration made just before is used once, instead of the default.
    const bool configured = ctx.modeConfigured[n].exchange(0) != 0;
    BlockReprogrammedLocked(ctx, n, true);
    if (!configured) {
      WriteWord(ctx, offset::ModeRegister(n), mode::kEventCount);
      WriteWord(ctx, offset::LoadRegister(n), kEventInitialCount);
    }
  }
  // A reset meanwhile ends the count: the start then neither arms the counter
  // nor enables its interrupt again.
  if (!ArmCounter(ctx, claim)) return 1;
  // Each terminal count of counter n raises an interrupt that is tallied.
  WhileHeld(ctx, claim, [&] { AddCounterInterruptLocked(ctx, interrupt::TerminalCount(n)); });
  return 1;
}

HandlerResult HandleCounterEventRead(DeviceContext& ctx, const Request& request) {
  const auto read = protocol::Load<protocol::CounterEventReadRecord>(request.in.data(), request.in.size());
  const unsigned n = read.counter;
  if (!ValidCounter(n)) return Fail(ctx, protocol::kDriverCodeBadCounter);
  const std::uint16_t tcBit = interrupt::TerminalCount(n);
  std::uint32_t count = 0;
  std::uint16_t tally = 0;
  for (;;) {
    // The count wraps at a terminal count, and the interrupt service tallies
    // it a little later: one still pending in the status is counted here, so
    // that a read right after a wrap does not fall 65536 edges behind.
    const std::uint32_t service = ctx.tallyService.load();
    if ((service & 1) == 0) {
      // A PWM output reloads its high phase from the HoldRegister, which the
      // latch would overwrite with the present count: its counter is not read.
      // Whatever else owns the counter, the read latches and reports what it holds.
      DeviceLock lock(ctx.lock);
      if (ctx.counterFunction[n].load() == CounterFunction::kPwm) return FailBusy(ctx);
      const bool pendingBefore = (ReadWord(ctx, offset::kInterruptControl) & tcBit) != 0;
      LatchCounterLocked(ctx, n);
      count = ReadWord(ctx, offset::HoldRegister(n));
      const bool pendingAfter = (ReadWord(ctx, offset::kInterruptControl) & tcBit) != 0;
      tally = ctx.terminalCountTally[n].load();
      if (ctx.tallyService.load() == service) {
        // A wrap between the two looks at the status came just before or
        // just after the latch: a count near 0 was latched after it.
        if (pendingBefore || (pendingAfter && count < 0x8000)) ++tally;
        break;
      }
    }
    platform::Sleep(0);  // the interrupt service is half-way: let it finish
  }
  StoreField(request.out, offsetof(protocol::CounterEventReadRecord, tally), tally);
  StoreField(request.out, offsetof(protocol::CounterEventReadRecord, count), count);
  return 1;
}

}  // namespace qio::driver
