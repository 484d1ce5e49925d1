// The measurement threads of the frequency measurement. Each works on
// `measuredCounter` n and its partner n + 1, sleeps outside the device lock,
// leaves at once when a stop is requested, and sets its done flag (where it
// has one) as its last action.
#include "CounterOps.h"
#include "CounterRegisters.h"

namespace qio::driver {

using namespace counter;

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
constexpr std::uint16_t kSaturated = 0xFFFF;

bool InBand(const DeviceContext& ctx, unsigned n, const LongGate& gate) {
  const float estimate = ctx.frequencyRaw[n].load();
  return estimate >= gate.bandLow && estimate < gate.bandHigh;
}

// Counts the input's edges in the generator-timed gate, pass after pass,
// publishing each result, while the result stays in the band.
void RunLongGate(DeviceContext& ctx, unsigned n, const LongGate& gate, std::uint16_t gateCount) {
  while (InBand(ctx, n, gate) && ctx.stopLongGate.load() == 0 && !StopRequested(ctx)) {
    {
      DeviceLock lock(ctx.lock);
      WriteWord(ctx, reg::LoadRegister(n), gateCount);
      WriteWord(ctx, reg::LoadRegister(n + 1), 1);
      WriteWord(ctx, reg::CommandRegister(n), kCmdLoadAndArm);
      WriteWord(ctx, reg::CommandRegister(n + 1), kCmdLoadAndArm);
      WriteByte(ctx, reg::kCommandStrobe, PairMask(n));
    }
    if (!MeasurementSleep(ctx, gate.sleepMs)) break;
    std::uint16_t edges;
    {
      DeviceLock lock(ctx.lock);
      WriteByte(ctx, reg::CommandRegister(n + 1), kCmdLatch);
      WriteByte(ctx, reg::kCommandStrobe, gate.latchBothBlocks ? PairMask(n) : StrobeMask(n + 1));
      edges = ReadWord(ctx, reg::HoldRegister(n + 1));
    }
    PublishFrequency(ctx, n, static_cast<float>((std::uint32_t{edges} * 1000u) / gate.gateMs));
  }
}

void ReleaseGenerator(DeviceContext& ctx, unsigned n) {
  if (GeneratorHeldByMeasurement(ctx, n)) StopClockGenerator(ctx, n);
}

DeviceContext& ContextOf(void* argument) { return *static_cast<DeviceContext*>(argument); }

}  // namespace

std::uint32_t LongGate1sThread(void* argument) {
  DeviceContext& ctx = ContextOf(argument);
  const unsigned n = ctx.measuredCounter.load();
  RunLongGate(ctx, n, kLongGate1s, kLongGate1sCount);
  ctx.longGate1sEnded.store(1);
  ReleaseGenerator(ctx, n);
  ctx.longGate1sThread.done.store(1);
  return 0;
}

std::uint32_t LongGate2sThread(void* argument) {
  DeviceContext& ctx = ContextOf(argument);
  const unsigned n = ctx.measuredCounter.load();
  RunLongGate(ctx, n, kLongGate2s, ctx.gateCount.load());
  ctx.longGate2sEnded.store(1);
  ReleaseGenerator(ctx, n);
  ctx.longGate2sThread.done.store(1);
  return 0;
}

std::uint32_t LowFreqThread(void* argument) {
  DeviceContext& ctx = ContextOf(argument);
  const unsigned n = ctx.measuredCounter.load();
  PhasePass(ctx, n, 1);
  ReleaseGenerator(ctx, n);
  ctx.lowFreqThread.done.store(1);
  return 0;
}

std::uint32_t FixedGateThread(void* argument) {
  DeviceContext& ctx = ContextOf(argument);
  const unsigned n = ctx.measuredCounter.load();
  const std::uint16_t gateMs = ctx.measureMethod.load();
  if (gateMs != 0 && !StopRequested(ctx)) {
    {
      DeviceLock lock(ctx.lock);
      WriteWord(ctx, reg::CommandRegister(n), kCmdLoadAndArm);
      WriteWord(ctx, reg::CommandRegister(n + 1), kCmdLoadAndArm);
      WriteByte(ctx, reg::kCommandStrobe, PairMask(n));
    }
    if (MeasurementSleep(ctx, 2u * gateMs + kFixedGateSettleMs)) {
      std::uint16_t edges;
      {
        DeviceLock lock(ctx.lock);
        WriteByte(ctx, reg::CommandRegister(n + 1), kCmdLatch);
        WriteByte(ctx, reg::kCommandStrobe, PairMask(n));
        edges = ReadWord(ctx, reg::HoldRegister(n + 1));
      }
      // The edge counter counts from one: its count is the number of edges
      // in the gate. A saturated count is only a lower bound.
      const double hertz = edges * 1000.0 / gateMs;
      PublishFrequency(ctx, n, static_cast<float>(hertz), edges == kSaturated);
    }
  }
  ReleaseGenerator(ctx, n);
  return 0;
}

}  // namespace qio::driver
