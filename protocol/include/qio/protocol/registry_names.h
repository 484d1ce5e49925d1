// Registry keys and value names shared by the driver, the library and the
// configuration tools. Paths lie under the local-machine root.
#pragma once

namespace qio::protocol {

inline constexpr const char* kServiceKey = "SYSTEM\\CurrentControlSet\\Services\\ZQS5162S";
inline constexpr const char* kSharedListKey = "SYSTEM\\CurrentControlSet\\Services\\ZQSDAQ";
inline constexpr const char* kBuiltInKey = "Drivers\\BuiltIn";
inline constexpr const char* kBuiltInDriverKeyPrefix = "Drivers\\BuiltIn\\ZQS5162S";
inline constexpr const char* kDeviceSubkeyFormat = "%s\\Device%03d";
inline constexpr const char* kDeviceNameFormat = "QIO-5162 IO=%xH IRQ=%d";

inline constexpr const char* kDriverFileName = "Zqs5162s.dll";
inline constexpr const char* kLibraryFileName = "Zqs5162.dll";
inline constexpr const char* kKernelKeyName = "ZQS5162S";
inline constexpr const char* kStreamPrefix = "Q62";

inline constexpr unsigned kBoardId = 166;  // 0xA6
inline constexpr int kMaxDeviceNumber = 254;

}  // namespace qio::protocol
