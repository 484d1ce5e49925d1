// The tool's commands. Each takes the session (booted and opened by the
// dispatcher as the command needs), the output and its own options, and
// throws UsageError or DeviceError on failure.
#pragma once

#include <string>
#include <vector>

#include "DriverState.h"
#include "Output.h"
#include "Session.h"
#include "TraceView.h"

namespace qio::tool {

struct CommandContext {
  Session& session;
  Output& out;
  const CommonOptions& common;
  // True in the shell and in run files, where the device stays open after
  // the command; a one-shot command closes it (which resets the counters).
  bool persistent = false;
  // The exit code of a command that succeeded but has something to report
  // (events: 3 when its time-out passed without an event).
  int status = 0;
};

// ---- devices --------------------------------------------------------------
void RunList(CommandContext& context);
void RunInfo(CommandContext& context);

// ---- digital I/O and registers ---------------------------------------------
struct DioOptions {
  std::vector<std::string> ports;  // dio read: none for all three
  std::string port;
  std::string value;
  std::string mask;
  std::string bit;
  std::string state;
  std::string direction;
};
void RunDioRead(CommandContext& context, const DioOptions& options);
void RunDioWrite(CommandContext& context, const DioOptions& options);
void RunDioBit(CommandContext& context, const DioOptions& options);
void RunDioMode(CommandContext& context, const DioOptions& options);
void RunDioConfig(CommandContext& context);

struct PortOptions {
  std::string address;
  std::string value;
  unsigned width = 8;
};
void RunPortRead(CommandContext& context, const PortOptions& options);
void RunPortWrite(CommandContext& context, const PortOptions& options);

// ---- counters -----------------------------------------------------------------
struct CounterOptions {
  std::string counter;
  std::string duration;  // count watch --for, freq --for
  std::string gate;      // freq --gate
  bool watch = false;    // freq --watch
  std::string period;    // pulse, pwm
  std::string high;      // pwm
  std::string pulses;    // pwm --count
  std::string source;    // freqout
  std::string divisor;   // freqout
};
void RunCountStart(CommandContext& context, const CounterOptions& options);
void RunCountRead(CommandContext& context, const CounterOptions& options);
void RunCountWatch(CommandContext& context, const CounterOptions& options);
void RunFreq(CommandContext& context, const CounterOptions& options);
void RunPulse(CommandContext& context, const CounterOptions& options);
void RunFreqOut(CommandContext& context, const CounterOptions& options);
void RunPwm(CommandContext& context, const CounterOptions& options);
void RunPwmMeasure(CommandContext& context, const CounterOptions& options);
void RunReset(CommandContext& context, const CounterOptions& options);

// ---- events ---------------------------------------------------------------------
struct EventOptions {
  std::vector<std::string> enable;
  std::string count;    // stop after N events
  std::string timeout;  // stop after this time
};
void RunEvents(CommandContext& context, const EventOptions& options);

// One frequency measurement: start, wait until the driver has published the
// measurement's first result when it chose a slow method (with a progress
// indication), read.
struct FrequencyReading {
  float hz = 0;
  FrequencyMethod method;
  bool passEnded = true;  // the result of a background pass was published in time
  std::uint32_t sequence = 0;  // the driver's publication mark before the read
};
FrequencyReading MeasureFrequency(CommandContext& context, std::uint16_t counter, unsigned gateMs, bool announce);

// ---- the driver's state -------------------------------------------------------
void RunStatus(CommandContext& context);
// The driver's state of the device the command works on.
QioDriverState DeviceState(CommandContext& context);
// Throws DeviceError unless `code` is 0; a busy refusal names what holds the
// counter or generator the call needed (from the driver's state) and the
// reset that frees it.
void CheckStart(CommandContext& context, std::uint32_t code, const char* call, const Needs& needs);
bool IsBusy(std::uint32_t code);

// ---- helpers shared by the commands ----------------------------------------------
std::uint16_t CounterArgument(const std::string& text);
// Shows what OUTn or FOUTn does now, with a small picture; returns the record.
nlohmann::json ShowOutput(CommandContext& context, unsigned counter, bool frequencyOutput);

}  // namespace qio::tool
