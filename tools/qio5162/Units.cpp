#include "Units.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace qio::tool {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

[[noreturn]] void Bad(std::string_view what, std::string_view text, std::string_view expected) {
  throw UsageError(std::string(what) + " '" + std::string(text) + "': expected " + std::string(expected));
}

// Splits "12.5kHz" into the number and the (lower-case) suffix.
std::pair<std::string_view, std::string> NumberAndSuffix(std::string_view text) {
  std::size_t end = 0;
  while (end < text.size() && ((text[end] >= '0' && text[end] <= '9') || text[end] == '.' || text[end] == 'e' ||
                               text[end] == 'E')) {
    // an 'e' only counts as an exponent when a digit or sign follows it
    if ((text[end] == 'e' || text[end] == 'E') &&
        !(end + 1 < text.size() && ((text[end + 1] >= '0' && text[end + 1] <= '9') || text[end + 1] == '-' ||
                                    text[end + 1] == '+'))) {
      break;
    }
    if ((text[end] == 'e' || text[end] == 'E') && end + 1 < text.size() &&
        (text[end + 1] == '-' || text[end + 1] == '+')) {
      ++end;
    }
    ++end;
  }
  return {text.substr(0, end), Lower(Trim(text.substr(end)))};
}

}  // namespace

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t at = text.find(separator, start);
    parts.emplace_back(Trim(text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start)));
    if (at == std::string_view::npos) break;
    start = at + 1;
  }
  return parts;
}

std::uint64_t ParseUnsigned(std::string_view text, std::uint64_t max, std::string_view what) {
  const std::string_view t = Trim(text);
  int base = 10;
  std::string_view digits = t;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
    digits.remove_prefix(2);
  }
  std::uint64_t value = 0;
  const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (digits.empty() || ec != std::errc() || ptr != digits.data() + digits.size()) {
    Bad(what, text, "a decimal or 0x hexadecimal number");
  }
  if (value > max) {
    char limit[64];
    std::snprintf(limit, sizeof limit, "at most %llu (0x%llX)", static_cast<unsigned long long>(max),
                  static_cast<unsigned long long>(max));
    Bad(what, text, limit);
  }
  return value;
}

std::uint32_t ParseU32(std::string_view text, std::string_view what) {
  return static_cast<std::uint32_t>(ParseUnsigned(text, 0xFFFFFFFFu, what));
}

std::uint16_t ParseU16(std::string_view text, std::string_view what) {
  return static_cast<std::uint16_t>(ParseUnsigned(text, 0xFFFFu, what));
}

double ParseReal(std::string_view text, std::string_view what) {
  const std::string_view t = Trim(text);
  double value = 0;
  const auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  if (t.empty() || ec != std::errc() || ptr != t.data() + t.size() || !std::isfinite(value) || value < 0) {
    Bad(what, text, "a non-negative number");
  }
  return value;
}

double ParseFrequency(std::string_view text) {
  const auto [number, suffix] = NumberAndSuffix(Trim(text));
  double scale = 0;
  if (suffix.empty() || suffix == "hz") {
    scale = 1;
  } else if (suffix == "khz") {
    scale = 1e3;
  } else if (suffix == "mhz") {
    scale = 1e6;
  } else {
    Bad("frequency", text, "a number with Hz, kHz or MHz");
  }
  if (number.empty()) Bad("frequency", text, "a number with Hz, kHz or MHz");
  return ParseReal(number, "frequency") * scale;
}

double ParseDuration(std::string_view text, double defaultUnitSeconds) {
  const auto [number, suffix] = NumberAndSuffix(Trim(text));
  double scale = 0;
  if (suffix.empty()) {
    scale = defaultUnitSeconds;
  } else if (suffix == "s") {
    scale = 1;
  } else if (suffix == "ms") {
    scale = 1e-3;
  } else if (suffix == "us") {
    scale = 1e-6;
  } else {
    Bad("time", text, "a number with s, ms or us");
  }
  if (number.empty()) Bad("time", text, "a number with s, ms or us");
  return ParseReal(number, "time") * scale;
}

namespace {

constexpr unsigned kPorts = 3;
constexpr unsigned kBitsPerPort = 8;
constexpr const char* kPortsExpected = "A, B or C (or 0, 1, 2)";
constexpr const char* kLineExpected = "a line as port and bit (A0..C7, e.g. B1) or a channel 0 to 23 (port x 8 + bit)";

bool IsDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool IsPortName(std::string_view text) {
  const std::string t = Lower(Trim(text));
  return t == "a" || t == "b" || t == "c" || t == "0" || t == "1" || t == "2";
}

std::uint16_t ParsePort(std::string_view text) {
  const std::string t = Lower(Trim(text));
  if (t.size() == 1 && t[0] >= 'a' && t[0] < 'a' + static_cast<char>(kPorts)) return static_cast<std::uint16_t>(t[0] - 'a');
  if (t.size() == 1 && t[0] >= '0' && t[0] < '0' + static_cast<char>(kPorts)) return static_cast<std::uint16_t>(t[0] - '0');
  if (t.size() == 2 && t[0] >= 'a' && t[0] <= 'c' && t[1] >= '0' && t[1] <= '9') {
    Bad("port", text, std::string(kPortsExpected) + "; '" + std::string(Trim(text)) + "' names a line");
  }
  Bad("port", text, kPortsExpected);
}

char PortLetter(unsigned port) { return port < kPorts ? static_cast<char>('A' + port) : '?'; }

std::uint16_t ParseBit(std::string_view text) {
  const std::string_view t = Trim(text);
  if (!IsDigits(t) || t.size() > 1 || t[0] > '7') Bad("bit", text, "0 to 7");
  return static_cast<std::uint16_t>(t[0] - '0');
}

std::uint16_t ParseCounter(std::string_view text) {
  const std::string_view t = Trim(text);
  if (t != "0" && t != "1") Bad("counter", text, "0 or 1");
  return static_cast<std::uint16_t>(t[0] - '0');
}

unsigned ParseLine(std::string_view text) {
  const std::string t = Lower(Trim(text));
  if (t.size() == 2 && t[0] >= 'a' && t[0] < 'a' + static_cast<char>(kPorts) && t[1] >= '0' && t[1] <= '9') {
    if (t[1] > '7') Bad("line", text, std::string("bits 0 to 7 of a port; ") + kLineExpected);
    return static_cast<unsigned>(t[0] - 'a') * kBitsPerPort + static_cast<unsigned>(t[1] - '0');
  }
  if (IsDigits(t) && t.size() <= 2) {
    const unsigned channel = static_cast<unsigned>(std::stoul(t));
    if (channel < kDioLines) return channel;
  }
  Bad("line", text, kLineExpected);
}

std::string LineName(unsigned channel) {
  if (channel >= kDioLines) return "?";
  return std::string(1, PortLetter(channel / kBitsPerPort)) + std::to_string(channel % kBitsPerPort);
}

std::uint16_t ParseDirection(std::string_view text) {
  const std::string t = Lower(Trim(text));
  if (t == "in" || t == "input") return 0;
  if (t == "out" || t == "output") return 1;
  if (t == "in/out") return 3;
  if (t == "out/in") return 4;
  if (t.size() == 1 && t[0] >= '0' && t[0] <= '9') return ParseU16(t, "direction");
  Bad("direction", text, "in, out, in/out or out/in");
}

std::string DirectionName(unsigned code) {
  switch (code) {
    case 0: return "in";
    case 1: return "out";
    case 2: return "out";
    case 3: return "in/out";
    case 4: return "out/in";
    default: return "code " + std::to_string(code);
  }
}

unsigned ParseGeneratorSource(std::string_view text) {
  const std::string t = Lower(Trim(text));
  if (t == "20mhz") return 1;
  if (t == "clk" || t == "pin") return 2;
  if (t == "10mhz") return 3;
  if (t == "1mhz") return 4;
  if (t == "100khz") return 5;
  if (t == "10khz") return 6;
  if (t == "1khz") return 7;
  // A number with a unit is a frequency the generators do not have.
  if (IsDigits(t) || (t.size() > 2 && t[0] == '0' && t[1] == 'x')) {
    const std::uint64_t value = ParseUnsigned(t, 0x0F00, "source");
    if (value >= 1 && value <= 7) return static_cast<unsigned>(value);
    if ((value & 0xFF) == 0 && (value >> 8) >= 1 && (value >> 8) <= 7) return static_cast<unsigned>(value >> 8);
    // Any other code goes to the library as it is, so that its check shows.
    return static_cast<unsigned>(value >> 8 ? value >> 8 : value);
  }
  Bad("source", text, "10MHz, 1MHz, 100kHz, 10kHz or 1kHz (also 20MHz, clk for the CLK pin, or a code 1 to 7)");
}

double GeneratorSourceHz(unsigned code) {
  switch (code) {
    case 1: return 20e6;
    case 3: return 10e6;
    case 4: return 1e6;
    case 5: return 100e3;
    case 6: return 10e3;
    case 7: return 1e3;
    default: return 0;
  }
}

std::string GeneratorSourceName(unsigned code) {
  switch (code) {
    case 1: return "20 MHz";
    case 2: return "CLK pin";
    case 3: return "10 MHz";
    case 4: return "1 MHz";
    case 5: return "100 kHz";
    case 6: return "10 kHz";
    case 7: return "1 kHz";
    default: return "code " + std::to_string(code);
  }
}

CounterInputSpec ParseCounterInput(std::string_view text) {
  const std::vector<std::string> parts = Split(text, ',');
  const std::size_t eq = parts[0].find('=');
  if (eq == std::string::npos) Bad("--input", text, "COUNTER=FREQ[,duty=PERCENT], e.g. 0=1kHz,duty=25");
  CounterInputSpec spec;
  spec.counter = static_cast<unsigned>(ParseUnsigned(parts[0].substr(0, eq), 1, "counter"));
  spec.hz = ParseFrequency(parts[0].substr(eq + 1));
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::string key = Lower(parts[i].substr(0, parts[i].find('=')));
    if (key != "duty" || parts[i].find('=') == std::string::npos) {
      Bad("--input", text, "COUNTER=FREQ[,duty=PERCENT]");
    }
    std::string value = parts[i].substr(parts[i].find('=') + 1);
    if (!value.empty() && value.back() == '%') value.pop_back();
    spec.dutyPercent = ParseReal(value, "duty");
    if (spec.dutyPercent < 1 || spec.dutyPercent > 99) Bad("duty", value, "1 to 99 percent");
  }
  return spec;
}

DiLevelSpec ParseDiLevels(std::string_view text) {
  const std::size_t eq = text.find('=');
  if (eq == std::string_view::npos) Bad("--di", text, "PORT=LEVELS, e.g. A=0x0F");
  DiLevelSpec spec;
  spec.port = ParsePort(text.substr(0, eq));
  if (spec.port > 2) Bad("--di port", text.substr(0, eq), "A, B or C");
  spec.levels = static_cast<std::uint8_t>(ParseUnsigned(text.substr(eq + 1), 0xFF, "levels"));
  return spec;
}

DiSquareSpec ParseDiSquare(std::string_view text) {
  const std::size_t eq = text.find('=');
  if (eq == std::string_view::npos) Bad("--di-square", text, "LINE=FREQ, e.g. A5=100Hz or 5=100Hz");
  DiSquareSpec spec;
  spec.channel = ParseLine(text.substr(0, eq));
  spec.hz = ParseFrequency(text.substr(eq + 1));
  return spec;
}

LoopbackSpec ParseLoopback(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) Bad("--loopback", text, "FROM:TO, e.g. A:B");
  LoopbackSpec spec;
  spec.from = ParsePort(text.substr(0, colon));
  spec.to = ParsePort(text.substr(colon + 1));
  if (spec.from > 2 || spec.to > 2 || spec.from == spec.to) Bad("--loopback", text, "two different ports of A, B, C");
  return spec;
}

EventSpec ParseEventSpec(std::string_view text) {
  const std::vector<std::string> parts = Split(text, ',');
  EventSpec spec;
  const std::string name = Lower(parts[0]);
  constexpr const char* kExpected = "a DI line (di9, diB1 or B1), tc0, tc1 or an event type number";
  if (name.size() > 2 && name.rfind("di", 0) == 0) {
    try {
      spec.type = static_cast<std::uint16_t>(0x3400 + ParseLine(name.substr(2)));
    } catch (const UsageError&) {
      Bad("event", parts[0], kExpected);
    }
  } else if (name.size() == 2 && name[0] >= 'a' && name[0] <= 'c' && name[1] >= '0' && name[1] <= '9') {
    spec.type = static_cast<std::uint16_t>(0x3400 + ParseLine(name));
  } else if (name == "tc0") {
    spec.type = 0x5000;
  } else if (name == "tc1") {
    spec.type = 0x5001;
  } else if (!name.empty() && name[0] >= '0' && name[0] <= '9') {
    spec.type = ParseU16(name, "event type");
  } else {
    Bad("event", parts[0], kExpected);
  }
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::size_t eq = parts[i].find('=');
    const std::string key = Lower(parts[i].substr(0, eq));
    if (eq == std::string::npos) Bad("event option", parts[i], "ports=FIRST:LAST or every=N");
    const std::string value = parts[i].substr(eq + 1);
    if (key == "ports") {
      const std::size_t colon = value.find(':');
      const unsigned first = ParsePort(value.substr(0, colon));
      const unsigned last = colon == std::string::npos ? first : ParsePort(value.substr(colon + 1));
      if (last < first) Bad("ports", value, "FIRST:LAST with FIRST not after LAST, e.g. B:C");
      spec.firstPort = first;
      spec.portCount = last - first + 1;
    } else if (key == "every") {
      spec.every = ParseU16(value, "trigger count");
    } else {
      Bad("event option", parts[i], "ports=FIRST:LAST or every=N");
    }
  }
  return spec;
}

std::string EventTypeName(std::uint16_t type) {
  char text[40];
  if (type >= 0x3400 && type <= 0x3417) {
    std::snprintf(text, sizeof text, "DI%u", static_cast<unsigned>(type - 0x3400));
  } else if (type == 0x5000 || type == 0x5001) {
    std::snprintf(text, sizeof text, "TC%u", static_cast<unsigned>(type - 0x5000));
  } else if (type == 0xFFFE) {
    return "device closed";
  } else if (type == 0xFFFF) {
    return "time-out";
  } else if (type == 0) {
    return "none";
  } else {
    std::snprintf(text, sizeof text, "type 0x%04X", static_cast<unsigned>(type));
  }
  return text;
}

}  // namespace qio::tool
