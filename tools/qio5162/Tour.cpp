#include "Tour.h"

#include <cmath>
#include <cstdio>
#include <fstream>

#include "App.h"
#include "DeviceList.h"
#include "Failures.h"
#include "ResultText.h"
#include "Units.h"
#include "qio/platform/clock.h"
#include "qio5162/Zqs5162.h"

namespace qio::tool {

bool Near(double value, double expected, double relative) {
  if (expected == 0) return std::fabs(value) < 1e-9;
  return std::fabs(value - expected) <= std::fabs(expected) * relative;
}

std::uint8_t PinsOf(QioSimBoard* board, unsigned port) {
  std::uint8_t levels = 0;
  if (qio_sim_get_pins(board, port, &levels) != QIO_TARGET_OK) {
    throw DeviceError("reading the pins of port " + std::string(1, PortLetter(port)) + ": " +
                      qio_target_last_message());
  }
  return levels;
}

TourRun::TourRun(Session& session, Output& out, const CommonOptions& options)
    : session_(session), out_(out), context_{session, out, options, true} {}

std::uint32_t TourRun::ErrorBase() const { return ZQS_ERROR_BASE(session_.DeviceNumber()); }

void TourRun::Step(const std::string& name, const std::function<StepOutcome()>& body) {
  StepOutcome outcome;
  try {
    outcome = body();
  } catch (const DeviceError& error) {
    outcome.matched = false;
    outcome.text = error.what();
    if (error.HasCode()) outcome.data["code"] = error.Code();
  }
  out_.ClearInPlace();
  out_.Line(Format("[%s] %-14s %s", outcome.matched ? " ok " : "FAIL", name.c_str(), outcome.text.c_str()));
  nlohmann::json record{{"step", name}, {"matched", outcome.matched}, {"text", outcome.text}};
  if (!outcome.data.empty()) record["data"] = outcome.data;
  steps_.push_back(record);
}

void TourRun::ExpectCode(const std::string& name, const std::string& call, std::uint32_t got, std::uint32_t expected) {
  Step(name, [&] {
    StepOutcome outcome;
    outcome.matched = got == expected;
    outcome.text = call + " -> " + DescribeResult(got) +
                   (got == expected ? std::string(", as expected") : ", expected " + ResultCodeText(expected));
    outcome.data = {{"call", call}, {"code", got}, {"expected", expected}};
    return outcome;
  });
}

std::size_t TourRun::Matched() const {
  std::size_t matched = 0;
  for (const nlohmann::json& step : steps_) matched += step["matched"].get<bool>() ? 1 : 0;
  return matched;
}

int RunTour(const CommonOptions& options) {
  if (!options.vcdFile.empty()) {
    // A file that cannot be written is a usage error before the tour begins.
    const std::string probe = options.vcdFile + ".part";
    if (!std::ofstream(probe, std::ios::binary | std::ios::trunc)) {
      return ReportUsageError("--vcd: cannot write '" + options.vcdFile + "'", "tour", "tour", options.json);
    }
    std::remove(probe.c_str());
  } else if (options.vcdBits) {
    return ReportUsageError("--vcd-bits goes with --vcd FILE", "tour", "tour", options.json);
  }
  Output out(options.json);
  Session session;
  // Declared after the session: it stops (and writes its file) first.
  std::unique_ptr<WaveRecording> recording;
  const std::uint64_t begin = platform::NowNs();
  const unsigned device = options.device.empty() ? kDefaultDevice
                                                 : static_cast<unsigned>(ParseUnsigned(options.device, 254, "device"));
  out.Line(Format("QIO-5162 tour on the hosted target (%s), device %u",
                  options.registryFile.empty() ? "default registry: one board at 0x300, IRQ 5"
                                               : ("registry " + options.registryFile).c_str(),
                  device));
  TourRun tour(session, out, options);
  bool booted = false;
  tour.Step("boot", [&] {
    session.Boot(options.registryFile, options.virtualTime);
    booted = true;
    // The recording (--vcd) covers the whole tour from the device's open on.
    recording = StartRecording(session, options);
    const std::string report = session.BootReport();
    std::size_t lines = 0;
    for (const std::string& line : Split(report, '\n')) lines += line.empty() ? 0 : 1;
    const std::string first = report.substr(0, report.find_first_of("\r\n"));
    StepOutcome outcome;
    outcome.matched = !ReadDeviceList().empty();
    outcome.text = Format("target booted; the device manager reports %zu line%s", lines, lines == 1 ? "" : "s") +
                   (first.empty() ? std::string() : ": " + first);
    outcome.data = {{"bootReport", report}};
    return outcome;
  });
  if (booted) {
    bool opened = false;
    tour.Step("open", [&] {
      session.Open(device);
      opened = true;
      std::uint32_t second = 0;
      const std::uint32_t result = DeviceOpen(device, &second);
      const bool same = result == 0 && second == session.Handle();
      DeviceClose(&second);
      StepOutcome outcome;
      outcome.matched = same && second == 0 && session.Board() != nullptr;
      outcome.text = Format("DeviceOpen(%u) -> handle %s; a second open gives %s, its DeviceClose zeroes it; "
                            "simulated board at %s",
                            device, Hex(session.Handle(), 8).c_str(), same ? "the same handle" : "another handle",
                            Hex(session.BaseAddress(), 3).c_str());
      return outcome;
    });
    if (opened) {
      TourDevices(tour);
      TourDigitalIo(tour);
      TourEventCounting(tour);
      TourFrequency(tour);
      TourOutputs(tour);
      TourPwmMeasurement(tour);
      TourDriverState(tour);
      TourDiEvent(tour);
      TourErrors(tour);
      TourClose(tour);
    }
  }
  // On the virtual clock the tour's time is the target's, from its boot.
  const bool virtualTime = session.Booted() && session.VirtualTime();
  const double virtualSeconds =
      virtualTime ? static_cast<double>(qio_target_now_ns(session.Target())) / 1e9 : 0.0;
  const bool recorded = recording == nullptr || recording->Finish();
  session.Shutdown();
  const double seconds = static_cast<double>(platform::NowNs() - begin) / 1e9;
  const bool all = tour.Matched() == tour.Steps() && booted;
  const std::string took = virtualTime ? Format("%.1f s of virtual time in %.2f s", virtualSeconds, seconds)
                                       : Format("%.1f s", seconds);
  out.Line(Format("tour: %zu of %zu steps matched what the board shows (%s)%s", tour.Matched(), tour.Steps(),
                  took.c_str(), all ? "" : " -- MISMATCH"));
  out.Data() = {{"steps", tour.Records()}, {"matched", tour.Matched()}, {"total", tour.Steps()},
                {"seconds", seconds}, {"ok", all}};
  if (virtualTime) out.Data()["virtualSeconds"] = virtualSeconds;
  out.Finish();
  return all && recorded ? kExitOk : kExitDevice;
}

}  // namespace qio::tool
