// Parsing of the tool's arguments: numbers (decimal or 0x hex), frequencies
// and times with unit suffixes, port and counter names, and the simulated
// signal descriptions. Every parser throws UsageError with a short reason.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qio::tool {

// A mistake in the command line (exit code 2).
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Decimal or 0x-prefixed hexadecimal, no sign, at most `max`.
std::uint64_t ParseUnsigned(std::string_view text, std::uint64_t max, std::string_view what);
std::uint32_t ParseU32(std::string_view text, std::string_view what);
std::uint16_t ParseU16(std::string_view text, std::string_view what);

// A non-negative decimal number with an optional fraction ("2.5").
double ParseReal(std::string_view text, std::string_view what);

// "1kHz", "2.5 MHz", "100Hz", "50" (hertz without a suffix).
double ParseFrequency(std::string_view text);
// "5s", "100ms", "250us", "1.5" (the default unit when there is no suffix:
// 1.0 for seconds, 0.001 for milliseconds).
double ParseDuration(std::string_view text, double defaultUnitSeconds = 1.0);

// "A", "B", "C" (any case) or 0, 1, 2.
std::uint16_t ParsePort(std::string_view text);
char PortLetter(unsigned port);  // 'A'..'C', '?' beyond
// Whether the text names a port ("A", "b", "2"), not a line.
bool IsPortName(std::string_view text);
// A bit of a port, 0 to 7.
std::uint16_t ParseBit(std::string_view text);
// Counter 0 or 1.
std::uint16_t ParseCounter(std::string_view text);

// A DIO line, named either way: port and bit ("A3", "c7") or channel 0 to 23
// ("9"), the channel being port x 8 + bit. Returns the channel.
inline constexpr unsigned kDioLines = 24;
unsigned ParseLine(std::string_view text);
std::string LineName(unsigned channel);  // 9 -> "B1"

// Direction words of `dio mode`: in, out, in/out (lines 0-3 in, 4-7 out),
// out/in (lines 0-3 out, 4-7 in); also the numeric codes 0 to 4.
std::uint16_t ParseDirection(std::string_view text);
std::string DirectionName(unsigned code);

// Clock generator sources: 20MHz (1), clk (2, the counter's input pin),
// 10MHz (3), 1MHz (4), 100kHz (5), 10kHz (6), 1kHz (7), or the code 1..7, or
// the register form 0x0100..0x0700. Returns the code 1..7.
unsigned ParseGeneratorSource(std::string_view text);
double GeneratorSourceHz(unsigned code);  // 0 for the pin and unknown codes
std::string GeneratorSourceName(unsigned code);

// --input COUNTER=FREQ[,duty=PERCENT]
struct CounterInputSpec {
  unsigned counter = 0;
  double hz = 0;
  double dutyPercent = 50;
};
CounterInputSpec ParseCounterInput(std::string_view text);

// --di PORT=LEVELS
struct DiLevelSpec {
  unsigned port = 0;
  std::uint8_t levels = 0;
};
DiLevelSpec ParseDiLevels(std::string_view text);

// --di-square LINE=FREQ (LINE as ParseLine takes it)
struct DiSquareSpec {
  unsigned channel = 0;
  double hz = 0;
};
DiSquareSpec ParseDiSquare(std::string_view text);

// --loopback FROM:TO (port A's outputs drive port B's inputs)
struct LoopbackSpec {
  unsigned from = 0;
  unsigned to = 0;
};
LoopbackSpec ParseLoopback(std::string_view text);

// Event sources of `events --enable`: a DI line (di9, diB1 or B1), tc0, tc1,
// or the event type number (0x3400..0x3417, 0x5000, 0x5001; other numbers
// pass through to the library). Options after commas: ports=B:C (the DI ports latched when the
// event fires, default A:C), every=N (trigger count, default 1).
struct EventSpec {
  std::uint16_t type = 0;
  std::uint32_t firstPort = 0;
  std::uint32_t portCount = 3;
  std::uint16_t every = 1;
};
EventSpec ParseEventSpec(std::string_view text);
std::string EventTypeName(std::uint16_t type);

std::string Lower(std::string_view text);
std::vector<std::string> Split(std::string_view text, char separator);

}  // namespace qio::tool
