// The library's exports are C functions: no C++ exception may cross them. A
// body that throws (an allocation that fails, say) ends the call with the
// device's ErrorBase plus the low code of the platform's unspecified failure,
// the same result a caller gets for that failure from the driver.
//
// Every export is a call into the target: in virtual time the calling
// thread is attached to the clock (and waits for its turn) before it starts.
#pragma once

#include <cstdint>

#include "DeviceTable.h"
#include "ResultCodes.h"
#include "qio/platform/virtual_clock.h"

namespace qio::library {

inline constexpr std::uint32_t kLowUnspecified = 100;  // MapErrorValue(0xFFFFFFFF)

template <class Body>
std::uint32_t GuardedForDevice(std::uint32_t deviceNumber, Body&& body) noexcept {
  try {
    platform::EnterTarget();
    return body();
  } catch (...) {
    return ErrorBase(deviceNumber) + kLowUnspecified;
  }
}

// As above for a call on a driver handle; a handle with no live entry counts
// as device 0.
template <class Body>
std::uint32_t GuardedForHandle(std::uint32_t handle, Body&& body) noexcept {
  try {
    platform::EnterTarget();
    return body();
  } catch (...) {
    return ErrorBase(DeviceNumberOfHandle(handle)) + kLowUnspecified;
  }
}

}  // namespace qio::library
