#include "TraceView.h"

#include "Interrupt.h"
#include "Output.h"
#include "TraceHub.h"
#include "Units.h"
#include "qio/platform/clock.h"

namespace qio::tool {

TraceRecorder::TraceRecorder(QioSimBoard* board) : board_(board) { TraceHub::Subscribe(board_, &entries_); }

TraceRecorder::~TraceRecorder() { TraceHub::Unsubscribe(board_, &entries_); }

std::size_t TraceRecorder::Collect() {
  const std::size_t before = entries_.size();
  TraceHub::Drain(board_);
  return entries_.size() - before;
}

void TraceRecorder::Clear() {
  Collect();
  entries_.clear();
}

bool TraceRecorder::PollOnce() { return SleepUnlessInterrupted(20); }

std::uint64_t TraceRecorder::NowMs() { return platform::NowNs() / 1000000u; }

std::vector<QioPortAccess> WritesTo(const std::vector<QioPortAccess>& trace, std::uint16_t offset,
                                    std::size_t from) {
  std::vector<QioPortAccess> out;
  for (std::size_t i = from; i < trace.size(); ++i) {
    if (trace[i].isWrite && trace[i].offset == offset) out.push_back(trace[i]);
  }
  return out;
}

std::optional<QioPortAccess> LastWrite(const std::vector<QioPortAccess>& trace, std::uint16_t offset,
                                       std::size_t from) {
  std::optional<QioPortAccess> last;
  for (std::size_t i = from; i < trace.size(); ++i) {
    if (trace[i].isWrite && trace[i].offset == offset) last = trace[i];
  }
  return last;
}

long FirstRead(const std::vector<QioPortAccess>& trace, std::uint16_t offset, std::size_t from) {
  for (std::size_t i = from; i < trace.size(); ++i) {
    if (!trace[i].isWrite && trace[i].offset == offset) return static_cast<long>(i);
  }
  return -1;
}

namespace {

// Index of the last write of `value` to `offset`, or -1.
long LastWriteOf(const std::vector<QioPortAccess>& trace, std::uint16_t offset, std::uint32_t value) {
  for (std::size_t i = trace.size(); i-- > 0;) {
    if (trace[i].isWrite && trace[i].offset == offset && trace[i].value == value) return static_cast<long>(i);
  }
  return -1;
}

// The enabled generator word written to generator 0 at or after `from`.
std::optional<std::uint32_t> EnabledGenerator(const std::vector<QioPortAccess>& trace, unsigned n,
                                              std::size_t from) {
  std::optional<std::uint32_t> word;
  for (const QioPortAccess& access : WritesTo(trace, reg::Generator(n), from)) {
    if (access.value & reg::kGeneratorEnable) word = access.value;
  }
  return word;
}

std::string GeneratorText(std::uint32_t word) {
  const unsigned divisor = reg::GeneratorDivisor(word);
  const double hz = GeneratorSourceHz(reg::GeneratorSource(word)) / divisor;
  if (divisor == 1) return FormatHz(hz) + " (generator word " + Hex(word, 4) + ")";
  return FormatHz(hz) + " (" + GeneratorSourceName(reg::GeneratorSource(word)) + " / " + std::to_string(divisor) +
         ", word " + Hex(word, 4) + ")";
}

}  // namespace

FrequencyMethod InferFrequencyMethod(const std::vector<QioPortAccess>& trace, unsigned gateMs) {
  using Kind = FrequencyMethod::Kind;
  FrequencyMethod method;
  if (gateMs != 0) {
    method.kind = Kind::FixedGate;
    method.name = "fixed gate";
    method.background = true;
    method.passSeconds = (2.0 * gateMs + 1) / 1000.0;
    const std::optional<std::uint32_t> generator = EnabledGenerator(trace, 0, 0);
    method.timebaseHz = generator ? GeneratorSourceHz(reg::GeneratorSource(*generator)) /
                                        reg::GeneratorDivisor(*generator)
                                  : board::kBaseClockHz;
    const std::optional<QioPortAccess> load = LastWrite(trace, reg::Load(0));
    method.description = Format("fixed %u ms gate timed by ", gateMs) +
                         (generator ? GeneratorText(*generator) : std::string("the 20 MHz base clock")) +
                         (load ? Format(", gate count %u", static_cast<unsigned>(load->value)) : std::string());
    return method;
  }
  // The edge count of the last 2 ms gate pass: the hold register of the
  // partner block read after the edge-counter mode was written.
  const long gate = LastWriteOf(trace, reg::Mode(1), reg::kModeEdgeCounter);
  if (gate >= 0) {
    const long read = FirstRead(trace, reg::Hold(1), static_cast<std::size_t>(gate));
    if (read >= 0) method.gateEdges = trace[static_cast<std::size_t>(read)].value;
  }
  const long slow = LastWriteOf(trace, reg::Mode(0), reg::kModePeriodSlow);
  const long base = LastWriteOf(trace, reg::Mode(0), reg::kModePeriodBase);
  const std::string edges =
      method.gateEdges ? Format("the 2 ms gate counted %u edges", *method.gateEdges) : std::string("2 ms gate");
  if (slow >= 0) {
    method.kind = Kind::PeriodSlow;
    method.name = "period method, 100 kHz time base";
    method.background = true;
    method.passSeconds = 1.3;
    method.timebaseHz = 100e3;
    method.description = edges + "; the phases overflowed the 20 MHz base clock (mode " +
                         Hex(reg::kModePeriodBase, 4) + "), so both phases are timed on the 100 kHz time base (mode " +
                         Hex(reg::kModePeriodSlow, 4) + ", generator 0 = 100 kHz) in a 1.3 s pass";
    return method;
  }
  if (base >= 0 && base > gate) {
    method.kind = Kind::PeriodBase;
    method.name = "period method, 20 MHz base clock";
    method.timebaseHz = board::kBaseClockHz;
    const long first = FirstRead(trace, reg::Hold(0), static_cast<std::size_t>(base));
    const long second = FirstRead(trace, reg::Hold(1), static_cast<std::size_t>(base));
    std::string ticks;
    if (first >= 0 && second >= 0) {
      const unsigned a = board::kFullCount - (trace[static_cast<std::size_t>(first)].value & board::kFullCount);
      const unsigned b = board::kFullCount - (trace[static_cast<std::size_t>(second)].value & board::kFullCount);
      ticks = Format(": high %u + low %u ticks", a, b);
    }
    method.description = edges + "; both phases timed on the 20 MHz base clock (mode " +
                         Hex(reg::kModePeriodBase, 4) + ")" + ticks;
    return method;
  }
  const std::size_t after = gate >= 0 ? static_cast<std::size_t>(gate) : 0;
  const std::optional<std::uint32_t> generator = EnabledGenerator(trace, 0, after);
  if (generator) {
    const unsigned source = reg::GeneratorSource(*generator);
    const unsigned divisor = reg::GeneratorDivisor(*generator);
    method.timebaseHz = GeneratorSourceHz(source) / divisor;
    if (source == 6 && divisor == 1) {
      method.kind = Kind::LongGate1s;
      method.name = "long gate, 1 s";
      method.background = true;
      method.passSeconds = 2.0;
      method.description = edges + "; medium range: edges are counted in a 1 s gate timed by " +
                           GeneratorText(*generator) + ", refreshed every 2 s";
    } else if (source == 6 && divisor == 2) {
      method.kind = Kind::LongGate2s;
      method.name = "long gate, 2 s";
      method.background = true;
      method.passSeconds = 4.0;
      method.description = edges + "; medium range: edges are counted in a 2 s gate timed by " +
                           GeneratorText(*generator) + ", refreshed every 4 s";
    } else {
      method.kind = Kind::MediumRange;
      method.name = "2 ms gate, medium range";
      method.description = edges + "; medium range, gate timed by " + GeneratorText(*generator) +
                           ": the 2 ms estimate is published";
    }
    return method;
  }
  if (method.gateEdges) {
    method.kind = Kind::GateEdges;
    method.name = "2 ms gate";
    method.description = edges + " (mode " + Hex(reg::kModeGate, 4) + " / " + Hex(reg::kModeEdgeCounter, 4) +
                         "): f = edges / 2 ms";
    return method;
  }
  method.name = "running measurement";
  method.description = "no new pass: the value comes from a measurement still running in the driver";
  return method;
}

std::string OutputTimebase::Describe() const {
  std::string text;
  if (generator) {
    text = "time base " + FormatHz(hz) + " (generator " + GeneratorSourceName(source) +
           (divisor != 1 ? " / " + std::to_string(divisor) : std::string()) + ")";
  } else {
    text = "time base 20 MHz base clock";
  }
  return text;
}

OutputTimebase InferOutputTimebase(const std::vector<QioPortAccess>& trace, unsigned counter) {
  OutputTimebase timebase;
  const std::optional<std::uint32_t> word = EnabledGenerator(trace, counter, 0);
  if (word) {
    timebase.generator = true;
    timebase.source = reg::GeneratorSource(*word);
    timebase.divisor = reg::GeneratorDivisor(*word);
    timebase.hz = GeneratorSourceHz(timebase.source) / timebase.divisor;
  }
  if (const auto load = LastWrite(trace, reg::Load(counter))) timebase.load = load->value;
  if (const auto hold = LastWrite(trace, reg::Hold(counter))) timebase.hold = hold->value;
  return timebase;
}

OutputTimebase InferPhaseTimebase(const std::vector<QioPortAccess>& trace) {
  OutputTimebase timebase;
  const long base = LastWriteOf(trace, reg::Mode(0), reg::kModePhaseBase);
  const long generated = LastWriteOf(trace, reg::Mode(0), reg::kModePhaseGenerator);
  if (generated > base) {
    std::optional<std::uint32_t> word;
    for (long i = 0; i < generated; ++i) {
      const QioPortAccess& access = trace[static_cast<std::size_t>(i)];
      if (access.isWrite && access.offset == reg::Generator(0) && (access.value & reg::kGeneratorEnable)) {
        word = access.value;
      }
    }
    if (word) {
      timebase.generator = true;
      timebase.source = reg::GeneratorSource(*word);
      timebase.divisor = reg::GeneratorDivisor(*word);
      timebase.hz = GeneratorSourceHz(timebase.source) / timebase.divisor;
    }
  }
  return timebase;
}

PrescalerWindow InferPrescalerWindow(const std::vector<QioPortAccess>& trace) {
  PrescalerWindow window;
  const OutputTimebase timebase = InferOutputTimebase(trace, 0);
  window.timebaseHz = timebase.hz;
  if (timebase.hold) window.counts = static_cast<unsigned>(*timebase.hold);
  window.seconds = window.counts / window.timebaseHz;
  return window;
}

CountWindow InferCountWindow(const std::vector<QioPortAccess>& trace, unsigned counter) {
  CountWindow window;
  // The command written to the block and not yet strobed; -1 for none.
  int pending = -1;
  const std::uint32_t bit = 1u << counter;
  for (const QioPortAccess& access : trace) {
    if (!access.isWrite) continue;
    if (access.offset == reg::Command(counter)) {
      pending = static_cast<int>(access.value & 0xFF);
    } else if (access.offset == reg::kStrobe && (access.value & bit) != 0 && pending >= 0) {
      if (pending == reg::kCommandArm && window.armNs == 0) window.armNs = access.timeNs;
      if (pending == reg::kCommandLatch) window.latchNs = access.timeNs;
      pending = -1;
    }
  }
  return window;
}

}  // namespace qio::tool
