// The per-board record of the Zqs5162s driver: both the device handle that
// XXX_Init returns and the open handle of every XXX_Open of the board.
//
// Fields that the interrupt service thread, the measurement threads and the
// request handlers share are atomics of the stated width (or have one writer),
// so the record is free of data races. `lock` serialises register sequences
// and every change of ownership (which function owns a counter block or a
// clock generator, which counter interrupts are enabled); nobody sleeps or
// waits while holding it, so every ownership field read under it is a
// consistent picture of the board.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "OwnershipCodes.h"
#include "qio/platform/kernel.h"
#include "qio/protocol/board_registers.h"
#include "qio/protocol/directions.h"
#include "qio/protocol/events.h"

namespace qio::driver {

using platform::Handle;

inline constexpr unsigned kCounters = 2;
inline constexpr std::uint32_t kIstPriority = 93;
inline constexpr std::uint32_t kDefaultTimerClock = 20;

// One DI event channel: which run of ports it latches when it fires.
struct DiEventChannel {
  std::atomic<std::uint16_t> startPort{0};  // 0 A, 1 B, 2 C
  std::atomic<std::uint16_t> portCount{0};  // 1 to 3
  // Byte k: port (start + k) mod 3 as latched at the latest counted interrupt.
  std::array<std::atomic<std::uint8_t>, 4> snapshot{};
};

// A measurement thread slot: the handle, a flag the thread sets as its last
// action, and the counter and claim epoch of the measurement it works for.
struct WorkerSlot {
  std::atomic<Handle> thread{platform::kNullHandle};
  std::atomic<std::uint16_t> done{0};
  std::atomic<std::uint16_t> counter{0};
  std::atomic<std::uint32_t> epoch{0};
};

// What a frequency measurement found the signal on counter n to need, as
// last decided (the codes of the state view).
enum class FrequencyStage : std::uint16_t {
  kNone = 0,
  kGateEdges = 1,    // 5 MHz and up: the edges of the 2 ms gate
  kMediumRange = 2,  // the 2 ms estimate, gate clock from generator n
  kLongGate1s = 3,
  kLongGate2s = 4,
  kPeriodBase = 5,   // both phases on the 20 MHz base clock
  kPeriodSlow = 6,   // both phases on the 100 kHz time base, in a thread
  kFixedGate = 7,
};

// The frequency measurement on counter n as the state view reports it:
// what it decided and what it counted last, and a mark of every published
// result. Written under `lock` (with the result itself).
struct FrequencyView {
  std::atomic<FrequencyStage> stage{FrequencyStage::kNone};
  std::atomic<std::uint16_t> gateMs{0};
  std::atomic<float> timebaseHz{0.0f};
  std::atomic<std::uint16_t> gateClock{0};  // generator word of the time base, 0 base clock
  std::atomic<std::uint16_t> gateEdges{0};  // the last 2 ms gate
  std::atomic<std::uint16_t> highTicks{0};  // the last phase pass
  std::atomic<std::uint16_t> lowTicks{0};
  // Publications since the record was created; never goes back.
  std::atomic<std::uint32_t> sequence{0};
  // A result was published since the measurement started (or was reset).
  std::atomic<std::uint8_t> published{0};
};

struct DeviceContext {
  platform::CriticalSection lock;

  // ---- identity and configuration: from the registry, written by XXX_Init
  // and by the first open only (while no other thread uses the board) ----
  char16_t streamName[10] = {};  // "Name" of the active key, e.g. u"Q621:"
  std::uint32_t boardId = 0;
  std::uint32_t deviceIndex = 0;
  std::int32_t deviceNumber = -1;
  std::uint32_t switchId = 0;
  std::uint32_t ioBase = 0;
  std::uint32_t ioLength = 0;
  std::uint32_t irq = 0;
  std::uint32_t timerClock = kDefaultTimerClock;
  std::array<std::uint8_t, protocol::kDioPorts> portConfig{};

  // ---- open and close: openCount and openState change together under
  // `lock`; openSettled (manual reset) is set while no first open or last
  // close is under way ----
  std::atomic<std::int32_t> openCount{0};
  std::atomic<OpenState> openState{OpenState::kClosed};
  Handle openSettled = platform::kNullHandle;

  // ---- errors: the low part of the last error the device reported ----
  std::atomic<std::uint32_t> lastError{0};

  // ---- the registers of the board's window as the driver last wrote them
  // (most are write-only, or read back something else): kept by the write
  // primitives, reported by the state view. Bit k of registersWritten: the
  // byte at offset k has been written ----
  std::array<std::atomic<std::uint8_t>, board::kWindowLength> registerCache{};
  std::atomic<std::uint64_t> registersWritten{0};

  // ---- digital I/O: last value written to ports A, B, C ----
  std::array<std::atomic<std::uint8_t>, protocol::kDioPorts> doShadow{};

  // ---- event sources 0-25 (DI channels, terminal counts of counters 0, 1).
  // intControl holds the interrupt-control bits of the enabled sources; the
  // interrupt-enable register is always written as intControl OR
  // counterIntEnable, under `lock`, by WriteInterruptEnableLocked ----
  std::atomic<std::uint32_t> intControl{0};
  std::atomic<std::uint32_t> eventEnableMask{0};
  std::array<Handle, protocol::kEventSources> eventHandles{};
  std::array<std::atomic<std::uint32_t>, protocol::kEventSources> eventTriggerCount{};
  std::array<std::atomic<std::uint32_t>, protocol::kEventSources> eventInterruptCount{};
  std::array<DiEventChannel, protocol::kDiChannels> diEventPorts{};

  // ---- interrupt service: the binding of the board's line, the thread that
  // services it, and the DI ports it latched last ----
  std::atomic<std::uint8_t> istStop{0};
  std::uint32_t sysIntr = 0;
  // True while this board holds the binding of sysIntr: only then does the
  // stop release it (another board may share the line).
  std::atomic<bool> interruptBound{false};
  std::atomic<Handle> istThread{platform::kNullHandle};
  std::uint32_t istPriority = 0;
  Handle interruptEvent = platform::kNullHandle;
  std::array<std::atomic<std::uint8_t>, protocol::kDioPorts> diLatched{};

  // ---- counter engine, per counter n: ownership, changed under `lock` ----
  std::array<std::atomic<CounterFunction>, kCounters> counterFunction{};
  std::array<std::atomic<GeneratorState>, kCounters> generatorState{};
  // Indexed by the measuring counter n: block n + 1 serves as the partner
  // (gate, edge or phase counter) of a frequency measurement on counter n.
  std::array<std::atomic<std::uint16_t>, kCounters> pairGateInUse{};
  // Moved on by every reset that ends counter n's function: a start or a
  // measurement pass that began before it may no longer touch the board.
  std::array<std::atomic<std::uint32_t>, kCounters> claimEpoch{};
  // Resets of counter n under way (between their first and last lock, while
  // they wait for the measurement threads to leave): no function may take
  // block n in that window, or the reset's end would leave it marked idle
  // with the function still running.
  std::array<std::atomic<std::uint32_t>, kCounters> resetsUnderWay{};
  // Terminal-count interrupt bits that the engine's running functions need
  // in the interrupt-enable register: bit n for event counting on counter n,
  // bit 0 for the prescaler of a counted PWM. Removed only by that counter's
  // reset or the end of its counted run.
  std::atomic<std::uint32_t> counterIntEnable{0};

  // ---- counter engine, per counter n: what is loaded and counted ----
  // Set by the raw configuration, consumed by the next event-counting start;
  // forgotten when another function programs the block.
  std::array<std::atomic<std::uint16_t>, kCounters> modeConfigured{};
  // Terminal-count interrupts of counters 0 and 1 (16-bit, wrapping).
  std::array<std::atomic<std::uint16_t>, kCounters> terminalCountTally{};
  // Odd while the interrupt service thread is between its read of the status
  // and the tally of the terminal counts it found there (the status bit is
  // already cleared, the tally not yet raised); it moves on by two per service.
  std::atomic<std::uint32_t> tallyService{0};
  // The PWM setting of counter n. pwmConfigured: a good setting is loaded
  // (counts in block n, and in block n - 1 for a cascade, and its time bases
  // running); cleared when another function reprograms a block it uses or a
  // reset stops its generator. pwmStandalone: 1 continuous, 0 the second
  // counter of a cascade; meaningful only while configured. pwmModeWord:
  // the mode the enable writes (for the prescaler block p, its mode).
  std::array<std::atomic<std::uint8_t>, kCounters> pwmConfigured{};
  std::array<std::atomic<std::uint32_t>, kCounters> pwmStandalone{};
  std::array<std::atomic<std::uint16_t>, kCounters> pwmModeWord{};
  // The periods of a counted setting (0 continuous).
  std::array<std::atomic<std::uint32_t>, kCounters> pwmPulses{};

  // ---- frequency measurement: published result and the measurement's state ----
  std::array<std::atomic<float>, kCounters> frequencyRaw{};
  std::array<std::atomic<float>, kCounters> frequencyResult{};
  // Set with frequencyResult when a fixed gate's edge count saturated: the
  // value is only a lower bound and the read reports it as out of range.
  std::array<std::atomic<std::uint16_t>, kCounters> frequencyOverRange{};
  std::array<FrequencyView, kCounters> frequencyView{};
  std::atomic<float> lowFreqTimebase{0.0f};
  std::atomic<std::uint16_t> lowFreqRestarts{0};
  std::atomic<std::uint16_t> gateCount{0};
  std::atomic<std::uint16_t> gateMs{0};
  WorkerSlot longGate1sThread;
  WorkerSlot longGate2sThread;
  WorkerSlot lowFreqThread;
  WorkerSlot fixedGateThread;  // its state is taken from its exit code
  std::atomic<std::uint16_t> longGate1sEnded{0};
  std::atomic<std::uint16_t> longGate2sEnded{0};
  std::atomic<std::uint16_t> measureMethod{0};
  std::atomic<std::uint16_t> stopAutoRange{0};
  std::atomic<std::uint16_t> stopLongGate{0};
  std::atomic<std::uint32_t> rangeDecisions{0};
  std::atomic<std::uint16_t> measuredCounter{0};
  // claimEpoch + 1 of the measurement whose pass runs on a request thread
  // now (0: none): only one pass at a time programs the pair.
  std::array<std::atomic<std::uint32_t>, kCounters> passEpoch{};
  // Asks every measurement thread to leave at its next check; its sleeps
  // wait on stopEvent so that they end at once.
  std::atomic<std::uint16_t> stopWorkers{0};
  Handle stopEvent = platform::kNullHandle;

  // ---- PWM measurement: the last phases measured and their time base ----
  std::atomic<float> pwmPhase0Us{0.0f};
  std::atomic<float> pwmPhase1Us{0.0f};
  std::array<std::atomic<std::uint32_t>, kCounters> pwmTimebase{};
};

}  // namespace qio::driver
