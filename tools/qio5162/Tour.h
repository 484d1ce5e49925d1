// tour: boots the default target and walks through every function of the
// board with real calls, checking each result against what the simulated
// board shows. Exit code 0 only when every step matched.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Commands.h"
#include "Session.h"

namespace qio::tool {

int RunTour(const CommonOptions& options);

// What one step found.
struct StepOutcome {
  bool matched = false;
  std::string text;  // what was done, the result, and what the board shows
  nlohmann::json data = nlohmann::json::object();
};

// The running tour: its session, its output and the steps so far.
class TourRun {
 public:
  TourRun(Session& session, Output& out, const CommonOptions& options);

  // Runs one step and prints its line; a library call failing inside the
  // step (DeviceError) makes it a mismatch that shows the code.
  void Step(const std::string& name, const std::function<StepOutcome()>& body);
  // A call that must fail with `expected`.
  void ExpectCode(const std::string& name, const std::string& call, std::uint32_t got, std::uint32_t expected);

  Session& session() { return session_; }
  CommandContext& context() { return context_; }
  Output& out() { return out_; }
  std::uint32_t Handle() const { return session_.Handle(); }
  std::uint32_t ErrorBase() const;
  // The board; throws DeviceError when the device has none.
  QioSimBoard* Board() const { return session_.RequireBoard(); }

  std::size_t Steps() const { return steps_.size(); }
  std::size_t Matched() const;
  nlohmann::json& Records() { return steps_; }

 private:
  Session& session_;
  Output& out_;
  CommandContext context_;
  nlohmann::json steps_ = nlohmann::json::array();
};

// The parts of the tour, in the order they run.
void TourDevices(TourRun& tour);
void TourDigitalIo(TourRun& tour);
void TourEventCounting(TourRun& tour);
void TourFrequency(TourRun& tour);
void TourOutputs(TourRun& tour);
void TourPwmMeasurement(TourRun& tour);
void TourDriverState(TourRun& tour);
void TourDiEvent(TourRun& tour);
void TourErrors(TourRun& tour);
void TourClose(TourRun& tour);

// Shared checks.
bool Near(double value, double expected, double relative);
std::uint8_t PinsOf(QioSimBoard* board, unsigned port);

}  // namespace qio::tool
