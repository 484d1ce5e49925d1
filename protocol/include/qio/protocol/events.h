// Event sources of the driver and the names of the events it signals.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace qio::protocol {

// Sources 0-23 are the DI channels (8 per port A, B, C), 24 and 25 the
// terminal counts of counters 0 and 1.
inline constexpr unsigned kDiChannels = 24;
inline constexpr unsigned kEventSources = 26;
inline constexpr unsigned kSourceTerminalCount0 = 24;
inline constexpr unsigned kSourceTerminalCount1 = 25;

inline constexpr const char* kDiEventNameFormat = "ZQS_EVT_DI_INTERRUPT%d_%03d";
inline constexpr const char* kTerminalCountEventNameFormat = "ZQS_EVT_TERMINATE_CNT%d_%03d";

// The named event of a source for a device number, e.g. source 5 of device 7:
// "ZQS_EVT_DI_INTERRUPT5_007", source 25: "ZQS_EVT_TERMINATE_CNT1_007".
inline std::string EventName(unsigned source, int deviceNumber) {
  char name[128];
  if (source < kDiChannels) {
    std::snprintf(name, sizeof name, kDiEventNameFormat, static_cast<int>(source), deviceNumber);
  } else {
    std::snprintf(name, sizeof name, kTerminalCountEventNameFormat, static_cast<int>(source - kDiChannels),
                  deviceNumber);
  }
  return name;
}

}  // namespace qio::protocol
