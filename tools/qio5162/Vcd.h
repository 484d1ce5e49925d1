// Value Change Dump (IEEE 1364) text, as GTKWave and sigrok/PulseView read
// it: a header with one $var per signal, the values at time 0 in $dumpvars,
// then "#time" lines with the changes at that time. Times are nanoseconds
// from the start of the recording ($timescale 1 ns).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qio::tool {

struct VcdSignal {
  std::string name;
  unsigned width = 1;          // 1 for a wire, 8 or 32 for a vector
  std::uint32_t initial = 0;   // at time 0
  struct Change {
    std::uint64_t timeNs = 0;
    std::uint32_t value = 0;
  };
  std::vector<Change> changes;  // in time order
  // The value is not known from here on (x): the recording's cap was reached.
  std::optional<std::uint64_t> unknownFromNs;
};

struct VcdDocument {
  std::string date;
  std::string version;
  std::vector<std::string> comments;
  std::string scope = "qio5162";
  std::uint64_t endNs = 0;  // the last timestamp, so that viewers show the whole span
  std::vector<VcdSignal> signals;
  // Vectors written as one wire per bit (A0 .. A7, reg_value0 .. 31), for
  // readers that take 1-bit signals only (sigrok before 0.6 stops at the
  // first multi-bit value).
  bool splitVectors = false;
};

// A vector as one 1-bit signal per bit, named NAME0, NAME1, ...
std::vector<VcdSignal> SplitVector(const VcdSignal& vector);

std::string WriteVcd(const VcdDocument& document);

// A VCD file read back: the values of each signal over time. Reads what
// WriteVcd writes (and the common subset other tools write: scalar and
// vector changes, $dumpvars, nested scopes). Values with x or z read as
// nothing known (`known` false).
struct VcdTrace {
  struct Value {
    std::uint64_t time = 0;
    std::uint64_t value = 0;
    bool known = true;
  };
  std::string name;
  unsigned width = 1;
  std::vector<Value> values;  // in time order, the first at the time of $dumpvars
};
struct VcdFile {
  std::string timescale;  // as written, e.g. "1 ns"
  std::vector<VcdTrace> traces;
  const VcdTrace* Find(const std::string& name) const;
};
// Empty when the text is not a VCD file; *error (may be null) tells why.
std::optional<VcdFile> ReadVcd(const std::string& text, std::string* error);

}  // namespace qio::tool
