// Error codes of the target's system services (the Win32 numbering the target
// uses) and the calling thread's last-error value.
#pragma once

#include <cstdint>

#include "qio/platform/api.h"

namespace qio::platform {

inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorInvalidData = 13;
inline constexpr std::uint32_t kErrorNotSupported = 50;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorModNotFound = 126;
inline constexpr std::uint32_t kErrorProcNotFound = 127;
inline constexpr std::uint32_t kErrorBusy = 170;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;
inline constexpr std::uint32_t kErrorMoreData = 234;
inline constexpr std::uint32_t kErrorNoMoreItems = 259;
inline constexpr std::uint32_t kErrorNotFound = 1168;
inline constexpr std::uint32_t kErrorTimeout = 1460;
inline constexpr std::uint32_t kErrorBadConfiguration = 1610;
inline constexpr std::uint32_t kErrorInitFailed = 1114;  // a driver's Init refused the device
inline constexpr std::uint32_t kErrorDeviceNotConnected = 1167;

// The calling thread's last-error value (thread-local, 0 for a new thread).
QIO_PLATFORM_API std::uint32_t GetLastError();
QIO_PLATFORM_API void SetLastError(std::uint32_t error);

}  // namespace qio::platform
