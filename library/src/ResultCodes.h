// The library's result codes: plain codes, and device codes ErrorBase + a low
// code, ErrorBase being DeviceNumber * 0x1000 + 0x1000.
#pragma once

#include <cstdint>

namespace qio::library {

inline constexpr std::uint32_t kSuccess = 0;
inline constexpr std::uint32_t kResultConfiguration = 2;
inline constexpr std::uint32_t kResultBadHandle = 3;
inline constexpr std::uint32_t kResultPortWindow = 10;
inline constexpr std::uint32_t kResultBadFunction = 27;

// Low codes, added to ErrorBase.
inline constexpr std::uint32_t kLowCreate = 0x001;
inline constexpr std::uint32_t kLowRange = 0x007;
inline constexpr std::uint32_t kLowArgument = 0x00A;
inline constexpr std::uint32_t kLowBoardId = 0x018;
inline constexpr std::uint32_t kLowStream = 0x01A;
inline constexpr std::uint32_t kLowParameter = 0x020;
inline constexpr std::uint32_t kLowEventType = 0x028;
inline constexpr std::uint32_t kLowProperty = 0x03E;
inline constexpr std::uint32_t kLowWait = 0x03F;

constexpr std::uint32_t ErrorBase(std::uint32_t deviceNumber) { return deviceNumber * 0x1000u + 0x1000u; }

// The low code for a platform or driver error value: the driver's own codes
// 0x20000000 + n give n; a few platform errors get codes of their own; 0 stays
// 0 (the result is then ErrorBase itself).
std::uint32_t MapErrorValue(std::uint32_t error);

// MapErrorValue of the calling thread's last platform error.
std::uint32_t MapDriverError();

}  // namespace qio::library
