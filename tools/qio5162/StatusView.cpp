#include "StatusView.h"

#include "DriverState.h"
#include "Output.h"
#include "Units.h"
#include "qio/protocol/board_registers.h"

namespace qio::tool {
namespace {

namespace direction = board::direction;

bool Has(unsigned flags, unsigned flag) { return (flags & flag) != 0; }

double Percent(double part, double whole) { return whole > 0 ? part / whole * 100.0 : 0; }

// ---- counters ----

struct PwmTiming {
  CountSource source;
  double period = 0;
  double high = 0;
};

PwmTiming PwmOf(const QioDriverState& state, unsigned n) {
  const QioCounterState& c = state.counters[n];
  PwmTiming timing{SourceOfCounter(state, n)};
  if (timing.source.hz > 0) {
    timing.period = (static_cast<double>(c.load) + c.hold) / timing.source.hz;
    timing.high = c.hold / timing.source.hz;
  }
  return timing;
}

// "period 10 ms, high 2.5 ms (25.0 %): low 37500 + high 12500 counts of 5 MHz (...)".
std::string PwmText(const QioDriverState& state, unsigned n) {
  const QioCounterState& c = state.counters[n];
  const PwmTiming pwm = PwmOf(state, n);
  std::string text = Has(c.flags, QIO_COUNTER_PWM_COUNTED)
                         ? Format("%u periods of ", static_cast<unsigned>(c.pwmPulses)) + FormatSeconds(pwm.period)
                         : "period " + FormatSeconds(pwm.period);
  return text + ", high " + FormatSeconds(pwm.high) + Format(" (%.1f %%)", Percent(pwm.high, pwm.period)) +
         Format(": low %u + high %u counts of ", static_cast<unsigned>(c.load), static_cast<unsigned>(c.hold)) +
         pwm.source.Text();
}

std::string ResultText(const QioFrequencyState& f) {
  if (!Has(f.flags, QIO_FREQ_PUBLISHED)) {
    return Has(f.flags, QIO_FREQ_PASS_RUNNING) ? "no result yet, a pass is running" : "no result yet";
  }
  return "result " + FormatHz(f.hz) + (Has(f.flags, QIO_FREQ_OVER_RANGE) ? " (over range)" : "");
}

std::string FrequencyText(const QioDriverState& state, unsigned n) {
  const QioCounterState& c = state.counters[n];
  const FrequencyMethod method = DescribeFrequency(state, n);
  std::string text = "frequency measurement, ";
  if (c.frequency.method == 0) {
    text += "automatic ranging: " + method.name;
  } else {
    text += Format("fixed %u ms gate on ", static_cast<unsigned>(c.frequency.method)) + FormatHz(c.frequency.timebaseHz);
  }
  text += "; " + ResultText(c.frequency);
  if (Has(c.flags, QIO_COUNTER_HAS_PARTNER)) text += Format("; block %u is its partner", n + 1);
  return text;
}

std::string IdleText(const QioDriverState& state, unsigned n) {
  const QioCounterState& c = state.counters[n];
  const QioGeneratorState& g = state.generators[n];
  std::string text = "idle";
  if (g.owner == QIO_GENERATOR_FREQOUT) {
    text = Format("frequency output on FOUT%u, ", n) + FormatHz(GeneratorWordHz(g.word)) + " = " +
           GeneratorWordText(g.word) + " (the counter block itself is idle)";
  }
  if (Has(c.flags, QIO_COUNTER_PWM_LOADED)) {
    text += std::string("; a PWM setting is loaded, not running: ") +
            (Has(c.flags, QIO_COUNTER_PWM_COUNTED) ? "counted, " : "continuous, ") + PwmText(state, n);
  }
  if (Has(c.flags, QIO_COUNTER_PRESCALER)) {
    text += Format("; its block holds the prescaler of counter %u's counted PWM setting", n + 1);
  }
  if (Has(c.flags, QIO_COUNTER_RAW_CONFIG)) {
    text += Format("; a raw configuration (mode 0x%04X, initial count %u) waits for 'count start %u'",
                   static_cast<unsigned>(c.mode), static_cast<unsigned>(c.load), n);
  }
  return text;
}

// ---- generators, events, ports ----

std::string GeneratorText(const QioDriverState& state, unsigned n) {
  const QioGeneratorState& g = state.generators[n];
  const QioCounterState& c = state.counters[n];
  const std::string clock = FormatHz(GeneratorWordHz(g.word)) + " = " + GeneratorWordText(g.word) + " (word " +
                            Hex(g.word, 4) + ")";
  switch (g.owner) {
    case QIO_GENERATOR_IDLE:
      if (c.function == QIO_FUNCTION_FREQUENCY) return Format("idle, reserved for the frequency measurement on counter %u", n);
      return "idle";
    case QIO_GENERATOR_FREQOUT: return Format("frequency output on FOUT%u, ", n) + clock;
    case QIO_GENERATOR_GATE: return Format("gate clock of the frequency measurement on counter %u, ", n) + clock;
    case QIO_GENERATOR_PULSE: return Format("time base of counter %u's pulse output, ", n) + clock;
    case QIO_GENERATOR_PWM:
      if (Has(c.flags, QIO_COUNTER_PRESCALER) && !Has(c.flags, QIO_COUNTER_PWM_LOADED)) {
        return Format("time base of the prescaler of counter %u's counted PWM, ", n + 1) + clock;
      }
      return Format("time base of counter %u's PWM, ", n) + clock;
    case QIO_GENERATOR_PWM_MEASURE: return "time base of the PWM measurement, " + clock;
    default: return Format("owner code 0x%02X, ", static_cast<unsigned>(g.owner)) + clock;
  }
}

std::uint16_t EventType(unsigned source) {
  if (source < 24) return static_cast<std::uint16_t>(0x3400 + source);
  return static_cast<std::uint16_t>(0x5000 + (source - 24));
}

// "port B", "ports B-C", "ports C, A".
std::string LatchedPorts(const QioEventSourceState& event) {
  if (event.portCount <= 1) return std::string("port ") + PortLetter(event.startPort);
  const unsigned last = event.startPort + event.portCount - 1;
  if (last < 3) return std::string("ports ") + PortLetter(event.startPort) + "-" + PortLetter(last);
  std::string text = "ports ";
  for (unsigned k = 0; k < event.portCount && k < 3; ++k) {
    text += std::string(k == 0 ? "" : ", ") + PortLetter((event.startPort + k) % 3);
  }
  return text;
}

std::string EventText(const QioEventSourceState& event, unsigned source) {
  const std::uint16_t type = EventType(source);
  std::string text = "event " + EventTypeName(type) + " (" + Hex(type, 4) + "): ";
  if (event.triggerCount == 0) {
    text += Format("never signalled (trigger count 0), %u interrupts counted", static_cast<unsigned>(event.interruptCount));
  } else {
    text += (event.triggerCount == 1 ? std::string("signalled every interrupt")
                                     : Format("signalled every %u interrupts", static_cast<unsigned>(event.triggerCount))) +
            Format(", %u since the last signal", static_cast<unsigned>(event.interruptCount));
  }
  if (source < 24 && event.portCount != 0) text += "; latches " + LatchedPorts(event);
  return text;
}

// The direction code of a port as the direction byte sets it (0 in, 1 out,
// 3 in/out, 4 out/in).
unsigned DirectionOf(std::uint8_t control, unsigned port) {
  if (port == 0) return (control & direction::kPortA) ? 0u : 1u;
  if (port == 1) return (control & direction::kPortB) ? 0u : 1u;
  const bool low = (control & direction::kPortCLow) != 0;
  const bool high = (control & direction::kPortCHigh) != 0;
  if (low && high) return 0;
  if (!low && !high) return 1;
  return low ? 3u : 4u;
}

std::string DirectionText(unsigned code) {
  switch (code) {
    case 3: return "in/out (lines 0-3 in, 4-7 out)";
    case 4: return "out/in (lines 0-3 out, 4-7 in)";
    default: return DirectionName(code);
  }
}

std::string DeviceText(const QioDriverState& state, unsigned device) {
  std::string text = Format("device %u (%s", device, state.streamName);
  if (Has(state.flags, QIO_STATE_CONFIGURED)) {
    text += ", base " + Hex(state.ioBase, 3) + Format(", IRQ %u", static_cast<unsigned>(state.irq));
  }
  text += "): ";
  switch (state.openState) {
    case QIO_OPEN_OPENING: text += "opening"; break;
    case QIO_OPEN_CLOSING: text += "closing"; break;
    default:
      text += state.openCount > 0 ? Format("open (%d handle%s)", state.openCount, state.openCount == 1 ? "" : "s")
                                  : std::string("not open");
      break;
  }
  const bool serviced = Has(state.interruptService, QIO_INTERRUPT_THREAD) && Has(state.interruptService, QIO_INTERRUPT_BOUND);
  if (serviced) return text + ", interrupt service running";
  if (state.openCount > 0 && state.openState == QIO_OPEN_OPEN) {
    return text + Format(", no interrupt service (IRQ %u is not bound: events do not fire)", static_cast<unsigned>(state.irq));
  }
  return text + ", no interrupt service";
}

}  // namespace

std::string CounterText(const QioDriverState& state, unsigned n) {
  const QioCounterState& c = state.counters[n];
  const std::string function = FunctionName(state, n);
  if (function == "idle" || function == "frequency output") return IdleText(state, n);
  if (function == "partner") return Format("partner block of the frequency measurement on counter %u", n - 1);
  if (function == "event counting") {
    const std::string tally = Format("; tally %u (x 65536 edges)", static_cast<unsigned>(c.tally));
    if (c.mode == board::mode::kEventCount && c.load == 1) return Format("event counting, rising edges on CLK%u", n) + tally;
    return Format("event counting with a raw configuration (mode 0x%04X, initial count %u)", static_cast<unsigned>(c.mode),
                  static_cast<unsigned>(c.load)) +
           tally;
  }
  if (function == "frequency") return FrequencyText(state, n);
  if (function == "pulse") {
    const CountSource source = SourceOfCounter(state, n);
    const double period = source.hz > 0 ? 2.0 * c.hold / source.hz : 0;
    return Format("pulse output on OUT%u, period ", n) + FormatSeconds(period) + " (" +
           FormatHz(period > 0 ? 1.0 / period : 0) + Format("): half period %u counts of ", static_cast<unsigned>(c.hold)) +
           source.Text();
  }
  if (function == "pwm continuous") return Format("PWM continuous on OUT%u, ", n) + PwmText(state, n);
  if (function == "pwm counted") {
    return Format("PWM counted on OUT%u, ", n) + PwmText(state, n) + Format("; counter %u is its prescaler", n - 1);
  }
  if (function == "pwm prescaler") {
    const CountSource source = SourceOfCounter(state, n);
    return Format("prescaler of the counted PWM on counter %u: a window of ", n + 1) +
           FormatSeconds(source.hz > 0 ? c.hold / source.hz : 0) +
           Format(" (%u counts of ", static_cast<unsigned>(c.hold)) + source.Text() + ")";
  }
  if (function == "pwm measurement") return Format("PWM measurement of CLK0 (with counter %u)", 1 - n);
  return function;
}

nlohmann::json CounterJson(const QioDriverState& state, unsigned n) {
  const QioCounterState& c = state.counters[n];
  const std::string function = FunctionName(state, n);
  nlohmann::json record{{"counter", n},   {"function", function}, {"functionCode", c.function},
                        {"mode", c.mode}, {"load", c.load},       {"hold", c.hold},
                        {"tally", c.tally}, {"terminalCountInterrupt", Has(c.flags, QIO_COUNTER_INTERRUPT)}};
  const CountSource source = SourceOfCounter(state, n);
  if (function == "event counting") record["rawConfiguration"] = c.mode != board::mode::kEventCount || c.load != 1;
  if (Has(c.flags, QIO_COUNTER_RAW_CONFIG)) record["rawConfigurationPending"] = true;
  if (function == "partner") record["partnerOf"] = n - 1;
  if (Has(c.flags, QIO_COUNTER_HAS_PARTNER)) record["partner"] = n + 1;
  if (function == "frequency") {
    const QioFrequencyState& f = c.frequency;
    const FrequencyMethod method = DescribeFrequency(state, n);
    nlohmann::json frequency{{"method", f.method == 0 ? "automatic" : "fixed gate"},
                             {"stage", method.name},
                             {"gateMs", f.gateMs},
                             {"timebaseHz", f.timebaseHz},
                             {"published", Has(f.flags, QIO_FREQ_PUBLISHED)},
                             {"passRunning", Has(f.flags, QIO_FREQ_PASS_RUNNING)},
                             {"overRange", Has(f.flags, QIO_FREQ_OVER_RANGE)},
                             {"hz", f.hz},
                             {"sequence", f.sequence}};
    if (f.method != 0) frequency["fixedGateMs"] = f.method;
    if (method.gateEdges) frequency["gateEdges"] = *method.gateEdges;
    record["frequency"] = frequency;
  }
  if (function == "pulse") {
    const double period = source.hz > 0 ? 2.0 * c.hold / source.hz : 0;
    record["pulse"] = {{"periodSeconds", period}, {"timebaseHz", source.hz}, {"halfPeriodCounts", c.hold}};
  }
  if (Has(c.flags, QIO_COUNTER_PWM_LOADED)) {
    const PwmTiming pwm = PwmOf(state, n);
    record["pwm"] = {{"running", c.function == QIO_FUNCTION_PWM},
                     {"pulses", c.pwmPulses},
                     {"periodSeconds", pwm.period},
                     {"highSeconds", pwm.high},
                     {"lowCounts", c.load},
                     {"highCounts", c.hold},
                     {"timebaseHz", pwm.source.hz}};
  }
  if (Has(c.flags, QIO_COUNTER_PRESCALER)) {
    record["prescaler"] = {{"of", n + 1},
                           {"running", c.function == QIO_FUNCTION_PWM},
                           {"windowCounts", c.hold},
                           {"windowSeconds", source.hz > 0 ? c.hold / source.hz : 0},
                           {"timebaseHz", source.hz}};
  }
  return record;
}

StatusReport DescribeStatus(const QioDriverState& state, unsigned device,
                            const std::optional<std::array<std::uint8_t, 3>>& pins) {
  StatusReport report;
  nlohmann::json& data = report.data;
  const bool configured = Has(state.flags, QIO_STATE_CONFIGURED);
  const bool directionsSet = Has(state.flags, QIO_STATE_DIRECTIONS);
  static constexpr const char* kOpenStates[] = {"closed", "opening", "open", "closing"};
  data = {{"device", device},
          {"stream", state.streamName},
          {"openCount", state.openCount},
          {"openState", state.openState < 4 ? kOpenStates[state.openState] : "unknown"},
          {"interruptService", Has(state.interruptService, QIO_INTERRUPT_THREAD)},
          {"interruptBound", Has(state.interruptService, QIO_INTERRUPT_BOUND)},
          {"interruptEnable", state.interruptEnable},
          {"lastError", state.lastError}};
  if (configured) {
    data["base"] = state.ioBase;
    data["irq"] = state.irq;
  }
  report.lines.push_back(DeviceText(state, device));

  data["counters"] = nlohmann::json::array();
  for (unsigned n = 0; n < QIO_STATE_COUNTERS; ++n) {
    report.lines.push_back(Format("counter %u: ", n) + CounterText(state, n));
    data["counters"].push_back(CounterJson(state, n));
  }

  data["generators"] = nlohmann::json::array();
  for (unsigned n = 0; n < QIO_STATE_COUNTERS; ++n) {
    const QioGeneratorState& g = state.generators[n];
    report.lines.push_back(Format("generator %u: ", n) + GeneratorText(state, n));
    nlohmann::json generator{{"generator", n}, {"owner", GeneratorOwnerName(g.owner)}, {"ownerCode", g.owner},
                             {"word", g.word}, {"hz", GeneratorWordHz(g.word)}};
    if (GeneratorWordHz(g.word) > 0) {
      generator["source"] = GeneratorSourceName(board::generator::SourceOf(g.word));
      generator["divisor"] = board::generator::DivisorOf(g.word);
    }
    data["generators"].push_back(generator);
  }

  data["events"] = nlohmann::json::array();
  for (unsigned source = 0; source < QIO_STATE_EVENT_SOURCES; ++source) {
    if ((state.eventEnableMask & (1u << source)) == 0) continue;
    const QioEventSourceState& event = state.events[source];
    report.lines.push_back(EventText(event, source));
    nlohmann::json record{{"source", source},
                          {"name", EventTypeName(EventType(source))},
                          {"type", EventType(source)},
                          {"every", event.triggerCount},
                          {"sinceSignal", event.interruptCount}};
    if (source < 24 && event.portCount != 0) {
      record["firstPort"] = std::string(1, PortLetter(event.startPort));
      record["portCount"] = event.portCount;
    }
    data["events"].push_back(record);
  }
  if (data["events"].empty()) report.lines.push_back("events: none enabled");

  data["directionsProgrammed"] = directionsSet;
  data["ports"] = nlohmann::json::array();
  for (unsigned p = 0; p < QIO_STATE_PORTS; ++p) {
    const unsigned code = directionsSet ? DirectionOf(state.directionControl, p) : state.portConfig[p];
    std::string line = std::string("port ") + PortLetter(p) + ": " + DirectionText(code);
    if (!directionsSet) line += " once opened (the registry's setting)";
    if (code != 0 && directionsSet) line += ", latch " + Hex(state.outputLatch[p]);
    if (pins) line += ", pins " + Hex((*pins)[p]);
    report.lines.push_back(line);
    nlohmann::json port{{"port", std::string(1, PortLetter(p))}, {"direction", DirectionName(code)},
                        {"directionCode", code}, {"latch", state.outputLatch[p]},
                        {"doRecord", state.outputRecord[p]}};
    if (pins) port["pins"] = (*pins)[p];
    data["ports"].push_back(port);
  }

  if (state.pwmTimebaseHz != 0) {
    report.lines.push_back("last PWM measurement: high " + FormatSeconds(state.pwmHighUs * 1e-6) + ", low " +
                           FormatSeconds(state.pwmLowUs * 1e-6) + " (phases timed on " +
                           FormatHz(state.pwmTimebaseHz) + ")");
    data["pwmMeasurement"] = {{"highUs", state.pwmHighUs}, {"lowUs", state.pwmLowUs},
                              {"timebaseHz", state.pwmTimebaseHz}};
  }
  return report;
}

}  // namespace qio::tool
