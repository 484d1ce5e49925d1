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

// Whether an access shows that the background pass has published its
// result. Most passes latch their count once and publish it at once. The
// slow period method may latch the phases twice more (a phase of a signal
// near 1 Hz still counting after the pass) and publishes before it releases
// its time base: the write that stops generator 0.
bool PassPublished(const FrequencyMethod& method, const QioPortAccess& access) {
  if (method.kind == FrequencyMethod::Kind::PeriodSlow) {
    return access.isWrite && access.offset == reg::Generator(0) && (access.value & reg::kGeneratorEnable) == 0;
  }
  return !access.isWrite && access.offset == reg::Hold(1);
}

// Up to how long a pass may take: the slow period method's completion wait
// comes on top of its pass.
double LongestPass(const FrequencyMethod& method) {
  constexpr double kSlowCompletion = 0.71;
  return method.passSeconds + (method.kind == FrequencyMethod::Kind::PeriodSlow ? kSlowCompletion : 0.0);
}

// Waits until the pass that runs in the background has published its result,
// with a progress bar on a terminal.
bool WaitForPass(CommandContext& context, TraceRecorder& trace, const FrequencyMethod& method, std::size_t from) {
  const double total = method.passSeconds;
  const double longest = LongestPass(method);
  const auto timeoutMs = static_cast<std::uint32_t>(longest * 1000 + 3000);
  const long at = trace.WaitFor(
      from, timeoutMs, [&method](const QioPortAccess& access) { return PassPublished(method, access); },
      [&](double waited) {
        const int width = 20;
        const int done = std::min(width, static_cast<int>(waited / longest * width));
        context.out.Progress(Format("measuring [%s%s] %.1f s of about %.1f s%s", std::string(done, '#').c_str(),
                                    std::string(width - done, ' ').c_str(), waited, total,
                                    longest > total ? Format(" (up to %.1f s)", longest).c_str() : ""));
      });
  context.out.ClearInPlace();
  // The thread stores its result right after reading the count.
  SleepUnlessInterrupted(30);
  return at >= 0;
}

}  // namespace

std::uint16_t CounterArgument(const std::string& text) { return ParseCounter(text); }

FrequencyReading MeasureFrequency(CommandContext& context, std::uint16_t counter, unsigned gateMs,
                                  TraceRecorder& trace, bool announce) {
  const std::uint32_t h = context.session.Handle();
  FrequencyReading reading;
  reading.haveTrace = context.session.Board() != nullptr;
  trace.Clear();
  const std::uint32_t started = CounterFreqStart(h, counter, static_cast<std::uint16_t>(gateMs), 0);
  if (counter != 0 && ZQS_LOW_CODE(started) == ZQS_LOW_RANGE) {
    throw DeviceError("CounterFreqStart", started,
                      "only counter 0 measures frequency (counter 1 is its partner); put the signal on CLK0 and "
                      "use 'freq 0'");
  }
  Check(started, "CounterFreqStart");
  trace.Collect();
  reading.method = InferFrequencyMethod(trace.All(), gateMs);
  if (reading.haveTrace && reading.method.background) {
    if (announce) {
      const double longest = LongestPass(reading.method);
      context.out.Line(Format("measuring: %s; about %.1f s", reading.method.description.c_str(),
                              reading.method.passSeconds) +
                       (longest > reading.method.passSeconds ? Format(" (up to %.1f s)", longest) : std::string()));
    }
    reading.passEnded = WaitForPass(context, trace, reading.method, trace.All().size());
    if (!reading.passEnded && Interrupted()) throw DeviceError("measurement interrupted");
    if (!reading.passEnded && announce) {
      context.out.Line("the measurement pass did not end in time; reading what the driver has");
    }
  }
  Check(CounterFreqRead(h, counter, &reading.hz), "CounterFreqRead");
  return reading;
}

void RunCountStart(CommandContext& context, const CounterOptions& options) {
  const std::uint16_t counter = CounterArgument(options.counter);
  Check(CounterEventStart(context.session.Handle(), counter, 0), "CounterEventStart");
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
  if (started == ZQS_ERROR_BASE(context.session.DeviceNumber()) + ZQS_LOW_BUSY) {
    restarted = false;
    context.out.Line(Format("counter %u is running already: watching what it counts", counter));
  } else {
    Check(started, "CounterEventStart");
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
  TraceRecorder trace(context.session.Board());
  const FrequencyReading reading = MeasureFrequency(context, counter, gate, trace, true);
  float hz = reading.hz;
  FrequencyMethod method = reading.method;
  const bool haveTrace = reading.haveTrace;
  nlohmann::json& data = context.out.Data();
  data = {{"counter", counter}, {"gateMs", gate}, {"hz", hz}};
  if (haveTrace) {
    data["method"] = method.name;
    data["methodDetail"] = method.description;
    if (method.gateEdges) data["gateEdges"] = *method.gateEdges;
  }
  context.out.Line(Format("counter %u: %s", counter, FormatHz(hz).c_str()) +
                   (haveTrace && !method.background ? "  (" + method.description + ")"
                                                    : haveTrace ? "  (" + method.name + ")" : std::string()));
  if (!options.watch) return;

  // Watch: one reading per measurement pass (background methods) or every
  // half second; each read lets the driver start the next pass.
  nlohmann::json readings = nlohmann::json::array();
  const std::uint64_t begin = platform::NowNs();
  context.out.Line(duration > 0 ? "watching for " + FormatSeconds(duration) + " (Ctrl-C stops)"
                                : std::string("watching until Ctrl-C"));
  while (!Interrupted() && (duration <= 0 || Seconds(begin) < duration)) {
    trace.Clear();
    if (haveTrace && method.background) {
      trace.WaitFor(0, static_cast<std::uint32_t>(LongestPass(method) * 1000 + 3000),
                    [&method](const QioPortAccess& access) { return PassPublished(method, access); },
                    [](double) {});
      SleepUnlessInterrupted(30);
    } else if (!SleepUnlessInterrupted(500)) {
      break;
    }
    if (Interrupted()) break;
    Check(CounterFreqRead(h, counter, &hz), "CounterFreqRead");
    trace.Collect();
    if (haveTrace && !trace.All().empty()) {
      const FrequencyMethod next = InferFrequencyMethod(trace.All(), gate);
      if (next.kind != FrequencyMethod::Kind::Unknown) method = next;
    }
    const double t = Seconds(begin);
    readings.push_back({{"t", t}, {"hz", hz}, {"method", method.name}});
    context.out.InPlace(Format("%7.2f s  %s  (%s)", t, FormatHz(hz).c_str(), method.name.c_str()), true);
  }
  context.out.EndInPlace();
  data["readings"] = readings;
}

}  // namespace qio::tool
