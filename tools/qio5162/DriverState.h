// The driver's own view of a device (qio_target_driver_state) in the tool's
// words: what a counter does and with what settings, what owns a clock
// generator, what holds a counter or generator that a start was refused for,
// and how the frequency measurement chose to measure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "qio5162/target.h"

namespace qio::tool {

// Reads the driver's state of a device; throws DeviceError when the target
// cannot give it.
QioDriverState ReadDriverState(QioTarget* target, unsigned device);

// What a counter block counts: the 20 MHz base clock, a generator's output
// (from the generator word the driver wrote), or an input pin.
struct CountSource {
  double hz = 0;        // 0 for a pin
  bool generator = false;
  unsigned index = 0;   // the generator
  std::uint16_t word = 0;
  std::string Text() const;  // "5 MHz (generator 1: 10 MHz / 2)", "the 20 MHz base clock"
};
CountSource SourceOfCounter(const QioDriverState& state, unsigned counter);
// A generator word: its frequency and "10 MHz / 2".
double GeneratorWordHz(std::uint16_t word);
std::string GeneratorWordText(std::uint16_t word);

// How the driver measures the frequency on a counter, in words.
struct FrequencyMethod {
  enum class Kind { Unknown, GateEdges, MediumRange, LongGate1s, LongGate2s, PeriodBase, PeriodSlow, FixedGate };
  Kind kind = Kind::Unknown;
  std::string name;         // "period method, 20 MHz base clock", "2 ms gate", ...
  std::string description;  // one readable sentence of what the driver does
  bool background = false;  // the value comes from a measurement thread's pass
  double passSeconds = 0;   // length of that pass
  std::optional<unsigned> gateEdges;  // edges counted in the 2 ms gate (automatic ranging)
  double timebaseHz = 0;
};
FrequencyMethod DescribeFrequency(const QioDriverState& state, unsigned counter);
// Up to how long a background pass may take: the slow period method may
// wait for a phase still counting after its pass.
double LongestPass(const FrequencyMethod& method);

// The counter's function as the JSON "function" field names it: "idle",
// "event counting", "frequency", "pulse", "frequency output",
// "pwm continuous", "pwm counted", "pwm prescaler", "pwm measurement",
// "partner".
std::string FunctionName(const QioDriverState& state, unsigned counter);
// The generator's owner as the JSON "owner" field names it: "idle",
// "frequency gate", "pulse", "pwm", "frequency output", "pwm measurement".
std::string GeneratorOwnerName(unsigned owner);

// What a refused start needed: counter blocks and generators, as bit masks
// (bit n: counter or generator n).
struct Needs {
  unsigned counters = 0;
  unsigned generators = 0;
};
// The lines that name what holds the first of them that is held and the
// reset that frees it: "counter 1 is in use by event counting",
// "'reset 1' stops it; then try again". When nothing holds them any more,
// one line that says so.
std::vector<std::string> BusyHints(const QioDriverState& state, const Needs& needs);

}  // namespace qio::tool
