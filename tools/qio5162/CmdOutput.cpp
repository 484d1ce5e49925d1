// pulse, freqout, pwm, pwm-measure and reset: the counters' outputs, shown as
// the simulated board produces them.
#include <cmath>

#include "Commands.h"
#include "Interrupt.h"
#include "ResultText.h"
#include "TraceView.h"
#include "Units.h"
#include "Waveform.h"
#include "qio/platform/clock.h"
#include "qio5162/Zqs5162.h"

namespace qio::tool {
namespace {

float SecondsArgument(const std::string& text, const char* what) {
  if (text.empty()) throw UsageError(std::string(what) + " is required");
  return static_cast<float>(ParseDuration(text));
}

std::string CountsText(const OutputTimebase& timebase, const char* first, const char* second) {
  std::string text;
  if (timebase.load) text += Format(", %s %u counts", first, static_cast<unsigned>(*timebase.load));
  if (timebase.hold && second != nullptr) text += Format(", %s %u counts", second, static_cast<unsigned>(*timebase.hold));
  return text;
}

void OneShotNote(CommandContext& context) {
  if (!context.persistent) {
    context.out.Line("note: the output stops when this command closes the device; use 'qio5162 shell' or 'run' to keep it");
  }
}

}  // namespace

nlohmann::json ShowOutput(CommandContext& context, unsigned counter, bool frequencyOutput) {
  QioSimBoard* board = context.session.Board();
  const std::string pin = (frequencyOutput ? "FOUT" : "OUT") + std::to_string(counter);
  nlohmann::json record{{"pin", pin}};
  if (board == nullptr) {
    context.out.Line(pin + ": (no simulated board to observe)");
    return record;
  }
  double hz = 0;
  double high = 0;
  int status = QIO_TARGET_OK;
  if (frequencyOutput) {
    status = qio_sim_get_freqout(board, counter, &hz);
    high = hz > 0 ? 0.5 / hz : 0;
  } else {
    status = qio_sim_get_output(board, counter, &hz, &high);
  }
  if (status != QIO_TARGET_OK) {
    context.out.Line(pin + ": cannot be observed: " + std::string(qio_target_last_message()));
    return record;
  }
  record["hz"] = hz;
  record["highSeconds"] = high;
  if (hz > 0) {
    const double period = 1.0 / hz;
    record["periodSeconds"] = period;
    context.out.Line(Format("%s: %s, period %s, high %s (%.1f %%)", pin.c_str(), FormatHz(hz).c_str(),
                            FormatSeconds(period).c_str(), FormatSeconds(high).c_str(), high * hz * 100));
    for (const std::string& line :
         LabelWaveform(RenderWaveform(hz, high), pin, "one period = " + FormatSeconds(period))) {
      context.out.Line(line);
    }
  } else {
    int level = 0;
    if (!frequencyOutput) qio_sim_get_output_level(board, counter, &level);
    record["level"] = level;
    context.out.Line(Format("%s: not periodic, %s", pin.c_str(), level ? "high" : "low"));
    for (const std::string& line : LabelWaveform(RenderLevel(level), pin, "")) context.out.Line(line);
  }
  return record;
}

void RunPulse(CommandContext& context, const CounterOptions& options) {
  const std::uint16_t counter = CounterArgument(options.counter);
  const float period = SecondsArgument(options.period, "--period");
  TraceRecorder trace(context.session.Board());
  CheckStart(context, CounterPulseStart(context.session.Handle(), counter, period, 0, 0), "CounterPulseStart",
             {1u << counter, 1u << counter});
  trace.Collect();
  const OutputTimebase timebase = InferOutputTimebase(trace.All(), counter);
  context.out.Line(Format("counter %u: pulse output, period %s requested (%s); ", counter,
                          FormatSeconds(period).c_str(), FormatHz(1.0 / period).c_str()) +
                   timebase.Describe() + CountsText(timebase, "half period", nullptr));
  nlohmann::json& data = context.out.Data();
  data = {{"counter", counter}, {"periodSeconds", period}, {"timebaseHz", timebase.hz}};
  if (timebase.load) data["halfPeriodCounts"] = *timebase.load;
  data["output"] = ShowOutput(context, counter, false);
  OneShotNote(context);
}

void RunFreqOut(CommandContext& context, const CounterOptions& options) {
  const std::uint16_t counter = CounterArgument(options.counter);
  const unsigned source = ParseGeneratorSource(options.source.empty() ? "1MHz" : options.source);
  const std::uint16_t divisor = options.divisor.empty() ? std::uint16_t{1} : ParseU16(options.divisor, "divisor");
  CheckStart(context, FreqOutStart(context.session.Handle(), counter, divisor, ZQS_FREQOUT_SOURCE(source)),
             "FreqOutStart", {0, 1u << counter});
  const double expected = divisor != 0 ? GeneratorSourceHz(source) / divisor : 0;
  context.out.Line(Format("generator %u: %s / %u", counter, GeneratorSourceName(source).c_str(), divisor) +
                   (expected > 0 ? " = " + FormatHz(expected) : std::string()));
  nlohmann::json& data = context.out.Data();
  data = {{"counter", counter}, {"source", GeneratorSourceName(source)}, {"divisor", divisor}, {"expectedHz", expected}};
  data["output"] = ShowOutput(context, counter, true);
  OneShotNote(context);
}

void RunPwm(CommandContext& context, const CounterOptions& options) {
  const std::uint16_t counter = CounterArgument(options.counter);
  const float period = SecondsArgument(options.period, "--period");
  const float high = SecondsArgument(options.high, "--high");
  const std::uint32_t pulses = options.pulses.empty() ? 0 : ParseU32(options.pulses, "pulse count");
  const std::uint32_t h = context.session.Handle();
  TraceRecorder trace(context.session.Board());
  const std::uint32_t set = CounterPWMSetting(h, counter, period, high, pulses, 0);
  if (counter == 0 && pulses != 0 && ZQS_LOW_CODE(set) == ZQS_LOW_RANGE) {
    throw DeviceError("CounterPWMSetting", set,
                      "a pulse count (--count) works on counter 1 only: a counted run uses counter 0 as its "
                      "prescaler; counter 0 gives continuous PWM (leave out --count), or use 'pwm 1 ... --count " +
                          std::to_string(pulses) + "'");
  }
  // A counted run on counter n also takes counter n - 1 and its generator.
  const unsigned prescaler = pulses != 0 && counter >= 1 ? 1u << (counter - 1) : 0u;
  const Needs needs{(1u << counter) | prescaler, (1u << counter) | prescaler};
  CheckStart(context, set, "CounterPWMSetting", needs);
  const std::string line =
      Format("counter %u: PWM, period %s, high %s requested", counter, FormatSeconds(period).c_str(),
             FormatSeconds(high).c_str()) +
      (pulses ? Format(", %u periods", static_cast<unsigned>(pulses)) : std::string(", continuous"));
  nlohmann::json& data = context.out.Data();
  data = {{"counter", counter}, {"periodSeconds", period}, {"highSeconds", high}, {"pulses", pulses}};
  if (pulses == 0) {
    CheckStart(context, CounterPWMEnable(h, counter), "CounterPWMEnable", needs);
    trace.Collect();
    const OutputTimebase running = InferOutputTimebase(trace.All(), counter);
    context.out.Line(line + "; " + running.Describe() + CountsText(running, "low", "high"));
    data["timebaseHz"] = running.hz;
    if (running.load) data["lowCounts"] = *running.load;
    if (running.hold) data["highCounts"] = *running.hold;
    data["output"] = ShowOutput(context, counter, false);
    OneShotNote(context);
    return;
  }
  // A counted run: counter 0 is the prescaler whose window lets counter 1
  // run N periods; its terminal count (event 0x5000) ends the run.
  const double runSeconds = static_cast<double>(pulses) * period;
  const bool wait = context.session.Board() != nullptr && runSeconds <= 10 &&
                    EnableEvent(h, ZQS_EVENT_TERMINAL_COUNT0, 1, 1) == 0;
  const std::uint64_t start = platform::NowNs();
  const std::uint32_t enabled = CounterPWMEnable(h, counter);
  if (enabled != 0) {
    if (wait) EnableEvent(h, ZQS_EVENT_TERMINAL_COUNT0, 0, 0);
    CheckStart(context, enabled, "CounterPWMEnable", needs);
  }
  trace.Collect();
  const OutputTimebase running = InferOutputTimebase(trace.All(), counter);
  const PrescalerWindow window = InferPrescalerWindow(trace.All());
  context.out.Line(line + "; " + running.Describe() + CountsText(running, "low", "high"));
  context.out.Line(Format("counter 0 (prescaler) opens a window of %u counts of %s = %s", window.counts,
                          FormatHz(window.timebaseHz).c_str(), FormatSeconds(window.seconds).c_str()));
  data["timebaseHz"] = running.hz;
  data["windowSeconds"] = window.seconds;
  if (wait) {
    std::uint16_t type = 0;
    const auto timeoutMs = static_cast<std::uint32_t>(runSeconds * 1500 + 500);
    std::uint32_t waited = 0;
    while (type != ZQS_EVENT_TERMINAL_COUNT0 && waited < timeoutMs && !Interrupted()) {
      if (CheckEvent(h, &type, 100) != 0) break;
      waited += 100;
    }
    EnableEvent(h, ZQS_EVENT_TERMINAL_COUNT0, 0, 0);
    const double ms = static_cast<double>(platform::NowNs() - start) / 1e6;
    const bool ended = type == ZQS_EVENT_TERMINAL_COUNT0;
    data["ended"] = ended;
    if (ended) data["endedAfterSeconds"] = ms / 1000;
    context.out.Line(ended ? Format("the prescaler's terminal count ended the run after %.1f ms", ms)
                           : Format("no terminal count within %s", FormatSeconds(timeoutMs / 1000.0).c_str()));
  }
  data["output"] = ShowOutput(context, counter, false);
  context.out.Line("note: counter 0 keeps the prescaler's generator until 'reset 0'");
}

void RunPwmMeasure(CommandContext& context, const CounterOptions& options) {
  const std::uint16_t counter = CounterArgument(options.counter.empty() ? "0" : options.counter);
  TraceRecorder trace(context.session.Board());
  float first = 0;
  float second = 0;
  const std::uint32_t read = PWMStartRead(context.session.Handle(), counter, &first, &second);
  if (counter != 0 && ZQS_LOW_CODE(read) == ZQS_LOW_RANGE) {
    throw DeviceError("PWMStartRead", read,
                      "PWM measurement runs on counter 0 (with counter 1 as its partner), on the signal of CLK0; "
                      "use 'pwm-measure' or 'pwm-measure 0'");
  }
  CheckStart(context, read, "PWMStartRead", {0x3u, 0x1u});
  trace.Collect();
  nlohmann::json& data = context.out.Data();
  data = {{"counter", counter}, {"highUs", first}, {"lowUs", second}};
  const double periodUs = static_cast<double>(first) + second;
  std::string line = Format("CLK%u: high %s, low %s", counter, FormatSeconds(first * 1e-6).c_str(),
                            FormatSeconds(second * 1e-6).c_str());
  if (periodUs > 0) {
    data["periodSeconds"] = periodUs * 1e-6;
    data["hz"] = 1e6 / periodUs;
    data["dutyPercent"] = first / periodUs * 100;
    line += Format(" -> period %s (%s), duty %.1f %%", FormatSeconds(periodUs * 1e-6).c_str(),
                   FormatHz(1e6 / periodUs).c_str(), first / periodUs * 100);
  } else {
    line += " (no signal between 1 Hz and 5 MHz)";
  }
  if (context.session.Board() != nullptr) {
    const OutputTimebase timebase = InferPhaseTimebase(trace.All());
    line += "; phases timed on the " + (timebase.generator ? FormatHz(timebase.hz) : std::string("20 MHz")) +
            (timebase.generator ? " time base" : " base clock");
    data["timebaseHz"] = timebase.hz;
  }
  context.out.Line(line);
}

void RunReset(CommandContext& context, const CounterOptions& options) {
  const std::uint16_t counter = CounterArgument(options.counter);
  Check(CounterReset(context.session.Handle(), counter), "CounterReset");
  context.out.Line(Format("counter %u reset", counter));
  nlohmann::json& data = context.out.Data();
  data = {{"counter", counter}};
  data["output"] = ShowOutput(context, counter, false);
  data["frequencyOutput"] = ShowOutput(context, counter, true);
}

}  // namespace qio::tool
