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

}  // namespace

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
