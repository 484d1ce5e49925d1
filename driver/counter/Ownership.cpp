// Ownership of counter blocks, clock generators and loaded settings.
#include "Ownership.h"

namespace qio::driver {

namespace {

// The PWM setting of counter c runs its output on generator c.
bool OutputOnGenerator(const DeviceContext& ctx, unsigned c) {
  return mode::SourceOf(ctx.pwmModeWord[c].load()) == mode::kSourceGenerator0 + c;
}

void ForgetPwmSetting(DeviceContext& ctx, unsigned c) { ctx.pwmConfigured[c].store(0); }

bool MeasurementReserves(const DeviceContext& ctx, unsigned n) {
  const CounterFunction function = ctx.counterFunction[n].load();
  return function == CounterFunction::kFrequency || function == CounterFunction::kPwmMeasure;
}

bool IsMeasurementOwner(GeneratorState owner) {
  return owner == GeneratorState::kGate || owner == GeneratorState::kPwmMeasure;
}

}  // namespace

Claim CurrentClaim(const DeviceContext& ctx, unsigned n) { return {n, ctx.claimEpoch[n].load()}; }

bool ClaimHoldsLocked(const DeviceContext& ctx, const Claim& claim) {
  return ctx.claimEpoch[claim.counter].load() == claim.epoch;
}

// ---- blocks ----

bool BlockFreeLocked(const DeviceContext& ctx, unsigned b) {
  if (ctx.counterFunction[b].load() != CounterFunction::kIdle || ctx.resetsUnderWay[b].load() != 0) return false;
  return b == 0 || ctx.pairGateInUse[b - 1].load() == 0;
}

void BlockReprogrammedLocked(DeviceContext& ctx, unsigned b, bool keepRawConfiguration) {
  if (!keepRawConfiguration) ctx.modeConfigured[b].store(0);
  ForgetPwmSetting(ctx, b);
  // Block b is also the prescaler of a cascade on counter b + 1.
  if (b + 1 < kCounters && CascadeLoaded(ctx, b + 1)) ForgetPwmSetting(ctx, b + 1);
}

bool CascadeLoaded(const DeviceContext& ctx, unsigned n) {
  return n >= 1 && ctx.pwmConfigured[n].load() != 0 && ctx.pwmStandalone[n].load() == 0;
}

bool RunsCascadedPwm(const DeviceContext& ctx, unsigned n) {
  return ctx.counterFunction[n].load() == CounterFunction::kPwm && CascadeLoaded(ctx, n);
}

// ---- clock generators ----

bool GeneratorTakeableLocked(const DeviceContext& ctx, unsigned n, GeneratorState owner) {
  switch (ctx.generatorState[n].load()) {
    case GeneratorState::kIdle:
      return IsMeasurementOwner(owner) || !MeasurementReserves(ctx, n);
    case GeneratorState::kGate:
      return IsMeasurementOwner(owner);
    case GeneratorState::kPwm:
      return owner == GeneratorState::kPwm;
    default:
      return false;
  }
}

bool TakeGeneratorLocked(DeviceContext& ctx, unsigned n, GeneratorState owner, unsigned divisor,
                         std::uint16_t sourceBits) {
  if (!GeneratorTakeableLocked(ctx, n, owner)) return false;
  WriteWord(ctx, offset::ClockGenerator(n), generator::Word(divisor, sourceBits));
  ctx.generatorState[n].store(owner);
  return true;
}

void StopGeneratorLocked(DeviceContext& ctx, unsigned n) {
  WriteWord(ctx, offset::ClockGenerator(n), generator::kStopped);
  ctx.generatorState[n].store(GeneratorState::kIdle);
  // A PWM whose time base this was can no longer be enabled.
  if (ctx.pwmConfigured[n].load() != 0 && OutputOnGenerator(ctx, n)) ForgetPwmSetting(ctx, n);
  if (n + 1 < kCounters && CascadeLoaded(ctx, n + 1) && OutputOnGenerator(ctx, n)) ForgetPwmSetting(ctx, n + 1);
}

// ---- counter interrupts ----

void AddCounterInterruptLocked(DeviceContext& ctx, std::uint32_t bits) {
  ctx.counterIntEnable.fetch_or(bits);
  WriteInterruptEnableLocked(ctx);
}

void RemoveCounterInterruptLocked(DeviceContext& ctx, std::uint32_t bits) {
  ctx.counterIntEnable.fetch_and(~bits);
  WriteInterruptEnableLocked(ctx);
}

}  // namespace qio::driver
