// Measurement quality of the frequency measurement: sweeps the board model's
// counter-0 input from 1 Hz to 20 MHz and measures each point with automatic
// ranging and with fixed gates of 10, 100 and 1000 ms. For each it prints the
// method the driver chose (read from the register trace), the result, its
// relative error, the time from the start to the first valid result, and
// whether the error exceeds what the method can resolve.
//
//   counter_accuracy [--quick] [hz ...]
//
// --quick leaves out the 1000 ms gate. Exit code 1 when any point is flagged.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qio/platform/clock.h"
#include "qio/protocol/ioctl.h"
#include "qio/protocol/records.h"
#include "qio5162/target.h"

namespace {

namespace proto = qio::protocol;
namespace platform = qio::platform;

constexpr std::uint16_t kBoardBase = 0x300;
constexpr std::uint32_t kPollMs = 10;
constexpr double kMarkerHz = 1'357'913.0;

struct Session {
  QioTarget* target = nullptr;
  QioSimBoard* board = nullptr;
  QioStream* stream = nullptr;
};

template <typename Record>
int Send(Session& s, std::uint32_t code, const Record& record, void* out, std::uint32_t outLength,
         std::uint32_t* error) {
  std::uint8_t in[sizeof(Record)];
  proto::Store(record, in, sizeof in);
  if (out != nullptr) std::memcpy(out, in, std::min<std::size_t>(outLength, sizeof in));
  std::uint32_t returned = 0;
  return qio_target_device_ioctl(s.stream, code, in, sizeof in, out, outLength, &returned, error);
}

struct Reading {
  int result = 0;
  std::uint32_t error = 0;
  float hz = 0;
};

Reading FreqRead(Session& s) {
  std::uint8_t out[8] = {};
  Reading r;
  r.result = Send(s, proto::IOCTL_COUNTER_FREQ_READ, proto::CounterFreqReadRecord{0, 0, 0.0f}, out, 8, &r.error);
  r.hz = proto::Load<proto::CounterFreqReadRecord>(out, 8).frequency;
  return r;
}

// What the register writes of a measurement show about the method.
struct MethodTrace {
  bool basePeriod = false;
  bool slowPeriod = false;
  bool generator1s = false;
  bool generator2s = false;
  bool mediumRow = false;

  void Add(QioSimBoard* board) {
    QioPortAccess chunk[512];
    for (;;) {
      std::size_t count = 0;
      if (qio_sim_trace_read(board, chunk, 512, &count) != QIO_TARGET_OK || count == 0) return;
      for (std::size_t i = 0; i < count; ++i) {
        const QioPortAccess& a = chunk[i];
        if (!a.isWrite) continue;
        if (a.offset == 0x00 && a.value == 0xA040) basePeriod = true;
        if (a.offset == 0x00 && a.value == 0xA440) slowPeriod = true;
        if (a.offset == 0x38 && a.value == 0x1600) generator1s = true;
        if (a.offset == 0x38 && a.value == 0x1601) generator2s = true;
        if (a.offset == 0x38 && (a.value == 0x1400 || a.value == 0x1500) && !slowPeriod) mediumRow = true;
      }
    }
  }

  // The method behind the published value, with the resolution it offers.
  std::string Name(double hz, double* resolutionHz) const {
    if (generator2s) {
      *resolutionHz = 0.5;
      return "long gate 2 s";
    }
    if (generator1s) {
      *resolutionHz = 1.0;
      return "long gate 1 s";
    }
    if (slowPeriod) {
      // One tick of 10 us in a period of 100000 / f ticks.
      *resolutionHz = hz * hz / 100'000.0;
      return "period, 100 kHz";
    }
    if (basePeriod && hz < 5000.0) {
      *resolutionHz = hz * hz / 20'000'000.0;
      return "period, 20 MHz";
    }
    *resolutionHz = 500.0;  // one edge in 2 ms
    return mediumRow ? "2 ms gate (row)" : "2 ms gate";
  }
};

struct Point {
  double hz;
  double phase;
};

struct Outcome {
  std::string method;
  float result = 0;
  double relativeError = 0;
  double validMs = -1;  // time to the first valid result, -1 if none
  bool flagged = false;
  std::uint32_t error = 0;
};

bool ResetCounter(Session& s) {
  std::uint32_t error = 0;
  return Send(s, proto::IOCTL_COUNTER_RESET, proto::CounterResetRequest{0}, nullptr, 0, &error) == 1;
}

// Leaves a published value that no sweep point has, so that a stale value of
// the previous point cannot pass for a result: a 2 ms gate of 1 357 913 Hz.
void PublishMarker(Session& s) {
  ResetCounter(s);
  qio_sim_set_counter_input(s.board, 0, kMarkerHz, 50.0);
  std::uint32_t error = 0;
  Send(s, proto::IOCTL_COUNTER_FREQ_START, proto::CounterFreqStartRequest{0, 0, 0}, nullptr, 0, &error);
}

// One measurement: start with `method`, then read until the result is valid
// (within the method's resolution) or the time is up.
Outcome Measure(Session& s, const Point& point, std::uint16_t method) {
  PublishMarker(s);
  ResetCounter(s);
  qio_sim_set_counter_input_ex(s.board, 0, point.hz, 50.0, point.phase);
  qio_sim_trace_enable(s.board, 1);
  MethodTrace trace;
  trace.Add(s.board);  // drop older entries
  trace = MethodTrace{};

  Outcome outcome;
  const std::uint64_t begin = platform::NowNs();
  std::uint32_t error = 0;
  const int started =
      Send(s, proto::IOCTL_COUNTER_FREQ_START, proto::CounterFreqStartRequest{0, method, 0}, nullptr, 0, &error);
  const double limitMs = method == 0 ? 9000.0 : 2.0 * method + 1500.0;
  // A fixed gate resolves one edge per gate.
  const double gateResolution = method == 0 ? 0.0 : 1000.0 / method;
  Reading reading;
  for (;;) {
    reading = FreqRead(s);
    trace.Add(s.board);
    const double elapsedMs = static_cast<double>(platform::NowNs() - begin) / 1e6;
    double resolution = gateResolution;
    if (method == 0) outcome.method = trace.Name(point.hz, &resolution);
    const double tolerance = std::max(resolution, point.hz * 1e-6);
    // A fixed gate publishes its first count after two gate lengths.
    const bool fresh = method == 0 || elapsedMs >= 2.0 * method;
    if (fresh && reading.result == 1 && std::abs(reading.hz - point.hz) <= tolerance) {
      outcome.validMs = elapsedMs;
      break;
    }
    if (elapsedMs > limitMs) {
      // Not valid in time: wrong, unless even one count is more than the
      // value itself (a gate too short for the signal).
      outcome.flagged = !(method != 0 && gateResolution >= point.hz) && reading.error != 0x20000020u;
      break;
    }
    platform::Sleep(kPollMs);
  }
  if (method != 0) {
    char name[32];
    std::snprintf(name, sizeof name, "fixed %u ms", method);
    outcome.method = name;
  }
  if (started != 1 && error == 0x20000020u) outcome.method += " (start: over range)";
  if (method != 0 && gateResolution >= point.hz) outcome.method += " (< 1 count)";
  outcome.result = reading.hz;
  outcome.error = reading.result == 1 ? 0 : reading.error;
  outcome.relativeError = (reading.hz - point.hz) / point.hz;
  qio_sim_trace_enable(s.board, 0);
  return outcome;
}

void Print(const Point& point, std::uint16_t method, const Outcome& o) {
  char valid[24];
  if (o.validMs >= 0) {
    std::snprintf(valid, sizeof valid, "%9.0f ms", o.validMs);
  } else {
    std::snprintf(valid, sizeof valid, "%12s", "never");
  }
  char status[24] = "";
  if (o.error != 0) std::snprintf(status, sizeof status, " err 0x%08X", o.error);
  std::printf("%12.3f  %5.2f  %-6s %-26s %15.3f  %+10.2e %s%s%s\n", point.hz, point.phase,
              method == 0 ? "auto" : "fixed", o.method.c_str(), static_cast<double>(o.result), o.relativeError,
              valid, status, o.flagged ? "  <-- WRONG" : "");
  std::fflush(stdout);
}

std::vector<Point> DefaultPoints() {
  std::vector<Point> points;
  for (double decade = 1.0; decade <= 10'000'000.0; decade *= 10.0) {
    for (double m : {1.0, 1.2347, 2.0, 3.3, 5.0, 7.7}) {
      if (decade * m <= 20'000'000.0) points.push_back({decade * m, 0.0});
    }
  }
  // Band edges of the automatic method, and just below them.
  for (double edge : {5'000.0, 10'000.0, 50'000.0, 5'000'000.0}) {
    points.push_back({edge * 0.999, 0.0});
  }
  // The slowest signals at other phases of the arm.
  for (double hz : {1.0, 1.5}) {
    for (double phase : {0.25, 0.5, 0.75}) points.push_back({hz, phase});
  }
  std::sort(points.begin(), points.end(), [](const Point& a, const Point& b) {
    return a.hz != b.hz ? a.hz < b.hz : a.phase < b.phase;
  });
  return points;
}

}  // namespace

int main(int argc, char** argv) {
  bool quick = false;
  std::vector<Point> points;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      quick = true;
    } else {
      points.push_back({std::atof(argv[i]), 0.0});
    }
  }
  if (points.empty()) points = DefaultPoints();

  Session s;
  if (qio_target_boot(nullptr, &s.target) != QIO_TARGET_OK ||
      (s.board = qio_target_board(s.target, kBoardBase)) == nullptr ||
      qio_target_device_open(s.target, "Q621:", &s.stream) != QIO_TARGET_OK) {
    std::fprintf(stderr, "counter_accuracy: %s\n", qio_target_last_message());
    return 2;
  }

  std::vector<std::uint16_t> methods = {0, 10, 100};
  if (!quick) methods.push_back(1000);
  std::printf("%12s  %5s  %-6s %-26s %15s  %10s %12s\n", "input Hz", "phase", "mode", "method", "result Hz",
              "rel.error", "valid after");
  int flagged = 0;
  const std::uint64_t begin = platform::NowNs();
  for (std::uint16_t method : methods) {
    for (const Point& point : points) {
      if (method != 0 && point.phase != 0.0) continue;
      const Outcome outcome = Measure(s, point, method);
      Print(point, method, outcome);
      if (outcome.flagged) ++flagged;
    }
  }
  std::printf("%d point(s) flagged, %.1f s in all\n", flagged, static_cast<double>(platform::NowNs() - begin) / 1e9);

  qio_target_device_close(s.stream);
  qio_target_shutdown(s.target);
  return flagged == 0 ? 0 : 1;
}
