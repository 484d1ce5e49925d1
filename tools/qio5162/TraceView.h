// What the board's register trace shows about the driver's choices. The tool
// sees only the library's results and the board's observable state; the
// mode words and generator words that the driver writes tell which
// measurement method or time base it picked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "qio/protocol/board_registers.h"
#include "qio5162/target.h"

namespace qio::tool {

// Board registers, offsets from the I/O base, under the names the tool uses;
// the map itself is the board's one register header.
namespace reg {
namespace offset = board::offset;
constexpr std::uint16_t Mode(unsigned block) { return offset::ModeRegister(block); }
constexpr std::uint16_t Load(unsigned block) { return offset::LoadRegister(block); }
constexpr std::uint16_t Hold(unsigned block) { return offset::HoldRegister(block); }
constexpr std::uint16_t Command(unsigned block) { return offset::CommandRegister(block); }
constexpr std::uint16_t kStrobe = offset::kCommandStrobe;
constexpr std::uint16_t kInterruptEnable = offset::kInterruptControl;
constexpr std::uint16_t kDirection = offset::kDirectionControl;
constexpr std::uint16_t PortData(unsigned port) { return offset::PortData(port); }
constexpr std::uint16_t Generator(unsigned n) { return offset::ClockGenerator(n); }
constexpr std::uint16_t kWindow = board::kWindowLength;

constexpr std::uint8_t kCommandArm = board::command::kLoadAndArm;
constexpr std::uint8_t kCommandLatch = board::command::kLatch;

constexpr std::uint32_t kGeneratorEnable = board::generator::kEnable;
constexpr unsigned GeneratorSource(std::uint32_t word) { return board::generator::SourceOf(word); }
constexpr unsigned GeneratorDivisor(std::uint32_t word) { return board::generator::DivisorOf(word); }

// Mode words of the PWM measurement.
constexpr std::uint32_t kModePhaseBase = board::mode::kHighPhaseUp;
constexpr std::uint32_t kModePhaseGenerator = board::mode::kHighPhaseUp | board::mode::GeneratorSource(0);
}  // namespace reg

// Switches the trace on for its lifetime and gathers what the board records.
class TraceRecorder {
 public:
  explicit TraceRecorder(QioSimBoard* board);
  ~TraceRecorder();
  TraceRecorder(const TraceRecorder&) = delete;
  TraceRecorder& operator=(const TraceRecorder&) = delete;

  // Drains the board's trace into All(); returns how many entries were new.
  std::size_t Collect();
  const std::vector<QioPortAccess>& All() const { return entries_; }
  // Forgets what was gathered (and drains the board first).
  void Clear();
  // Polls until `predicate` holds for an entry gathered after `fromIndex`,
  // or `timeoutMs` passes; `onTick` (may be null) runs every poll with the
  // seconds waited. Returns the index of the entry, or -1.
  template <typename Predicate, typename Tick>
  long WaitFor(std::size_t fromIndex, std::uint32_t timeoutMs, Predicate predicate, Tick onTick);

 private:
  // Sleeps one poll interval; false after Ctrl-C.
  static bool PollOnce();
  static std::uint64_t NowMs();
  QioSimBoard* board_;
  std::vector<QioPortAccess> entries_;
};

// Writes of one register in a trace slice, oldest first.
std::vector<QioPortAccess> WritesTo(const std::vector<QioPortAccess>& trace, std::uint16_t offset,
                                    std::size_t from = 0);
std::optional<QioPortAccess> LastWrite(const std::vector<QioPortAccess>& trace, std::uint16_t offset,
                                       std::size_t from = 0);
// Index of the first read of `offset` at or after `from`, or -1.
long FirstRead(const std::vector<QioPortAccess>& trace, std::uint16_t offset, std::size_t from);

// The time base of a pulse or PWM output on counter n: the generator word
// the driver wrote, or the base clock.
struct OutputTimebase {
  bool generator = false;
  unsigned source = 0;
  unsigned divisor = 1;
  double hz = board::kBaseClockHz;
  std::optional<std::uint32_t> load;  // last LoadRegister value
  std::optional<std::uint32_t> hold;  // last HoldRegister value
  std::string Describe() const;
};
OutputTimebase InferOutputTimebase(const std::vector<QioPortAccess>& trace, unsigned counter);

// The time base of the phase measurement of PWMStartRead: mode 0xA048 on
// block 0 times the phases on the base clock, 0xA448 on generator 0.
OutputTimebase InferPhaseTimebase(const std::vector<QioPortAccess>& trace);

// The window of a counted PWM: counter 0 as prescaler runs one load count
// and then its hold register's counts with its output high; counter 1 runs
// only inside that high window.
struct PrescalerWindow {
  unsigned counts = 0;      // the hold register: the window's length in counts
  double timebaseHz = board::kBaseClockHz;  // generator 0 or the base clock
  double seconds = 0;
};
PrescalerWindow InferPrescalerWindow(const std::vector<QioPortAccess>& trace);

// Instants of the arming strobe and of the last latch strobe of a counter
// (platform clock, ns); 0 when not found.
struct CountWindow {
  std::uint64_t armNs = 0;
  std::uint64_t latchNs = 0;
};
CountWindow InferCountWindow(const std::vector<QioPortAccess>& trace, unsigned counter);

// ---- template implementation ---------------------------------------------

template <typename Predicate, typename Tick>
long TraceRecorder::WaitFor(std::size_t fromIndex, std::uint32_t timeoutMs, Predicate predicate, Tick onTick) {
  const std::uint64_t start = NowMs();
  std::size_t checked = fromIndex;
  while (true) {
    Collect();
    for (; checked < entries_.size(); ++checked) {
      if (predicate(entries_[checked])) return static_cast<long>(checked);
    }
    const std::uint64_t waited = NowMs() - start;
    if (waited >= timeoutMs) return -1;
    onTick(static_cast<double>(waited) / 1000.0);
    if (!PollOnce()) return -1;
  }
}

}  // namespace qio::tool
