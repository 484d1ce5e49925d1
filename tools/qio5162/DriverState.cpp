#include "DriverState.h"

#include <cstring>

#include "Output.h"
#include "ResultText.h"
#include "Units.h"
#include "qio/protocol/board_registers.h"

namespace qio::tool {
namespace {

namespace mode = board::mode;
namespace generator = board::generator;

const QioCounterState& Counter(const QioDriverState& state, unsigned n) { return state.counters[n]; }
bool Has(std::uint16_t flags, unsigned flag) { return (flags & flag) != 0; }

// "1 MHz (generator word 0x1400)", "2 MHz (10 MHz / 5, word 0x1304)".
std::string GateClockText(std::uint16_t word) {
  const unsigned divisor = generator::DivisorOf(word);
  const std::string hz = FormatHz(GeneratorWordHz(word));
  if (divisor == 1) return hz + " (generator word " + Hex(word, 4) + ")";
  return hz + " (" + GeneratorSourceName(generator::SourceOf(word)) + " / " + std::to_string(divisor) + ", word " +
         Hex(word, 4) + ")";
}

// The period a counter's output has, from the counts it was loaded with.
double PulsePeriod(const QioDriverState& state, unsigned n) {
  const CountSource source = SourceOfCounter(state, n);
  return source.hz > 0 ? 2.0 * Counter(state, n).hold / source.hz : 0;
}
double PwmPeriod(const QioDriverState& state, unsigned n) {
  const CountSource source = SourceOfCounter(state, n);
  const QioCounterState& c = Counter(state, n);
  return source.hz > 0 ? (static_cast<double>(c.load) + c.hold) / source.hz : 0;
}

// What holds a counter block or a generator, and the counter whose reset
// frees it.
struct Holder {
  std::string what;  // completes "counter 1 is in use by ..."
  unsigned reset;
};

std::optional<Holder> CounterHolder(const QioDriverState& state, unsigned n) {
  const QioCounterState& c = Counter(state, n);
  switch (c.function) {
    case QIO_FUNCTION_IDLE:
      if (Has(c.flags, QIO_COUNTER_IS_PARTNER)) {
        return Holder{Format("the frequency measurement on counter %u, as its partner block", n - 1), n - 1};
      }
      return std::nullopt;
    case QIO_FUNCTION_EVENT_COUNT:
      return Holder{"event counting", n};
    case QIO_FUNCTION_FREQUENCY:
      return Holder{c.frequency.method == 0 ? "a frequency measurement (automatic ranging)"
                                            : Format("a frequency measurement (fixed %u ms gate)", c.frequency.method),
                    n};
    case QIO_FUNCTION_PULSE:
      return Holder{"a pulse output (period " + FormatSeconds(PulsePeriod(state, n)) + ")", n};
    case QIO_FUNCTION_PWM:
      if (Has(c.flags, QIO_COUNTER_PRESCALER)) {
        return Holder{Format("the prescaler of the counted PWM on counter %u", n + 1), n};
      }
      if (Has(c.flags, QIO_COUNTER_PWM_COUNTED)) {
        return Holder{Format("a counted PWM output (%u periods of ", static_cast<unsigned>(c.pwmPulses)) +
                          FormatSeconds(PwmPeriod(state, n)) + ")",
                      n};
      }
      return Holder{"a continuous PWM output (period " + FormatSeconds(PwmPeriod(state, n)) + ")", n};
    case QIO_FUNCTION_PWM_MEASURE:
      return Holder{"a PWM measurement", n};
    default:
      return Holder{Format("function code 0x%02X", static_cast<unsigned>(c.function)), n};
  }
}

std::optional<Holder> GeneratorHolder(const QioDriverState& state, unsigned n) {
  const QioGeneratorState& g = state.generators[n];
  const QioCounterState& c = Counter(state, n);
  switch (g.owner) {
    case QIO_GENERATOR_IDLE:
      // A measurement keeps its generator for itself also while it does not run it.
      if (c.function == QIO_FUNCTION_FREQUENCY || c.function == QIO_FUNCTION_PWM_MEASURE) {
        return Holder{Format("the %s on counter %u (reserved for it)",
                             c.function == QIO_FUNCTION_FREQUENCY ? "frequency measurement" : "PWM measurement", n),
                      n};
      }
      return std::nullopt;
    case QIO_GENERATOR_FREQOUT:
      return Holder{Format("a frequency output on FOUT%u (", n) + FormatHz(GeneratorWordHz(g.word)) + ")", n};
    case QIO_GENERATOR_GATE:
      return Holder{Format("the gate clock of the frequency measurement on counter %u", n), n};
    case QIO_GENERATOR_PULSE:
      return Holder{Format("the time base of counter %u's pulse output", n), n};
    case QIO_GENERATOR_PWM:
      if (Has(c.flags, QIO_COUNTER_PRESCALER) && !Has(c.flags, QIO_COUNTER_PWM_LOADED)) {
        return Holder{Format("the time base of the prescaler of counter %u's counted PWM", n + 1), n};
      }
      return Holder{Format("the time base of counter %u's PWM", n), n};
    case QIO_GENERATOR_PWM_MEASURE:
      return Holder{"the time base of a PWM measurement", n};
    default:
      return Holder{Format("owner code 0x%02X", static_cast<unsigned>(g.owner)), n};
  }
}

}  // namespace

QioDriverState ReadDriverState(QioTarget* target, unsigned device) {
  QioDriverState state;
  std::memset(&state, 0, sizeof state);
  state.size = sizeof state;
  const int status = qio_target_driver_state(target, device, &state);
  if (status != QIO_TARGET_OK) {
    throw DeviceError("the driver's state of device " + std::to_string(device) + " cannot be read: " +
                      qio_target_last_message());
  }
  return state;
}

std::string CountSource::Text() const {
  if (generator && hz <= 0) return Format("generator %u (stopped)", index);
  if (hz <= 0) return "its input pin";
  if (!generator) return "the 20 MHz base clock";
  return FormatHz(hz) + Format(" (generator %u: ", index) + GeneratorWordText(word) + ")";
}

double GeneratorWordHz(std::uint16_t word) {
  if ((word & generator::kEnable) == 0) return 0;
  return GeneratorSourceHz(generator::SourceOf(word)) / generator::DivisorOf(word);
}

std::string GeneratorWordText(std::uint16_t word) {
  return GeneratorSourceName(generator::SourceOf(word)) + " / " + std::to_string(generator::DivisorOf(word));
}

CountSource SourceOfCounter(const QioDriverState& state, unsigned counter) {
  CountSource source;
  const unsigned field = mode::SourceOf(Counter(state, counter).mode);
  if (field == mode::kSourceBase) {
    source.hz = board::kBaseClockHz;
  } else if (field == mode::kSourceGenerator0 || field == mode::kSourceGenerator1) {
    source.generator = true;
    source.index = field - mode::kSourceGenerator0;
    source.word = state.generators[source.index].word;
    source.hz = GeneratorWordHz(source.word);
  }
  return source;
}

FrequencyMethod DescribeFrequency(const QioDriverState& state, unsigned counter) {
  using Kind = FrequencyMethod::Kind;
  const QioFrequencyState& f = Counter(state, counter).frequency;
  FrequencyMethod method;
  method.timebaseHz = f.timebaseHz;
  if (f.stage == QIO_FREQ_FIXED_GATE) {
    method.kind = Kind::FixedGate;
    method.name = "fixed gate";
    method.background = true;
    method.passSeconds = (2.0 * f.gateMs + 1) / 1000.0;
    method.description = Format("fixed %u ms gate timed by ", static_cast<unsigned>(f.gateMs)) +
                         (f.gateClock != 0 ? GateClockText(f.gateClock) : std::string("the 20 MHz base clock")) +
                         Format(", gate count %u", static_cast<unsigned>(Counter(state, counter).load));
    return method;
  }
  if (f.stage == QIO_FREQ_NONE) {
    method.name = "no method yet";
    method.description = "the driver has not decided how to measure yet";
    return method;
  }
  method.gateEdges = f.gateEdges;
  const std::string edges = Format("the 2 ms gate counted %u edges", static_cast<unsigned>(f.gateEdges));
  const std::uint16_t periodBase = mode::kHighPhaseDown;
  const auto periodSlow = static_cast<std::uint16_t>(mode::kHighPhaseDown | mode::GeneratorSource(counter));
  switch (f.stage) {
    case QIO_FREQ_PERIOD_SLOW:
      method.kind = Kind::PeriodSlow;
      method.name = "period method, 100 kHz time base";
      method.background = true;
      method.passSeconds = 1.3;
      method.description = edges + "; the phases overflowed the 20 MHz base clock (mode " + Hex(periodBase, 4) +
                           "), so both phases are timed on the 100 kHz time base (mode " + Hex(periodSlow, 4) +
                           Format(", generator %u = 100 kHz) in a 1.3 s pass", counter);
      break;
    case QIO_FREQ_PERIOD_BASE:
      method.kind = Kind::PeriodBase;
      method.name = "period method, 20 MHz base clock";
      method.description = edges + "; both phases timed on the 20 MHz base clock (mode " + Hex(periodBase, 4) + ")" +
                           Format(": high %u + low %u ticks", static_cast<unsigned>(f.highTicks),
                                  static_cast<unsigned>(f.lowTicks));
      break;
    case QIO_FREQ_LONG_GATE_1S:
    case QIO_FREQ_LONG_GATE_2S: {
      const unsigned gateSeconds = f.stage == QIO_FREQ_LONG_GATE_1S ? 1 : 2;
      method.kind = gateSeconds == 1 ? Kind::LongGate1s : Kind::LongGate2s;
      method.name = Format("long gate, %u s", gateSeconds);
      method.background = true;
      method.passSeconds = 2.0 * gateSeconds;
      method.description = edges + Format("; medium range: edges are counted in a %u s gate timed by ", gateSeconds) +
                           GateClockText(f.gateClock) + Format(", refreshed every %u s", 2 * gateSeconds);
      break;
    }
    case QIO_FREQ_MEDIUM:
      method.kind = Kind::MediumRange;
      method.name = "2 ms gate, medium range";
      method.description = edges + "; medium range, gate timed by " + GateClockText(f.gateClock) +
                           ": the 2 ms estimate is published";
      break;
    default:
      method.kind = Kind::GateEdges;
      method.name = "2 ms gate";
      method.description = edges + " (mode " + Hex(mode::kSquareWave, 4) + " / " + Hex(mode::kGatedEdgeCount, 4) +
                           "): f = edges / 2 ms";
      break;
  }
  return method;
}

double LongestPass(const FrequencyMethod& method) {
  constexpr double kSlowCompletion = 0.71;
  return method.passSeconds + (method.kind == FrequencyMethod::Kind::PeriodSlow ? kSlowCompletion : 0.0);
}

std::string FunctionName(const QioDriverState& state, unsigned counter) {
  const QioCounterState& c = Counter(state, counter);
  switch (c.function) {
    case QIO_FUNCTION_EVENT_COUNT: return "event counting";
    case QIO_FUNCTION_FREQUENCY: return "frequency";
    case QIO_FUNCTION_PULSE: return "pulse";
    case QIO_FUNCTION_PWM_MEASURE: return "pwm measurement";
    case QIO_FUNCTION_PWM:
      if (Has(c.flags, QIO_COUNTER_PRESCALER)) return "pwm prescaler";
      return Has(c.flags, QIO_COUNTER_PWM_COUNTED) ? "pwm counted" : "pwm continuous";
    case QIO_FUNCTION_IDLE:
      if (Has(c.flags, QIO_COUNTER_IS_PARTNER)) return "partner";
      if (state.generators[counter].owner == QIO_GENERATOR_FREQOUT) return "frequency output";
      return "idle";
    default:
      return Format("code 0x%02X", static_cast<unsigned>(c.function));
  }
}

std::string GeneratorOwnerName(unsigned owner) {
  switch (owner) {
    case QIO_GENERATOR_IDLE: return "idle";
    case QIO_GENERATOR_GATE: return "frequency gate";
    case QIO_GENERATOR_PULSE: return "pulse";
    case QIO_GENERATOR_PWM: return "pwm";
    case QIO_GENERATOR_FREQOUT: return "frequency output";
    case QIO_GENERATOR_PWM_MEASURE: return "pwm measurement";
    default: return Format("code 0x%02X", owner);
  }
}

std::vector<std::string> BusyHints(const QioDriverState& state, const Needs& needs) {
  auto hints = [](const std::string& first, unsigned reset) {
    return std::vector<std::string>{first, Format("'reset %u' stops it; then try again", reset)};
  };
  for (unsigned n = 0; n < QIO_STATE_COUNTERS; ++n) {
    if ((needs.counters & (1u << n)) == 0) continue;
    if (const auto holder = CounterHolder(state, n)) {
      return hints(Format("counter %u is in use by ", n) + holder->what, holder->reset);
    }
  }
  for (unsigned n = 0; n < QIO_STATE_COUNTERS; ++n) {
    if ((needs.generators & (1u << n)) == 0) continue;
    if (const auto holder = GeneratorHolder(state, n)) {
      return hints(Format("generator %u is in use by ", n) + holder->what, holder->reset);
    }
  }
  return {"nothing holds it now (what did has ended); try again"};
}

}  // namespace qio::tool
