// The board's state as the view reports it. The ownership fields change only
// under the device lock, and so do the published frequency results and the
// registers; taking them all under the lock gives one picture in which, for
// example, a generator owned by a pulse output belongs to a counter that runs
// one. The interrupt service thread counts interrupts without the lock: those
// counts are each read whole, as of some instant during the read.
#include "StateView.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "../BoardRegisters.h"
#include "../counter/CounterOps.h"
#include "../counter/Ownership.h"
#include "qio/platform/kernel.h"
#include "qio/protocol/events.h"
#include "qio5162/driver_state.h"

namespace qio::driver {

namespace {

// The view's codes are the bookkeeping's own.
template <typename E>
constexpr unsigned Code(E value) {
  return static_cast<unsigned>(static_cast<std::uint16_t>(value));
}
static_assert(Code(CounterFunction::kIdle) == QIO_FUNCTION_IDLE);
static_assert(Code(CounterFunction::kEventCount) == QIO_FUNCTION_EVENT_COUNT);
static_assert(Code(CounterFunction::kFrequency) == QIO_FUNCTION_FREQUENCY);
static_assert(Code(CounterFunction::kPulse) == QIO_FUNCTION_PULSE);
static_assert(Code(CounterFunction::kPwm) == QIO_FUNCTION_PWM);
static_assert(Code(CounterFunction::kPwmMeasure) == QIO_FUNCTION_PWM_MEASURE);
static_assert(Code(GeneratorState::kIdle) == QIO_GENERATOR_IDLE);
static_assert(Code(GeneratorState::kGate) == QIO_GENERATOR_GATE);
static_assert(Code(GeneratorState::kPulse) == QIO_GENERATOR_PULSE);
static_assert(Code(GeneratorState::kPwm) == QIO_GENERATOR_PWM);
static_assert(Code(GeneratorState::kFreqOut) == QIO_GENERATOR_FREQOUT);
static_assert(Code(GeneratorState::kPwmMeasure) == QIO_GENERATOR_PWM_MEASURE);
static_assert(Code(FrequencyStage::kNone) == QIO_FREQ_NONE);
static_assert(Code(FrequencyStage::kGateEdges) == QIO_FREQ_GATE_EDGES);
static_assert(Code(FrequencyStage::kMediumRange) == QIO_FREQ_MEDIUM);
static_assert(Code(FrequencyStage::kLongGate1s) == QIO_FREQ_LONG_GATE_1S);
static_assert(Code(FrequencyStage::kLongGate2s) == QIO_FREQ_LONG_GATE_2S);
static_assert(Code(FrequencyStage::kPeriodBase) == QIO_FREQ_PERIOD_BASE);
static_assert(Code(FrequencyStage::kPeriodSlow) == QIO_FREQ_PERIOD_SLOW);
static_assert(Code(FrequencyStage::kFixedGate) == QIO_FREQ_FIXED_GATE);
static_assert(Code(OpenState::kClosed) == QIO_OPEN_CLOSED && Code(OpenState::kOpening) == QIO_OPEN_OPENING &&
              Code(OpenState::kOpen) == QIO_OPEN_OPEN && Code(OpenState::kClosing) == QIO_OPEN_CLOSING);
static_assert(QIO_STATE_COUNTERS == kCounters && QIO_STATE_EVENT_SOURCES == protocol::kEventSources &&
              QIO_STATE_PORTS == protocol::kDioPorts);

// The record up to and including its version field: the least a caller
// must let the driver write.
constexpr std::size_t kHeaderSize = offsetof(QioDriverState, version) + sizeof(QioDriverState::version);
// How long a read waits for a first open to finish applying the settings.
constexpr std::uint32_t kSettleWaitMs = 500;

template <typename T>
std::uint16_t U16(T value) {
  return static_cast<std::uint16_t>(value);
}

bool ByteWritten(const DeviceContext& ctx, std::uint32_t offset) {
  return (ctx.registersWritten.load() >> offset) & 1u;
}

// A measurement pass is under way for counter n: one of its threads runs, or
// a request thread is in a pass of its claim.
bool PassRunningLocked(const DeviceContext& ctx, unsigned n) {
  for (const WorkerSlot* slot : {&ctx.longGate1sThread, &ctx.longGate2sThread, &ctx.lowFreqThread,
                                 &ctx.fixedGateThread}) {
    if (slot->counter.load() == n && WorkerRunning(*slot)) return true;
  }
  return ctx.passEpoch[n].load() != 0 && ctx.passEpoch[n].load() == ctx.claimEpoch[n].load() + 1;
}

std::uint16_t CounterFlagsLocked(const DeviceContext& ctx, unsigned n) {
  std::uint16_t flags = 0;
  if (ctx.pairGateInUse[n].load() != 0) flags |= QIO_COUNTER_HAS_PARTNER;
  if (n >= 1 && ctx.pairGateInUse[n - 1].load() != 0) flags |= QIO_COUNTER_IS_PARTNER;
  if (ctx.pwmConfigured[n].load() != 0) {
    flags |= QIO_COUNTER_PWM_LOADED;
    if (ctx.pwmStandalone[n].load() == 0) flags |= QIO_COUNTER_PWM_COUNTED;
  }
  if (n + 1 < kCounters && CascadeLoaded(ctx, n + 1)) flags |= QIO_COUNTER_PRESCALER;
  if (ctx.modeConfigured[n].load() != 0) flags |= QIO_COUNTER_RAW_CONFIG;
  if ((ctx.counterIntEnable.load() & interrupt::TerminalCount(n)) != 0) flags |= QIO_COUNTER_INTERRUPT;
  return flags;
}

void FillFrequencyLocked(const DeviceContext& ctx, unsigned n, QioFrequencyState& out) {
  const FrequencyView& view = ctx.frequencyView[n];
  const FrequencyStage stage = view.stage.load();
  out.method = stage == FrequencyStage::kNone ? 0 : ctx.measureMethod.load();
  out.stage = static_cast<std::uint16_t>(stage);
  out.flags = 0;
  if (view.published.load() != 0) out.flags |= QIO_FREQ_PUBLISHED;
  if (ctx.frequencyOverRange[n].load() != 0) out.flags |= QIO_FREQ_OVER_RANGE;
  if (PassRunningLocked(ctx, n)) out.flags |= QIO_FREQ_PASS_RUNNING;
  out.gateMs = view.gateMs.load();
  out.gateEdges = view.gateEdges.load();
  out.highTicks = view.highTicks.load();
  out.lowTicks = view.lowTicks.load();
  out.gateClock = view.gateClock.load();
  out.timebaseHz = view.timebaseHz.load();
  out.hz = ctx.frequencyResult[n].load();
  out.sequence = view.sequence.load();
}

void FillCounterLocked(const DeviceContext& ctx, unsigned n, QioCounterState& out) {
  out.function = U16(ctx.counterFunction[n].load());
  out.flags = CounterFlagsLocked(ctx, n);
  out.mode = WrittenWord(ctx, offset::ModeRegister(n));
  out.load = WrittenWord(ctx, offset::LoadRegister(n));
  out.hold = WrittenWord(ctx, offset::HoldRegister(n));
  out.tally = ctx.terminalCountTally[n].load();
  out.pwmPulses = ctx.pwmConfigured[n].load() != 0 ? ctx.pwmPulses[n].load() : 0;
  FillFrequencyLocked(ctx, n, out.frequency);
}

void FillEventsLocked(const DeviceContext& ctx, QioDriverState& out) {
  out.eventEnableMask = ctx.eventEnableMask.load();
  for (unsigned source = 0; source < protocol::kEventSources; ++source) {
    QioEventSourceState& event = out.events[source];
    event.triggerCount = ctx.eventTriggerCount[source].load();
    event.interruptCount = ctx.eventInterruptCount[source].load();
    if (source < protocol::kDiChannels) {
      const DiEventChannel& channel = ctx.diEventPorts[source];
      event.startPort = channel.startPort.load();
      event.portCount = channel.portCount.load();
      for (std::size_t k = 0; k < channel.snapshot.size(); ++k) event.snapshot[k] = channel.snapshot[k].load();
    }
  }
}

void FillPortsLocked(const DeviceContext& ctx, QioDriverState& out) {
  if (ByteWritten(ctx, offset::kDirectionControl)) out.flags |= QIO_STATE_DIRECTIONS;
  out.directionControl = ctx.registerCache[offset::kDirectionControl].load();
  for (unsigned p = 0; p < protocol::kDioPorts; ++p) {
    if (ByteWritten(ctx, offset::PortData(p))) out.outputsWritten = static_cast<std::uint8_t>(out.outputsWritten | (1u << p));
    out.outputLatch[p] = ctx.registerCache[offset::PortData(p)].load();
    out.outputRecord[p] = ctx.doShadow[p].load();
    out.diLatched[p] = ctx.diLatched[p].load();
  }
}

// The identity and configuration fields: written by XXX_Init and by a first
// open, which does so outside the lock while the state is kOpening.
void FillConfigurationLocked(const DeviceContext& ctx, QioDriverState& out) {
  out.flags |= QIO_STATE_CONFIGURED;
  out.ioBase = ctx.ioBase;
  out.ioLength = ctx.ioLength;
  out.irq = ctx.irq;
  for (std::size_t i = 0; i < ctx.portConfig.size(); ++i) out.portConfig[i] = ctx.portConfig[i];
}

void FillLocked(const DeviceContext& ctx, QioDriverState& out) {
  const OpenState openState = ctx.openState.load();
  out.deviceNumber = ctx.deviceNumber;
  for (std::size_t i = 0; i < std::size(ctx.streamName) && i + 1 < sizeof out.streamName; ++i) {
    const char16_t c = ctx.streamName[i];
    out.streamName[i] = c < 0x80 ? static_cast<char>(c) : '?';
  }
  if (openState != OpenState::kOpening) FillConfigurationLocked(ctx, out);
  out.openCount = ctx.openCount.load();
  out.openState = static_cast<std::uint8_t>(openState);
  if (ctx.istThread.load() != platform::kNullHandle) out.interruptService |= QIO_INTERRUPT_THREAD;
  if (ctx.interruptBound.load()) out.interruptService |= QIO_INTERRUPT_BOUND;
  out.interruptEnable = WrittenWord(ctx, offset::kInterruptControl);
  out.eventInterrupts = U16(ctx.intControl.load());
  out.counterInterrupts = U16(ctx.counterIntEnable.load());
  out.lastError = ctx.lastError.load();
  FillPortsLocked(ctx, out);
  FillEventsLocked(ctx, out);
  for (unsigned n = 0; n < kCounters; ++n) {
    FillCounterLocked(ctx, n, out.counters[n]);
    out.generators[n].owner = U16(ctx.generatorState[n].load());
    out.generators[n].word = WrittenWord(ctx, offset::ClockGenerator(n));
  }
  out.pwmHighUs = ctx.pwmPhase0Us.load();
  out.pwmLowUs = ctx.pwmPhase1Us.load();
  out.pwmTimebaseHz = ctx.pwmTimebase[0].load();
}

}  // namespace

bool ReadDriverState(DeviceContext& ctx, void* record, std::size_t capacity) {
  if (record == nullptr || capacity < kHeaderSize) return false;
  // A first open that is applying the settings is let finish (outside the lock).
  if (ctx.openSettled != platform::kNullHandle) platform::WaitForSingleObject(ctx.openSettled, kSettleWaitMs);

  QioDriverState full{};
  {
    std::scoped_lock guard(ctx.lock);
    FillLocked(ctx, full);
  }
  const std::size_t written = std::min(capacity, sizeof full);
  full.size = static_cast<std::uint32_t>(written);
  full.version = QIO_DRIVER_STATE_VERSION;
  std::memcpy(record, &full, written);
  return true;
}

}  // namespace qio::driver
