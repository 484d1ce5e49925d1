// DIO direction codes, one byte per port A, B, C, as kept in "DigPortCfg",
// in the driver's portConfig and in the property records.
//
//   code  port A/B   port C lines 0-3   port C lines 4-7
//   0     input      input              input
//   1     output     output             output
//   2     output     output             output
//   3     input      input              output
//   4     output     output             input
#pragma once

#include <cstdint>

namespace qio::protocol {

inline constexpr unsigned kDioPorts = 3;

inline constexpr std::uint8_t kDirAllInput = 0;
inline constexpr std::uint8_t kDirAllOutput = 1;
inline constexpr std::uint8_t kDirAllOutputAlt = 2;
inline constexpr std::uint8_t kDirLowInHighOut = 3;
inline constexpr std::uint8_t kDirLowOutHighIn = 4;

// Whether the lines 0-3 (low) or 4-7 (high) of a port are inputs under a code.
constexpr bool LowNibbleIsInput(std::uint8_t code) { return code == kDirAllInput || code == kDirLowInHighOut; }
constexpr bool HighNibbleIsInput(std::uint8_t code) { return code == kDirAllInput || code == kDirLowOutHighIn; }

}  // namespace qio::protocol
