// The raw counter configuration, reachable only through DriverProc 106.
#pragma once

#include <cstdint>

namespace qio::library {

// Sends IOCTL_COUNTER_CONFIG with the counter, the initial count (to the load
// and hold registers) and eight mode words. 3 for a bad handle, ErrorBase +
// 0x007 for a counter above 1, ErrorBase + 0x00A for an initial count of 0.
std::uint32_t CounterConfig(std::uint32_t h, std::uint16_t counter, std::uint16_t initialCount,
                            const std::uint16_t modes[8]);

}  // namespace qio::library
