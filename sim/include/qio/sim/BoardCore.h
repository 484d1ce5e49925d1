// The QIO-5162 board model with time as an explicit argument: registers,
// counter blocks, clock generators, DIO ports and interrupt status, computed
// in closed form from the instant of each call. It never ticks and never
// reads a clock; Board (Board.h) feeds it the platform clock, runs its timer
// and raises its interrupt requests.
//
// Every call takes the present time in nanoseconds; times must not go back
// (an earlier time is taken as the latest one seen). Not thread-safe: one
// caller at a time.
//
// How the model reads the data sheet where it leaves room:
// - A block armed at t counts the source edges after t; the base clock's
//   tick 0 is t itself, so a block counts base ticks 1, 2, ... A source edge
//   counts when the block's gate is high at that edge, and a gate edge at the
//   same instant as a source edge takes effect first.
// - A pulse output (OUT codes other than 0, 2 and 6) is high from the edge
//   that reached the terminal count to the block's next qualifying edge.
// - Up counting ignores ALT; with REP it goes on from 0 after each wrap.
// - A clock generator restarts at phase zero (a rising edge) whenever a
//   write changes its word and leaves it enabled. Sourced from CLKn, it
//   divides CLKn's period when CLKn is periodic with one rising edge per
//   period, and its phase is not locked to CLKn's edges.
// - The DIO lines power up as inputs; a loopback follows the output latch
//   of the other port's output lines and reads low on its input lines.
//
// Where the model knowingly simplifies:
// - A wiring loop (say OUT1 to CLK0 while block 1 counts OUT0) is cut where
//   it is first met: that signal holds its level until the next event.
// - A block gated by the output of a block that is itself gated by a
//   periodic level (cascades of three, set up by raw register writes) is
//   counted gate window by gate window: exact, but its cost grows with the
//   number of windows walked.
// - Output() reports a waveform only where the closed form knows it to be
//   periodic; the output of a periodically gated block reads as 0, 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace qio::sim {

// A square wave given exactly: period and high time in picoseconds, as
// fractions over one denominator (1 <= highNum < periodNum).
struct ClockWave {
  std::int64_t periodNum = 0;
  std::int64_t highNum = 0;
  std::int64_t den = 1;
};

// A wave of `hz` (0.01 Hz to 100 MHz) with `dutyPercent` high (1 to 99).
// The period is the exact fraction for any frequency given to the
// micro-hertz; empty for values out of range.
std::optional<ClockWave> WaveFromFrequency(double hz, double dutyPercent);

// What CLKn can be wired to.
enum class ClockWire : std::uint8_t { kOut0 = 0, kOut1 = 1, kFreqOut0 = 2, kFreqOut1 = 3 };

struct PortAccess {
  std::uint64_t timeNs = 0;
  std::uint16_t offset = 0;
  std::uint8_t width = 0;
  bool isWrite = false;
  std::uint32_t value = 0;
};

// A periodic output: frequency and high time per period; both 0 when the
// output is not periodic.
struct OutputWave {
  double hz = 0;
  double highSeconds = 0;
};

// The pins whose changes the board can list: the six counter and generator
// pins (value 0 or 1) and the three DIO ports (the 8 pin levels as a value).
enum class Pin : std::uint8_t { kClk0, kClk1, kOut0, kOut1, kFreqOut0, kFreqOut1, kPortA, kPortB, kPortC };
inline constexpr unsigned kPinCount = 9;

struct PinChange {
  std::uint64_t timeNs = 0;
  std::uint32_t value = 0;
};

// The changes of one pin in a span (fromNs, toNs], oldest first. Changes that
// fall on the same nanosecond are merged into the last value.
struct PinListing {
  bool known = false;              // false: the span begins before knownFromNs
  std::uint64_t knownFromNs = 0;   // the earliest instant the board can list from
  std::uint32_t valueAtFrom = 0;   // the value at fromNs
  std::vector<PinChange> changes;  // at most maxChanges
  // Changes left out: beyond maxChanges, or beyond the history's cap (then
  // nothing after firstNotListedNs is listed). For a port, line edges.
  std::uint64_t notListed = 0;
  std::uint64_t firstNotListedNs = UINT64_MAX;
};

// Where a counter's terminal counts stand: whether its block counts (armed
// and not run to its final terminal count) and when the next terminal count
// that raises the interrupt status falls due, as things stand.
struct TerminalCountOutlook {
  bool counting = false;
  std::optional<std::uint64_t> nextNs;
};

class BoardCore {
 public:
  explicit BoardCore(std::uint64_t powerUpNs = 0);
  ~BoardCore();
  BoardCore(const BoardCore&) = delete;
  BoardCore& operator=(const BoardCore&) = delete;

  // ---- the register window (offsets below 0x40, width 1, 2 or 4) ----------
  std::uint32_t Read(std::uint16_t offset, unsigned width, std::uint64_t tNs);
  void Write(std::uint16_t offset, unsigned width, std::uint32_t value, std::uint64_t tNs);

  // ---- interrupt requests --------------------------------------------------
  // Sets every status bit whose condition arose by t.
  void Advance(std::uint64_t tNs);
  // Number of status bits that went from clear to set since the last call:
  // one interrupt request each.
  unsigned TakeInterruptRequests();
  // The next instant at which a status bit that is clear and enabled will be
  // set, if any (as things stand now).
  std::optional<std::uint64_t> NextInterruptTime() const;

  // ---- stimulus (false: bad argument, nothing changed) ---------------------
  bool SetCounterWave(unsigned counter, const ClockWave& wave, double phase, std::uint64_t tNs);
  // hz 0 holds the pin low.
  bool SetCounterInput(unsigned counter, double hz, double dutyPercent, double phase, std::uint64_t tNs);
  bool SetCounterLevel(unsigned counter, bool level, std::uint64_t tNs);
  bool WireCounterInput(unsigned counter, ClockWire source, std::uint64_t tNs);
  bool SetDiLevels(unsigned port, std::uint8_t levels, std::uint64_t tNs);
  // A 50 % square wave on one DI line; hz 0 stops it, the line keeps its level.
  bool SetDiSquare(unsigned channel, double hz, std::uint64_t tNs);
  // Port toPort's lines follow port fromPort's output latch; fromPort -1
  // removes the wiring (the lines then read low).
  bool SetLoopback(int fromPort, unsigned toPort, std::uint64_t tNs);

  // ---- observation ----------------------------------------------------------
  std::uint8_t Pins(unsigned port, std::uint64_t tNs) const;
  OutputWave Output(unsigned block, std::uint64_t tNs) const;
  bool OutputLevel(unsigned block, std::uint64_t tNs) const;
  double FreqOut(unsigned generator) const;
  bool FreqOutLevel(unsigned generator, std::uint64_t tNs) const;
  // The live count of a block, without latching it.
  std::uint16_t CountNow(unsigned block, std::uint64_t tNs) const;
  // Rising edges of a block's output and terminal counts since power-up.
  std::uint64_t OutputRises(unsigned block, std::uint64_t tNs) const;
  std::uint64_t TerminalCounts(unsigned block, std::uint64_t tNs) const;
  std::uint16_t InterruptEnable() const;

  // ---- register trace --------------------------------------------------------
  static constexpr std::size_t kTraceCapacity = std::size_t{1} << 20;  // oldest dropped beyond
  void SetTraceEnabled(bool on);
  bool TraceEnabled() const;
  // Returns and removes up to maxEntries of the oldest recorded accesses.
  std::vector<PortAccess> TakeTrace(std::size_t maxEntries = SIZE_MAX);

  // ---- pin changes (board_pins.cpp) -------------------------------------------
  // The present configuration's changes are computed in closed form on
  // demand. With a history started, the board also keeps the changes of
  // every configuration from tNs on, at most maxChangesPerPin per pin (the
  // rest are only counted), so that spans back to tNs can be listed.
  void StartPinHistory(std::size_t maxChangesPerPin, std::uint64_t tNs);
  void StopPinHistory();
  PinListing ListPinChanges(Pin pin, std::uint64_t fromNs, std::uint64_t toNs, std::size_t maxChanges) const;
  TerminalCountOutlook TerminalCountAhead(unsigned counter, std::uint64_t tNs) const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace qio::sim
