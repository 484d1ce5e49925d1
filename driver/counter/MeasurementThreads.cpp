// The measurement threads of the frequency measurement. Each works for the
// claim of the measurement that launched it (the counter n and its partner
// n + 1), sleeps outside the device lock, writes the registers only while
// that claim holds, leaves at once when a stop is requested, and sets its
// done flag (where it has one) as its last action.
#include "CounterOps.h"

namespace qio::driver {

namespace {

struct LongGate {
  float bandLow;          // the thread runs while the estimate stays in [low, high)
  float bandHigh;
  std::uint32_t sleepMs;  // arming to latch: the gate's low and high window
  std::uint32_t gateMs;   // the counting window
  bool latchBothBlocks;   // strobe of the latch: the pair, or only n + 1
};

constexpr LongGate kLongGate1s{10'000.0f, 50'000.0f, 2000, 1000, true};
constexpr LongGate kLongGate2s{5'000.0f, 10'000.0f, 4000, 2000, false};
constexpr std::uint16_t kLongGate1sCount = 10000;  // 1 s of the 10 kHz generator
constexpr std::uint32_t kFixedGateSettleMs = 1;

bool InBand(const DeviceContext& ctx, unsigned n, const LongGate& gate) {
  const float estimate = ctx.frequencyRaw[n].load();
  return estimate >= gate.bandLow && estimate < gate.bandHigh;
}

// Counts the input's edges in the generator-timed gate, pass after pass,
// publishing each result, while the result stays in the band.
void RunLongGate(DeviceContext& ctx, const Claim& claim, const LongGate& gate, std::uint16_t gateCount) {
  const unsigned n = claim.counter;
  while (InBand(ctx, n, gate) && ctx.stopLongGate.load() == 0 && !StopRequested(ctx)) {
    const bool armed = WhileHeld(ctx, claim, [&] {
      WriteWord(ctx, offset::LoadRegister(n), gateCount);
      WriteWord(ctx, offset::LoadRegister(n + 1), 1);
      WriteWord(ctx, offset::CommandRegister(n), command::kLoadAndArm);
      WriteWord(ctx, offset::CommandRegister(n + 1), command::kLoadAndArm);
      WriteByte(ctx, offset::kCommandStrobe, command::PairMask(n));
    });
    if (!armed || !MeasurementSleep(ctx, gate.sleepMs)) break;
    std::uint16_t edges = 0;
    const bool latched = WhileHeld(ctx, claim, [&] {
      WriteByte(ctx, offset::CommandRegister(n + 1), command::kLatch);
      WriteByte(ctx, offset::kCommandStrobe, gate.latchBothBlocks ? command::PairMask(n) : command::StrobeMask(n + 1));
      edges = ReadWord(ctx, offset::HoldRegister(n + 1));
    });
    if (!latched) break;
    PublishFrequency(ctx, claim, static_cast<float>((std::uint32_t{edges} * 1000u) / gate.gateMs));
  }
}

DeviceContext& ContextOf(void* argument) { return *static_cast<DeviceContext*>(argument); }

}  // namespace

std::uint32_t LongGate1sThread(void* argument) {
  DeviceContext& ctx = ContextOf(argument);
  const Claim claim = SlotClaim(ctx.longGate1sThread);
  RunLongGate(ctx, claim, kLongGate1s, kLongGate1sCount);
  ctx.longGate1sEnded.store(1);
  ReleaseMeasurementGenerator(ctx, claim, &ctx.longGate1sThread);
  ctx.longGate1sThread.done.store(1);
  return 0;
}

std::uint32_t LongGate2sThread(void* argument) {
  DeviceContext& ctx = ContextOf(argument);
  const Claim claim = SlotClaim(ctx.longGate2sThread);
  RunLongGate(ctx, claim, kLongGate2s, ctx.gateCount.load());
  ctx.longGate2sEnded.store(1);
  ReleaseMeasurementGenerator(ctx, claim, &ctx.longGate2sThread);
  ctx.longGate2sThread.done.store(1);
  return 0;
}

std::uint32_t LowFreqThread(void* argument) {
  DeviceContext& ctx = ContextOf(argument);
  const Claim claim = SlotClaim(ctx.lowFreqThread);
  PhasePass(ctx, claim, 1);
  // A pass that found the signal risen into a long gate's band has handed
  // the measurement, and the generator, over to that gate's thread.
  ReleaseMeasurementGenerator(ctx, claim, &ctx.lowFreqThread);
  ctx.lowFreqThread.done.store(1);
  return 0;
}

std::uint32_t FixedGateThread(void* argument) {
  DeviceContext& ctx = ContextOf(argument);
  const Claim claim = SlotClaim(ctx.fixedGateThread);
  const unsigned n = claim.counter;
  const std::uint16_t gateMs = ctx.measureMethod.load();
  if (gateMs != 0 && !StopRequested(ctx)) {
    const bool armed = WhileHeld(ctx, claim, [&] {
      WriteWord(ctx, offset::CommandRegister(n), command::kLoadAndArm);
      WriteWord(ctx, offset::CommandRegister(n + 1), command::kLoadAndArm);
      WriteByte(ctx, offset::kCommandStrobe, command::PairMask(n));
    });
    if (armed && MeasurementSleep(ctx, 2u * gateMs + kFixedGateSettleMs)) {
      std::uint16_t edges = 0;
      const bool latched = WhileHeld(ctx, claim, [&] {
        WriteByte(ctx, offset::CommandRegister(n + 1), command::kLatch);
        WriteByte(ctx, offset::kCommandStrobe, command::PairMask(n));
        edges = ReadWord(ctx, offset::HoldRegister(n + 1));
      });
      // The edge counter counts from one: its count is the number of edges
      // in the gate. A saturated count is only a lower bound.
      if (latched) {
        const double hertz = edges * 1000.0 / gateMs;
        PublishFrequency(ctx, claim, static_cast<float>(hertz), edges == kFullCount);
      }
    }
  }
  ReleaseMeasurementGenerator(ctx, claim, &ctx.fixedGateThread);
  return 0;
}

void ReleaseMeasurementGenerator(DeviceContext& ctx, const Claim& claim, const WorkerSlot* self) {
  const unsigned n = claim.counter;
  DeviceLock lock(ctx.lock);
  // After a reset the generator is the reset's to stop.
  if (!ClaimHoldsLocked(ctx, claim) || ctx.generatorState[n].load() != GeneratorState::kGate) return;
  for (const WorkerSlot* slot : {&ctx.longGate1sThread, &ctx.longGate2sThread}) {
    if (slot != self && WorkerRunning(*slot)) return;
  }
  StopGeneratorLocked(ctx, n);
}

}  // namespace qio::driver
