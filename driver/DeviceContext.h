// The per-board record of the Zqs5162s driver: both the device handle that
// XXX_Init returns and the open handle of every XXX_Open of the board.
//
// Fields that the interrupt service thread, the measurement threads and the
// request handlers share are atomics of the stated width (or have one writer),
// so the record is free of data races; `lock` serialises register sequences
// of the request handlers and nobody sleeps while holding it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "qio/platform/kernel.h"
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

// A measurement thread slot: the handle, and a flag the thread sets as its
// last action.
struct WorkerSlot {
  std::atomic<Handle> thread{platform::kNullHandle};
  std::atomic<std::uint16_t> done{0};
  std::atomic<bool> launching{false};  // a launch is between its checks and its store
};

struct DeviceContext {
  platform::CriticalSection lock;

  // ---- identity and configuration (registry) ----
  char16_t streamName[10] = {};  // "Name" of the active key, e.g. u"Q621:"
  std::uint32_t boardId = 0;
  std::uint32_t deviceIndex = 0;
  std::int32_t deviceNumber = -1;
  std::uint32_t switchId = 0;
  std::uint32_t ioBase = 0;
  std::uint32_t ioLength = 0;
  std::uint32_t irq = 0;
  std::atomic<std::int32_t> openCount{0};
  std::atomic<std::uint32_t> lastError{0};
  std::uint32_t timerClock = kDefaultTimerClock;
  // Shadow of the interrupt-control register; its low 16 bits are written.
  std::atomic<std::uint32_t> intControl{0};
  std::array<std::uint8_t, protocol::kDioPorts> portConfig{};
  std::array<std::atomic<std::uint8_t>, protocol::kDioPorts> doShadow{};

  // ---- event sources ----
  std::atomic<std::uint32_t> eventEnableMask{0};
  std::array<Handle, protocol::kEventSources> eventHandles{};
  std::array<std::atomic<std::uint32_t>, protocol::kEventSources> eventTriggerCount{};
  std::array<DiEventChannel, protocol::kDiChannels> diEventPorts{};

  // ---- counter state, first group: who owns what ----
  // What owns ClockGenerator n: 0 idle, 2 gate clock of a frequency
  // measurement, 4 pulse time base, 8 PWM time base, 0x0A frequency output;
  // 0x14 marks a PWM setting in progress, PWM measurement ORs in 0x28.
  std::array<std::atomic<std::uint16_t>, kCounters> generatorState{};
  // Which function owns counter n: 0 idle, 1 event counting, 2 frequency
  // measurement, 4 pulse output, 8 PWM output, 0x28 PWM measurement.
  std::array<std::atomic<std::int16_t>, kCounters> counterFunction{};
  // Indexed by n / 2: counter n + 1 serves as the gate counter of counter n.
  std::array<std::atomic<std::uint16_t>, kCounters> pairGateInUse{};
  // Set by the raw configuration, consumed by the next event-counting start.
  std::array<std::atomic<std::uint16_t>, kCounters> modeConfigured{};

  // ---- interrupt service ----
  std::atomic<std::uint8_t> istStop{0};
  std::uint32_t sysIntr = 0;
  // Whether this board bound sysIntr (another board on the same line may
  // hold it instead); only the board that bound a line unbinds it.
  std::atomic<bool> interruptBound{false};
  std::atomic<Handle> istThread{platform::kNullHandle};
  std::uint32_t istPriority = 0;
  Handle interruptEvent = platform::kNullHandle;
  std::array<std::atomic<std::uint8_t>, protocol::kDioPorts> diLatched{};

  // ---- counter state, second group ----
  // Terminal-count interrupts of counters 0 and 1 (16-bit, wrapping).
  std::array<std::atomic<std::uint16_t>, kCounters> terminalCountTally{};
  // 1: continuous PWM on counter n; 0: second counter of a cascade.
  std::array<std::atomic<std::uint32_t>, kCounters> pwmStandalone{};
  std::array<std::atomic<std::uint16_t>, kCounters> pwmModeWord{};

  std::array<std::atomic<std::uint32_t>, protocol::kEventSources> eventInterruptCount{};

  // ---- counter state, third group: frequency measurement ----
  std::array<std::atomic<float>, kCounters> frequencyRaw{};
  std::array<std::atomic<float>, kCounters> frequencyResult{};
  // Set with frequencyResult when a fixed gate's edge count saturated: the
  // value is only a lower bound and the read reports it as out of range.
  std::array<std::atomic<std::uint16_t>, kCounters> frequencyOverRange{};
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
  // Asks every measurement thread to leave at its next check; its sleeps
  // wait on stopEvent so that they end at once.
  std::atomic<std::uint16_t> stopWorkers{0};
  Handle stopEvent = platform::kNullHandle;

  // ---- counter state, third group: PWM ----
  std::atomic<float> pwmPhase0Us{0.0f};
  std::atomic<float> pwmPhase1Us{0.0f};
  std::array<std::atomic<std::uint32_t>, kCounters> pwmTimebase{};
};

}  // namespace qio::driver
