// Pulse output (counter n toggles its output every half period, on a time
// base chosen so that the half-period count fits 16 bits) and frequency
// output (ClockGenerator n alone, with a caller-chosen source and divisor).
#include "CounterEngine.h"
#include "CounterOps.h"
#include "CounterRegisters.h"
#include "TimeBases.h"
#include "qio/protocol/records.h"

namespace qio::driver {

using namespace counter;

namespace {

constexpr unsigned kMaxDivisor = 16;
constexpr std::uint16_t kSourceBitsMask = 0x0700;

}  // namespace

HandlerResult HandleCounterPulseStart(DeviceContext& ctx, const Request& request) {
  const auto pulse = protocol::Load<protocol::CounterPulseStartRequest>(request.in.data(), request.in.size());
  const unsigned n = pulse.counter;
  if (!ValidCounter(n)) return Fail(ctx, protocol::kDriverCodeBadCounter);
  if (ctx.counterFunction[n].load() != kFunctionIdle) return FailBusy(ctx);

  {
    DeviceLock lock(ctx.lock);
    (void)ReadWord(ctx, reg::ModeRegister(n));
    WriteWord(ctx, reg::ModeRegister(n), kModeSquareWave);
    WriteWord(ctx, reg::LoadRegister(n), 1);
  }
  const std::optional<PulsePlan> plan = PlanPulse(pulse.periodSeconds);
  if (!plan) return Fail(ctx, protocol::kDriverCodeOutOfRange);

  std::uint16_t source = kSourceBaseClock;
  const GeneratorSetting& generator = plan->row.generator;
  if (generator.UsesGenerator()) {
    source = GeneratorSource(n);
    if (!StartClockGenerator(ctx, n, generator.divisor, GeneratorSourceBits(generator.sourceCode))) return 0;
    ctx.generatorState[n].store(kGeneratorPulse);
  }
  {
    DeviceLock lock(ctx.lock);
    const std::uint16_t mode = ReadWord(ctx, reg::ModeRegister(n));
    const auto count = static_cast<std::uint16_t>(plan->halfPeriodCount);
    WriteWord(ctx, reg::LoadRegister(n), count);
    WriteWord(ctx, reg::HoldRegister(n), count);
    WriteWord(ctx, reg::ModeRegister(n), static_cast<std::uint16_t>(mode | source));
  }
  ArmCounter(ctx, n);
  ctx.counterFunction[n].store(kFunctionPulse);
  return 1;
}

HandlerResult HandleFreqOutStart(DeviceContext& ctx, const Request& request) {
  const auto start = protocol::Load<protocol::FreqOutStartRequest>(request.in.data(), request.in.size());
  const unsigned n = start.counter;
  if (!ValidCounter(n)) return Fail(ctx, protocol::kDriverCodeBadCounter);
  // Divisors 1..16 and the seven source codes are all the generator word can
  // hold; anything else would program a different clock than asked for.
  const bool sourceValid = start.sourceBits != 0 && (start.sourceBits & ~kSourceBitsMask) == 0;
  if (start.divisor == 0 || start.divisor > kMaxDivisor || !sourceValid) {
    return Fail(ctx, protocol::kDriverCodeOutOfRange);
  }
  // counterFunction n is neither tested nor changed: the generator runs on its
  // own while the counter is idle.
  return StartClockGenerator(ctx, n, start.divisor, start.sourceBits) ? 1 : 0;
}

}  // namespace qio::driver
