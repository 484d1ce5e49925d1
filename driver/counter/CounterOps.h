// Operations shared inside the counter engine: the register primitives every
// counter function is built from, the measurement-thread machinery, and the
// frequency measurement that the PWM measurement reuses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <span>

#include "../BoardRegisters.h"
#include "../DeviceContext.h"
#include "../Request.h"
#include "qio/protocol/ioctl.h"

namespace qio::driver {

using DeviceLock = std::scoped_lock<platform::CriticalSection>;

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
bool ArmCounter(DeviceContext& ctx, unsigned n);
// Latches counter n's count into its HoldRegister and reads it back.
std::uint16_t LatchAndReadCounter(DeviceContext& ctx, unsigned n);
// Takes ClockGenerator n for a divisor and source bits (source code << 8).
// False when another function owns it (then lastError 0x32 is recorded).
bool StartClockGenerator(DeviceContext& ctx, unsigned n, unsigned divisor, std::uint16_t sourceBits);
void StopClockGenerator(DeviceContext& ctx, unsigned n);
// Writes the interrupt-control shadow, with extra enable bits, to the board.
void WriteInterruptEnable(DeviceContext& ctx, std::uint32_t extraBits);

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
// Starts `proc` on the device in `slot` unless a thread still runs there or a
// stop is in progress; an ended thread left in the slot is released first.
bool LaunchWorker(DeviceContext& ctx, WorkerSlot& slot, platform::ThreadProc proc);
// Releases the threads that have finished (start step "collect").
void CollectFinishedWorkers(DeviceContext& ctx);
bool AnyWorkerSlotOccupied(const DeviceContext& ctx);
// Asks every measurement thread to leave and waits until all have; none is
// ever killed, so none leaves the lock held or a register sequence half done.
void StopMeasurementWorkers(DeviceContext& ctx);

// ---- frequency measurement ----

// Internal result codes of the measurement routines.
inline constexpr std::uint32_t kCodeOk = 0;

// The start of a measurement of counter n with a method (0 automatic, else a
// fixed gate in ms). Returns 0 or a code: 0x20 out of range, 0x32 busy.
std::uint32_t StartFrequencyMeasurement(DeviceContext& ctx, unsigned n, std::uint16_t method);
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
std::uint32_t PhasePass(DeviceContext& ctx, unsigned n, unsigned depth);

// Publishing a measured value: frequencyRaw and frequencyResult together.
void PublishFrequency(DeviceContext& ctx, unsigned n, float hertz, bool overRange = false);

// The generator is (still) the time base of a frequency measurement: the
// threads stop it when they end, but never a frequency output.
bool GeneratorHeldByMeasurement(const DeviceContext& ctx, unsigned n);

}  // namespace qio::driver
