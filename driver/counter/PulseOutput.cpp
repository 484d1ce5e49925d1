// Pulse output (counter n toggles its output every half period, on a time
// base chosen so that the half-period count fits 16 bits) and frequency
// output (ClockGenerator n alone, with a caller-chosen source and divisor).
#include "CounterEngine.h"
#include "CounterOps.h"
#include "TimeBases.h"
#include "qio/protocol/records.h"

namespace qio::driver {

using counter::GeneratorSetting;
using counter::PlanPulse;
using counter::PulsePlan;

HandlerResult HandleCounterPulseStart(DeviceContext& ctx, const Request& request) {
  const auto pulse = protocol::Load<protocol::CounterPulseStartRequest>(request.in.data(), request.in.size());
  const unsigned n = pulse.counter;
  if (!ValidCounter(n)) return Fail(ctx, protocol::kDriverCodeBadCounter);

  Claim claim;
  {
    DeviceLock lock(ctx.lock);
    if (!BlockFreeLocked(ctx, n)) return FailBusy(ctx);
    BlockReprogrammedLocked(ctx, n);
    (void)ReadWord(ctx, offset::ModeRegister(n));
    WriteWord(ctx, offset::ModeRegister(n), mode::kSquareWave);
    WriteWord(ctx, offset::LoadRegister(n), 1);

    const std::optional<PulsePlan> plan = PlanPulse(pulse.periodSeconds);
    if (!plan) return Fail(ctx, protocol::kDriverCodeOutOfRange);
    std::uint16_t source = mode::Source(mode::kSourceBase);
    const GeneratorSetting& setting = plan->row.generator;
    if (setting.UsesGenerator()) {
      source = mode::GeneratorSource(n);
      if (!TakeGeneratorLocked(ctx, n, GeneratorState::kPulse, setting.divisor,
                               generator::SourceBits(setting.sourceCode))) {
        return FailBusy(ctx);
      }
    }
    ctx.counterFunction[n].store(CounterFunction::kPulse);
    claim = CurrentClaim(ctx, n);
    const std::uint16_t word = ReadWord(ctx, offset::ModeRegister(n));
    const auto count = static_cast<std::uint16_t>(plan->halfPeriodCount);
    WriteWord(ctx, offset::LoadRegister(n), count);
    WriteWord(ctx, offset::HoldRegister(n), count);
    WriteWord(ctx, offset::ModeRegister(n), static_cast<std::uint16_t>(word | source));
  }
  // A reset while it settles has the last word.
  ArmCounter(ctx, claim);
  return 1;
}

HandlerResult HandleFreqOutStart(DeviceContext& ctx, const Request& request) {
  const auto start = protocol::Load<protocol::FreqOutStartRequest>(request.in.data(), request.in.size());
  const unsigned n = start.counter;
  if (!ValidCounter(n)) return Fail(ctx, protocol::kDriverCodeBadCounter);
  // Divisors 1..16 and the seven source codes are all the generator word can
  // hold; anything else would program a different clock than asked for.
  const bool sourceValid = start.sourceBits != 0 && (start.sourceBits & ~generator::kSourceField) == 0;
  if (start.divisor == 0 || start.divisor > generator::kMaxDivisor || !sourceValid) {
    return Fail(ctx, protocol::kDriverCodeOutOfRange);
  }
  // counterFunction n is neither tested nor changed: the generator runs on its
  // own while the counter is idle. A measurement on counter n reserves it.
  DeviceLock lock(ctx.lock);
  if (!TakeGeneratorLocked(ctx, n, GeneratorState::kFreqOut, start.divisor, start.sourceBits)) return FailBusy(ctx);
  return 1;
}

}  // namespace qio::driver
