// Operations shared inside the counter engine: request helpers, the register
// primitives every counter function is built from, the measurement-thread
// machinery, and the frequency measurement that the PWM measurement reuses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "../BoardRegisters.h"
#include "../DeviceContext.h"
#include "../Request.h"
#include "Ownership.h"
#include "qio/protocol/ioctl.h"

namespace qio::driver {

// ---- request helpers ----

// The library sends counter numbers 0 and 1 only; anything else would address
// registers outside the counter blocks and records outside the arrays.
inline bool ValidCounter(unsigned n) { return n < kCounters; }

// Writes one field of a response at its offset, only when it fits the output.
template <typename T>
void StoreField(std::span<std::uint8_t> out, std::size_t offset, const T& value) {
  if (offset + sizeof value <= out.size()) std::memcpy(out.data() + offset, &value, sizeof value);
}

inline HandlerResult FailBusy(DeviceContext& ctx) { return Fail(ctx, protocol::kDriverCodeBusy); }

// ---- shared register operations ----

// Command 0x05 to counter n and its strobe, then 50 ms for it to settle.
// False (nothing written) when a reset has ended the claim.
bool ArmCounter(DeviceContext& ctx, const Claim& claim);
// Latches counter n's count into its HoldRegister (caller holds ctx.lock);
// it is read back after the lock.
void LatchCounterLocked(DeviceContext& ctx, unsigned n);

// ---- measurement threads ----

// Sleeps up to `milliseconds`, waking early when the engine is asked to stop
// its measurement threads. False when the stop request came.
bool MeasurementSleep(DeviceContext& ctx, std::uint32_t milliseconds);
// True while a stop of the measurement threads is in progress.
inline bool StopRequested(const DeviceContext& ctx) { return ctx.stopWorkers.load() != 0; }

// A slot holds a thread (running, or ended but not yet collected).
inline bool SlotOccupied(const WorkerSlot& slot) { return slot.thread.load() != platform::kNullHandle; }
// The slot's thread exists and has not ended.
bool WorkerRunning(const WorkerSlot& slot);
// The claim a slot's thread works for.
Claim SlotClaim(const WorkerSlot& slot);
// Starts `proc` on the device in `slot` for the measurement of `claim`,
// unless the claim has ended, a thread still runs there or a stop is in
// progress. The caller holds ctx.lock; a thread that ended in the slot is
// handed back in `ended` for the caller to release after the lock.
bool LaunchWorkerLocked(DeviceContext& ctx, WorkerSlot& slot, platform::ThreadProc proc, const Claim& claim,
                        Handle& ended);
// Takes the threads that have finished out of their slots (caller holds
// ctx.lock); release them with ReleaseThreads after the lock.
struct EndedThreads {
  Handle handles[4] = {};
  unsigned count = 0;
  void Add(Handle h) {
    if (h != platform::kNullHandle) handles[count++] = h;
  }
};
void CollectFinishedWorkersLocked(DeviceContext& ctx, EndedThreads& ended);
void ReleaseThreads(const EndedThreads& ended);
bool AnyWorkerSlotOccupied(const DeviceContext& ctx);
// Asks every measurement thread to leave and waits until all have; none is
// ever killed, so none leaves the lock held or a register sequence half done.
// Never called with the lock held.
void StopMeasurementWorkers(DeviceContext& ctx);

// ---- frequency measurement ----

// Internal result codes of the measurement routines.
inline constexpr std::uint32_t kCodeOk = 0;

// The 2 ms gate of the first estimate, in base-clock ticks.
inline constexpr std::uint16_t kShortGateMs = 2;
inline constexpr std::uint16_t kShortGateTicks = kShortGateMs * kBaseTicksPerMs;

// The start of a measurement of counter n with a method (0 automatic, else a
// fixed gate in ms): takes counter n and its partner block for the
// measurement unless they run it already, then runs a pass when none is under
// way. `clearResult`: an explicit start forgets the previous result (a read's
// restart does not). Returns 0 or a code: 0x20 out of range, 0x32 busy.
std::uint32_t StartFrequencyMeasurement(DeviceContext& ctx, unsigned n, std::uint16_t method, bool clearResult);
// A pass of the measurement that `claim` already owns (also the PWM
// measurement's estimate): runs one when neither a thread nor another pass is
// under way.
std::uint32_t RunMeasurementPass(DeviceContext& ctx, const Claim& claim, std::uint16_t method);
// The read: restarts with `method` when no thread is alive, then reports the
// published value; the code is 0x20 when that value is over range.
struct FrequencyReading {
  std::uint32_t code;
  float hertz;
};
FrequencyReading ReadFrequency(DeviceContext& ctx, unsigned n, std::uint16_t method);

// Thread bodies (argument: the DeviceContext).
std::uint32_t LongGate1sThread(void* argument);
std::uint32_t LongGate2sThread(void* argument);
std::uint32_t LowFreqThread(void* argument);
std::uint32_t FixedGateThread(void* argument);

// One phase pass of the period method on `lowFreqTimebase` (used by the
// automatic pass and by LowFreqThread).
std::uint32_t PhasePass(DeviceContext& ctx, const Claim& claim, unsigned depth);

// Publishing a measured value of the claim's counter: frequencyRaw and
// frequencyResult together, unless a reset has ended the claim.
void PublishFrequency(DeviceContext& ctx, const Claim& claim, float hertz, bool overRange = false);
// Forgets the published value of counter n (a reset, a new start).
void ClearFrequencyResult(DeviceContext& ctx, unsigned n);

// A measurement thread is done with the gate clock of generator n: stops it
// unless another measurement thread still runs on it (a long gate that a
// slow pass handed the measurement over to).
void ReleaseMeasurementGenerator(DeviceContext& ctx, const Claim& claim, const WorkerSlot* self);

}  // namespace qio::driver
