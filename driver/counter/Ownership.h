// Who owns what on the board: counter blocks, clock generators and the
// settings loaded into them. Every decision here is made, and every change
// written, under ctx.lock (the ...Locked functions expect the caller to hold
// it), so that of two requests racing for a block or a generator exactly one
// gets it, and a reset that ends a function is seen by everything that
// function still had under way.
//
// The rules:
// - Block b (counter b) may be programmed by a new function when
//   counterFunction b is idle and no frequency measurement on counter b - 1
//   borrows it as its partner.
// - A frequency measurement on counter n owns blocks n and n + 1 and reserves
//   generator n until counter n's reset (or the reset of counter n + 1, which
//   ends it). A PWM measurement owns blocks 0, 1 and generator 0 while it runs.
// - ClockGenerator n is taken by one owner at a time: an idle generator by
//   anyone (but not by a frequency output while a measurement reserves it),
//   a measurement's gate clock only by that measurement, a PWM time base only
//   by the next PWM setting that needs it.
// - A PWM setting stays loaded until another function reprograms one of its
//   blocks or a reset stops one of its generators; only a loaded setting can
//   be enabled.
#pragma once

#include <cstdint>
#include <mutex>

#include "../BoardRegisters.h"
#include "../DeviceContext.h"

namespace qio::driver {

using DeviceLock = std::scoped_lock<platform::CriticalSection>;

// A function's hold on counter n, as granted: the counter's claim epoch at
// the grant. A reset that ends the function moves the epoch on, and from then
// on every register sequence and every commit of the holder is refused.
struct Claim {
  unsigned counter = 0;
  std::uint32_t epoch = 0;
};

// The hold on counter n as it stands now (the caller owns the function).
Claim CurrentClaim(const DeviceContext& ctx, unsigned n);
bool ClaimHoldsLocked(const DeviceContext& ctx, const Claim& claim);

// Runs `section` under the lock if the claim still holds; false otherwise.
template <typename Section>
bool WhileHeld(DeviceContext& ctx, const Claim& claim, Section&& section) {
  DeviceLock lock(ctx.lock);
  if (!ClaimHoldsLocked(ctx, claim)) return false;
  section();
  return true;
}

// ---- blocks ----

// Block b may be taken by a new function (see the rules above).
bool BlockFreeLocked(const DeviceContext& ctx, unsigned b);
// A function other than the loaded settings' is about to program block b:
// the raw configuration and the PWM settings that use the block are gone.
// `keepRawConfiguration` for the event-counting start that consumes it.
void BlockReprogrammedLocked(DeviceContext& ctx, unsigned b, bool keepRawConfiguration = false);

// Counter n runs the second half of a counted PWM (a cascade with n - 1).
bool RunsCascadedPwm(const DeviceContext& ctx, unsigned n);
// Counter n has a loaded cascade setting (second counter of a pair).
bool CascadeLoaded(const DeviceContext& ctx, unsigned n);

// ---- clock generators ----

// Generator n could be taken for `owner` now.
bool GeneratorTakeableLocked(const DeviceContext& ctx, unsigned n, GeneratorState owner);
// Takes generator n for `owner` and programs it with a divisor and source
// bits (source code << 8). False, with nothing written, when another owner
// holds it.
bool TakeGeneratorLocked(DeviceContext& ctx, unsigned n, GeneratorState owner, unsigned divisor,
                         std::uint16_t sourceBits);
// Stops generator n (writes 0) and marks it idle; a PWM setting that ran on
// it is no longer loaded.
void StopGeneratorLocked(DeviceContext& ctx, unsigned n);

// ---- counter interrupts ----

// Adds or removes terminal-count bits that the engine needs and writes the
// interrupt-enable register.
void AddCounterInterruptLocked(DeviceContext& ctx, std::uint32_t bits);
void RemoveCounterInterruptLocked(DeviceContext& ctx, std::uint32_t bits);

}  // namespace qio::driver
