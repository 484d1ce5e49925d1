// count and freq: event counting and frequency measurement on the counters.
#include <cmath>

#include <algorithm>

#include "Commands.h"
#include "Interrupt.h"
#include "ResultText.h"
#include "TraceView.h"
#include "Units.h"
#include "qio/platform/clock.h"
#include "qio5162/Zqs5162.h"

namespace qio::tool {
namespace {

struct CountSample {
  std::uint16_t tally = 0;
  std::uint32_t count = 0;
  std::uint32_t Total() const { return static_cast<std::uint32_t>(tally) * 65536u + count; }
};

CountSample ReadCount(std::uint32_t h, std::uint16_t counter) {
  CountSample sample;
  Check(CounterEventRead(h, counter, &sample.tally, &sample.count), "CounterEventRead");
  return sample;
}

void OneShotNote(CommandContext& context, const char* what) {
  if (!context.persistent) {
    context.out.Line(std::string("note: ") + what +
                     " stops when this command closes the device; use 'qio5162 shell' or 'run' to keep it going");
  }
}

double Seconds(std::uint64_t fromNs) { return static_cast<double>(platform::NowNs() - fromNs) / 1e9; }

// Frequency measurement on counter n takes block n + 1 as its partner, and
// generator n as its gate clock.
Needs FrequencyNeeds(unsigned counter) {
  return {(1u << counter) | (counter + 1 < QIO_STATE_COUNTERS ? 1u << (counter + 1) : 0u), 1u << counter};
}

const QioFrequencyState& FrequencyOf(const QioDriverState& state, unsigned counter) {
  return state.counters[counter].frequency;
}

// Waits until `done` holds for the driver's state of the measurement (polled
// every 20 ms), at most `timeoutMs`; `onTick` gets the seconds waited. False
// on the time-out or Ctrl-C.
template <typename Done, typename Tick>
bool WaitForState(CommandContext& context, std::uint32_t timeoutMs, Done done, Tick onTick) {
  const std::uint64_t start = platform::NowNs();
  while (!done(DeviceState(context))) {
    const double waited = Seconds(start);
    if (waited * 1000 >= timeoutMs) return false;
    onTick(waited);
    if (!SleepUnlessInterrupted(20)) return false;
  }
  return true;
}

std::uint32_t PassTimeoutMs(const FrequencyMethod& method) {
  return static_cast<std::uint32_t>(LongestPass(method) * 1000 + 3000);
}

// Waits until the driver has published the measurement's first result, with
// a progress bar on a terminal.
bool WaitForFirstResult(CommandContext& context, std::uint16_t counter, const FrequencyMethod& method) {
  const double total = method.passSeconds;
  const double longest = LongestPass(method);
  const bool published = WaitForState(
      context, PassTimeoutMs(method),
      [counter](const QioDriverState& state) { return (FrequencyOf(state, counter).flags & QIO_FREQ_PUBLISHED) != 0; },
      [&](double waited) {
        const int width = 20;
        const int done = std::min(width, static_cast<int>(waited / longest * width));
        context.out.Progress(Format("measuring [%s%s] %.1f s of about %.1f s%s", std::string(done, '#').c_str(),
                                    std::string(width - done, ' ').c_str(), waited, total,
                                    longest > total ? Format(" (up to %.1f s)", longest).c_str() : ""));
      });
  context.out.ClearInPlace();
  return published;
}

}  // namespace

std::uint16_t CounterArgument(const std::string& text) { return ParseCounter(text); }

FrequencyReading MeasureFrequency(CommandContext& context, std::uint16_t counter, unsigned gateMs, bool announce) {
  const std::uint32_t h = context.session.Handle();
  FrequencyReading reading;
  const std::uint32_t started = CounterFreqStart(h, counter, static_cast<std::uint16_t>(gateMs), 0);
  if (counter != 0 && ZQS_LOW_CODE(started) == ZQS_LOW_RANGE) {
    throw DeviceError("CounterFreqStart", started,
                      "only counter 0 measures frequency (counter 1 is its partner); put the signal on CLK0 and "
                      "use 'freq 0'");
  }
  CheckStart(context, started, "CounterFreqStart", FrequencyNeeds(counter));
  // The driver says how it measures, and whether the result is there yet.
  QioDriverState state = DeviceState(context);
  reading.method = DescribeFrequency(state, counter);
  if (reading.method.background && (FrequencyOf(state, counter).flags & QIO_FREQ_PUBLISHED) == 0) {
    if (announce) {
      const double longest = LongestPass(reading.method);
      context.out.Line(Format("measuring: %s; about %.1f s", reading.method.description.c_str(),
                              reading.method.passSeconds) +
                       (longest > reading.method.passSeconds ? Format(" (up to %.1f s)", longest) : std::string()));
    }
    reading.passEnded = WaitForFirstResult(context, counter, reading.method);
    if (!reading.passEnded && Interrupted()) throw DeviceError("measurement interrupted");
    if (!reading.passEnded && announce) {
      context.out.Line("the measurement pass did not end in time; reading what the driver has");
    }
    state = DeviceState(context);
  }
  reading.sequence = FrequencyOf(state, counter).sequence;
  Check(CounterFreqRead(h, counter, &reading.hz), "CounterFreqRead");
  return reading;
}

void RunCountStart(CommandContext& context, const CounterOptions& options) {
  const std::uint16_t counter = CounterArgument(options.counter);
  CheckStart(context, CounterEventStart(context.session.Handle(), counter, 0), "CounterEventStart",
             {1u << counter, 0});
  context.out.Data() = {{"counter", counter}, {"started", true}};
  context.out.Line(Format("counter %u: event counting started (rising edges on CLK%u)", counter, counter));
  OneShotNote(context, "counting");
}

void RunCountRead(CommandContext& context, const CounterOptions& options) {
  const std::uint16_t counter = CounterArgument(options.counter);
  const CountSample sample = ReadCount(context.session.Handle(), counter);
  context.out.Data() = {{"counter", counter}, {"count", sample.count}, {"tally", sample.tally}, {"total", sample.Total()}};
  context.out.Line(Format("counter %u: total %u (tally %u x 65536 + count %u)", counter, sample.Total(), sample.tally,
                          sample.count));
}

void RunCountWatch(CommandContext& context, const CounterOptions& options) {
  const std::uint16_t counter = CounterArgument(options.counter);
  const double duration = options.duration.empty() ? 0 : ParseDuration(options.duration);
  const std::uint32_t h = context.session.Handle();
  const std::uint32_t started = CounterEventStart(h, counter, 0);
  bool restarted = true;
  // A count that runs already is watched; any other function is in the way.
  if (IsBusy(started) && DeviceState(context).counters[counter].function == QIO_FUNCTION_EVENT_COUNT) {
    restarted = false;
    context.out.Line(Format("counter %u is running already: watching what it counts", counter));
  } else {
    CheckStart(context, started, "CounterEventStart", {1u << counter, 0});
  }
  context.out.Line(duration > 0 ? Format("counter %u: watching for %s (Ctrl-C stops)", counter,
                                         FormatSeconds(duration).c_str())
                                : Format("counter %u: watching until Ctrl-C", counter));
  const std::uint64_t begin = platform::NowNs();
  nlohmann::json samples = nlohmann::json::array();
  CountSample last = ReadCount(h, counter);
  std::uint64_t lastNs = platform::NowNs();
  double rate = 0;
  while (!Interrupted()) {
    // Every 250 ms, and the last sample when the time given is up.
    unsigned step = 250;
    if (duration > 0) step = static_cast<unsigned>(std::lround(std::clamp((duration - Seconds(begin)) * 1000.0, 0.0, 250.0)));
    const bool more = SleepUnlessInterrupted(step);
    const CountSample now = ReadCount(h, counter);
    const std::uint64_t nowNs = platform::NowNs();
    rate = static_cast<double>(now.Total() - last.Total()) / (static_cast<double>(nowNs - lastNs) / 1e9);
    last = now;
    lastNs = nowNs;
    const double t = Seconds(begin);
    samples.push_back({{"t", t}, {"total", now.Total()}, {"tally", now.tally}, {"count", now.count}});
    context.out.InPlace(Format("%7.2f s  total %10u  (tally %5u, count %5u)  %.0f edges/s", t, now.Total(),
                               now.tally, now.count, rate),
                        true);
    if (!more || (duration > 0 && t >= duration)) break;
  }
  context.out.EndInPlace();
  context.out.Data() = {{"counter", counter}, {"started", restarted}, {"samples", samples},
                        {"total", last.Total()}, {"rate", rate}};
}

void RunFreq(CommandContext& context, const CounterOptions& options) {
  const std::uint16_t counter = CounterArgument(options.counter);
  unsigned gate = 0;
  if (!options.gate.empty()) {
    const double ms = ParseDuration(options.gate, 0.001) * 1000.0;
    if (ms < 1 || ms > 2000 || std::fabs(ms - std::round(ms)) > 1e-6) {
      throw UsageError("gate '" + options.gate + "': expected whole milliseconds from 1 to 2000");
    }
    gate = static_cast<unsigned>(std::lround(ms));
  }
  const double duration = options.duration.empty() ? 0 : ParseDuration(options.duration);
  const std::uint32_t h = context.session.Handle();
  const FrequencyReading reading = MeasureFrequency(context, counter, gate, true);
  float hz = reading.hz;
  FrequencyMethod method = reading.method;
  nlohmann::json& data = context.out.Data();
  data = {{"counter", counter}, {"gateMs", gate}, {"hz", hz}, {"method", method.name},
          {"methodDetail", method.description}};
  if (method.gateEdges) data["gateEdges"] = *method.gateEdges;
  context.out.Line(Format("counter %u: %s", counter, FormatHz(hz).c_str()) + "  (" +
                   (method.background ? method.name : method.description) + ")");
  if (!options.watch) return;

  // Watch: one reading per published result (background methods) or every
  // half second; each read lets the driver start the next pass.
  nlohmann::json readings = nlohmann::json::array();
  const std::uint64_t begin = platform::NowNs();
  std::uint32_t shown = reading.sequence;
  context.out.Line(duration > 0 ? "watching for " + FormatSeconds(duration) + " (Ctrl-C stops)"
                                : std::string("watching until Ctrl-C"));
  while (!Interrupted() && (duration <= 0 || Seconds(begin) < duration)) {
    if (method.background) {
      WaitForState(
          context, PassTimeoutMs(method),
          [counter, shown](const QioDriverState& state) { return FrequencyOf(state, counter).sequence != shown; },
          [](double) {});
    } else if (!SleepUnlessInterrupted(500)) {
      break;
    }
    if (Interrupted()) break;
    // The read returns what was published before it (a pass it starts runs
    // on in the background).
    shown = FrequencyOf(DeviceState(context), counter).sequence;
    Check(CounterFreqRead(h, counter, &hz), "CounterFreqRead");
    const FrequencyMethod next = DescribeFrequency(DeviceState(context), counter);
    if (next.kind != FrequencyMethod::Kind::Unknown) method = next;
    const double t = Seconds(begin);
    readings.push_back({{"t", t}, {"hz", hz}, {"method", method.name}});
    context.out.InPlace(Format("%7.2f s  %s  (%s)", t, FormatHz(hz).c_str(), method.name.c_str()), true);
  }
  context.out.EndInPlace();
  data["readings"] = readings;
}

}  // namespace qio::tool
