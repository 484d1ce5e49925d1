// Tour steps of the counters: event counting with its terminal-count tally
// and event, frequency measurement across the ranges (with the method the
// trace shows), pulse, frequency and PWM output checked against the board's
// outputs, a counted PWM ending in a terminal-count event, and PWM
// measurement.
#include <cmath>

#include "Interrupt.h"
#include "ResultText.h"
#include "StatusView.h"
#include "Tour.h"
#include "TraceView.h"
#include "Units.h"
#include "qio/platform/clock.h"
#include "qio5162/Zqs5162.h"

namespace qio::tool {
namespace {

void SetInput(QioSimBoard* board, unsigned counter, double hz, double duty = 50) {
  if (qio_sim_set_counter_input(board, counter, hz, duty) != QIO_TARGET_OK) {
    throw DeviceError(std::string("setting CLK") + std::to_string(counter) + ": " + qio_target_last_message());
  }
}

struct Observed {
  double hz = 0;
  double high = 0;
};

Observed ObserveOutput(QioSimBoard* board, unsigned counter) {
  Observed o;
  if (qio_sim_get_output(board, counter, &o.hz, &o.high) != QIO_TARGET_OK) {
    throw DeviceError(std::string("observing OUT") + std::to_string(counter) + ": " + qio_target_last_message());
  }
  return o;
}

double ObserveFreqOut(QioSimBoard* board, unsigned generator) {
  double hz = 0;
  if (qio_sim_get_freqout(board, generator, &hz) != QIO_TARGET_OK) {
    throw DeviceError(std::string("observing FOUT") + std::to_string(generator) + ": " + qio_target_last_message());
  }
  return hz;
}

// Drops events still pending from earlier steps.
void DrainEvents(std::uint32_t h) {
  std::uint16_t type = 0;
  do {
    Check(CheckEvent(h, &type, 0), "CheckEvent");
  } while (type != ZQS_EVENT_TIMEOUT && type != ZQS_EVENT_DEVICE_CLOSED);
}

// Edges of a square wave of `hz` inside a window of `seconds`: the window's
// start phase decides one edge more or less.
bool CountMatches(std::uint32_t total, double hz, double seconds) {
  const double expected = hz * seconds;
  return std::fabs(static_cast<double>(total) - expected) <= 2.0 + expected * 1e-6;
}

}  // namespace

void TourEventCounting(TourRun& tour) {
  const std::uint32_t h = tour.Handle();
  tour.Step("event count", [&] {
    QioSimBoard* board = tour.Board();
    SetInput(board, 0, 1e6);
    TraceRecorder trace(board);
    Check(CounterEventStart(h, 0, 0), "CounterEventStart");
    SleepUnlessInterrupted(250);
    std::uint16_t tally = 0;
    std::uint32_t count = 0;
    Check(CounterEventRead(h, 0, &tally, &count), "CounterEventRead");
    trace.Collect();
    Check(CounterReset(h, 0), "CounterReset");
    const CountWindow window = InferCountWindow(trace.All(), 0);
    const double seconds = window.latchNs > window.armNs ? static_cast<double>(window.latchNs - window.armNs) / 1e9 : 0;
    const std::uint32_t total = static_cast<std::uint32_t>(tally) * 65536u + count;
    const bool matched = seconds > 0 && CountMatches(total, 1e6, seconds);
    return StepOutcome{matched,
                       Format("CLK0 = 1 MHz, CounterEventStart(0), CounterEventRead: tally %u x 65536 + count %u = %u; "
                              "the trace puts %.3f ms between arming and latch: %.0f edges of 1 MHz",
                              tally, count, total, seconds * 1e3, seconds * 1e6),
                       {{"tally", tally}, {"count", count}, {"total", total}, {"windowSeconds", seconds}}};
  });

  tour.Step("TC event", [&] {
    QioSimBoard* board = tour.Board();
    SetInput(board, 1, 1e6);
    DrainEvents(h);
    Check(EnableEvent(h, ZQS_EVENT_TERMINAL_COUNT1, 1, 1), "EnableEvent");
    Check(CounterEventStart(h, 1, 0), "CounterEventStart");
    std::uint16_t first = 0;
    std::uint16_t second = 0;
    Check(CheckEvent(h, &first, 1000), "CheckEvent");
    const std::uint64_t t1 = platform::NowNs();
    Check(CheckEvent(h, &second, 1000), "CheckEvent");
    const std::uint64_t t2 = platform::NowNs();
    // The interrupt service counts the tally after it signals the event.
    SleepUnlessInterrupted(10);
    std::uint16_t tally = 0;
    std::uint32_t count = 0;
    Check(CounterEventRead(h, 1, &tally, &count), "CounterEventRead");
    Check(EnableEvent(h, ZQS_EVENT_TERMINAL_COUNT1, 0, 0), "EnableEvent");
    Check(CounterReset(h, 1), "CounterReset");
    const bool matched = first == ZQS_EVENT_TERMINAL_COUNT1 && second == ZQS_EVENT_TERMINAL_COUNT1 && tally >= 2;
    return StepOutcome{matched, Format("CLK1 = 1 MHz, EnableEvent(0x5001), CounterEventStart(1): CheckEvent %s, %s "
                                       "%.1f ms apart (65536 edges = 65.5 ms); tally %u",
                                       EventTypeName(first).c_str(), EventTypeName(second).c_str(),
                                       static_cast<double>(t2 - t1) / 1e6, tally)};
  });
}

void TourFrequency(TourRun& tour) {
  struct Case {
    const char* name;
    double hz;
    unsigned gate;
    FrequencyMethod::Kind method;
  };
  using Kind = FrequencyMethod::Kind;
  const Case cases[] = {
      {"freq 100 Hz", 100, 0, Kind::PeriodSlow},     {"freq 1 kHz", 1e3, 0, Kind::PeriodBase},
      {"freq 20 kHz", 20e3, 0, Kind::LongGate1s},    {"freq 1 MHz", 1e6, 0, Kind::MediumRange},
      {"freq 8 MHz", 8e6, 0, Kind::GateEdges},       {"freq gate 10ms", 50e3, 10, Kind::FixedGate},
  };
  for (const Case& c : cases) {
    tour.Step(c.name, [&] {
      QioSimBoard* board = tour.Board();
      SetInput(board, 0, c.hz);
      const FrequencyReading reading = MeasureFrequency(tour.context(), 0, c.gate, false);
      Check(CounterReset(tour.Handle(), 0), "CounterReset");
      const bool matched = Near(reading.hz, c.hz, 0.005) && reading.method.kind == c.method && reading.passEnded;
      StepOutcome outcome{matched,
                          Format("CLK0 = %s: CounterFreqRead %s by the %s", FormatHz(c.hz).c_str(),
                                 FormatHz(reading.hz).c_str(), reading.method.name.c_str()) +
                              (c.gate ? Format(" (CounterFreqStart gate %u)", c.gate) : std::string()) + " -- " +
                              reading.method.description};
      outcome.data = {{"inputHz", c.hz}, {"measuredHz", reading.hz}, {"method", reading.method.name}};
      return outcome;
    });
  }
}

void TourOutputs(TourRun& tour) {
  const std::uint32_t h = tour.Handle();
  tour.Step("pulse", [&] {
    QioSimBoard* board = tour.Board();
    TraceRecorder trace(board);
    Check(CounterPulseStart(h, 1, 0.01f, 0, 0), "CounterPulseStart");
    trace.Collect();
    const Observed out = ObserveOutput(board, 1);
    const OutputTimebase timebase = InferOutputTimebase(trace.All(), 1);
    Check(CounterReset(h, 1), "CounterReset");
    const Observed after = ObserveOutput(board, 1);
    // T = 10 ms: 2 / T = 200 picks 10 MHz / 2, half period 25000 counts.
    const bool matched = Near(out.hz, 100, 1e-4) && Near(out.high, 0.005, 1e-3) && after.hz == 0 &&
                         timebase.hz == 5e6 && timebase.load == 25000u;
    return StepOutcome{matched,
                       Format("CounterPulseStart(1, 10 ms): OUT1 %s, high %s (expected 100 Hz, 5 ms); %s, "
                              "half period %u counts; after CounterReset OUT1 %s",
                              FormatHz(out.hz).c_str(), FormatSeconds(out.high).c_str(), timebase.Describe().c_str(),
                              static_cast<unsigned>(timebase.load.value_or(0)),
                              after.hz == 0 ? "stopped" : "still runs")};
  });

  tour.Step("freq output", [&] {
    QioSimBoard* board = tour.Board();
    Check(FreqOutStart(h, 0, 4, ZQS_FREQOUT_SOURCE(4)), "FreqOutStart");
    const double hz = ObserveFreqOut(board, 0);
    Check(FreqOutReset(h, 0), "FreqOutReset");
    const double after = ObserveFreqOut(board, 0);
    const bool matched = Near(hz, 250e3, 1e-6) && after == 0;
    return StepOutcome{matched, Format("FreqOutStart(0, 1 MHz / 4): FOUT0 %s (expected 250 kHz); after FreqOutReset %s",
                                       FormatHz(hz).c_str(), FormatHz(after).c_str())};
  });

  tour.Step("PWM output", [&] {
    QioSimBoard* board = tour.Board();
    TraceRecorder trace(board);
    Check(CounterPWMSetting(h, 1, 0.01f, 0.0025f, 0, 0), "CounterPWMSetting");
    Check(CounterPWMEnable(h, 1), "CounterPWMEnable");
    trace.Collect();
    const Observed out = ObserveOutput(board, 1);
    const OutputTimebase timebase = InferOutputTimebase(trace.All(), 1);
    Check(CounterReset(h, 1), "CounterReset");
    const bool matched = Near(out.hz, 100, 1e-4) && Near(out.high, 0.0025, 1e-3);
    return StepOutcome{matched,
                       Format("CounterPWMSetting(1, 10 ms, high 2.5 ms) + CounterPWMEnable: OUT1 %s, high %s "
                              "(expected 100 Hz, 2.5 ms); %s, low %u + high %u counts",
                              FormatHz(out.hz).c_str(), FormatSeconds(out.high).c_str(), timebase.Describe().c_str(),
                              static_cast<unsigned>(timebase.load.value_or(0)),
                              static_cast<unsigned>(timebase.hold.value_or(0)))};
  });

  tour.Step("counted PWM", [&] {
    QioSimBoard* board = tour.Board();
    DrainEvents(h);
    TraceRecorder trace(board);
    Check(EnableEvent(h, ZQS_EVENT_TERMINAL_COUNT0, 1, 1), "EnableEvent");
    Check(CounterPWMSetting(h, 1, 0.002f, 0.001f, 5, 0), "CounterPWMSetting");
    Check(CounterPWMEnable(h, 1), "CounterPWMEnable");
    const std::uint64_t start = platform::NowNs();
    std::uint16_t type = 0;
    Check(CheckEvent(h, &type, 1000), "CheckEvent");
    const double ms = static_cast<double>(platform::NowNs() - start) / 1e6;
    trace.Collect();
    const Observed after = ObserveOutput(board, 1);
    int level = 1;
    qio_sim_get_output_level(board, 1, &level);
    Check(EnableEvent(h, ZQS_EVENT_TERMINAL_COUNT0, 0, 0), "EnableEvent");
    // The prescaler on counter 0 keeps its generator until counter 0 is reset.
    Check(CounterReset(h, 1), "CounterReset");
    Check(CounterReset(h, 0), "CounterReset");
    const PrescalerWindow window = InferPrescalerWindow(trace.All());
    const bool matched = type == ZQS_EVENT_TERMINAL_COUNT0 && after.hz == 0 && level == 0 &&
                         Near(window.seconds, 0.010, 1e-3);
    return StepOutcome{matched,
                       Format("CounterPWMSetting(1, 2 ms, high 1 ms, 5 periods): counter 0 opens a window of %u counts "
                              "of %s = %s (5 periods); CheckEvent %s (%s) after %.1f ms, then OUT1 %s",
                              window.counts, FormatHz(window.timebaseHz).c_str(), FormatSeconds(window.seconds).c_str(),
                              EventTypeName(type).c_str(), Hex(type, 4).c_str(), ms,
                              after.hz == 0 && level == 0 ? "is low and idle" : "still runs")};
  });
}

void TourPwmMeasurement(TourRun& tour) {
  tour.Step("PWM measure", [&] {
    QioSimBoard* board = tour.Board();
    SetInput(board, 0, 1e3, 25);
    TraceRecorder trace(board);
    float high = 0;
    float low = 0;
    Check(PWMStartRead(tour.Handle(), 0, &high, &low), "PWMStartRead");
    trace.Collect();
    const OutputTimebase timebase = InferPhaseTimebase(trace.All());
    const bool matched = Near(high, 250, 0.01) && Near(low, 750, 0.01);
    return StepOutcome{matched,
                       Format("CLK0 = 1 kHz at 25 %%: PWMStartRead high %.1f us, low %.1f us (expected 250, 750) on "
                              "the %s",
                              high, low,
                              timebase.generator ? (FormatHz(timebase.hz) + " time base").c_str() : "20 MHz base clock")};
  });
}

void TourDriverState(TourRun& tour) {
  tour.Step("driver state", [&] {
    const std::uint32_t h = tour.Handle();
    // Three functions side by side, then a start that needs what one holds.
    Check(CounterPulseStart(h, 0, 0.01f, 0, 0), "CounterPulseStart");
    Check(CounterEventStart(h, 1, 0), "CounterEventStart");
    Check(FreqOutStart(h, 1, 4, ZQS_FREQOUT_SOURCE(4)), "FreqOutStart");
    const QioDriverState state = DeviceState(tour.context());
    const std::uint32_t refused = CounterFreqStart(h, 0, 0, 0);
    const std::vector<std::string> hints = BusyHints(DeviceState(tour.context()), {0x3, 0x1});
    Check(CounterReset(h, 0), "CounterReset");
    Check(CounterReset(h, 1), "CounterReset");
    const QioDriverState after = DeviceState(tour.context());
    const bool matched =
        state.counters[0].function == QIO_FUNCTION_PULSE && state.generators[0].owner == QIO_GENERATOR_PULSE &&
        state.counters[1].function == QIO_FUNCTION_EVENT_COUNT && state.generators[1].owner == QIO_GENERATOR_FREQOUT &&
        state.generators[1].word == 0x1403 && refused == tour.ErrorBase() + ZQS_LOW_BUSY && !hints.empty() &&
        hints.front() == "counter 0 is in use by a pulse output (period 10 ms)" &&
        after.counters[0].function == QIO_FUNCTION_IDLE && after.counters[1].function == QIO_FUNCTION_IDLE &&
        after.generators[1].owner == QIO_GENERATOR_IDLE;
    return StepOutcome{matched, "the driver's state (qio_target_driver_state): counter 0 " + CounterText(state, 0) +
                                    "; counter 1 " + CounterText(state, 1) + "; generator 1 " +
                                    GeneratorOwnerName(state.generators[1].owner) + " " +
                                    FormatHz(GeneratorWordHz(state.generators[1].word)) +
                                    "; CounterFreqStart(0) refused: " + (hints.empty() ? "" : hints.front()) +
                                    "; after CounterReset both idle"};
  });
}

}  // namespace qio::tool
