// The features record: one constant 800-byte description of the board that
// every device of this kind shares. The library takes its port counts from it
// and DeviceGetFeatures copies it out whole.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qio::library {

#pragma pack(push, 1)
struct DeviceFeatures {
  char16_t versionText[8];    // "Ver 2.1", zero-padded
  char16_t libraryFile[16];   // "Zqs5162.dll", zero-padded
  std::uint32_t boardId;      // 166
  std::uint16_t reserved52;
  std::uint16_t reserved54;
  std::uint16_t reserved56;
  std::uint16_t doChannels;   // digital output channels, 8 per port
  std::uint16_t diChannels;   // digital input channels, 8 per port
  std::uint16_t family62;     // 1
  std::uint16_t family64;     // 2
  std::uint8_t reserved66[26];
  std::uint32_t family92;     // 0x2026
  std::uint8_t reserved96[704];
};
#pragma pack(pop)

inline constexpr std::size_t kFeaturesSize = 800;
static_assert(sizeof(DeviceFeatures) == kFeaturesSize);
static_assert(offsetof(DeviceFeatures, libraryFile) == 16);
static_assert(offsetof(DeviceFeatures, boardId) == 48);
static_assert(offsetof(DeviceFeatures, doChannels) == 58);
static_assert(offsetof(DeviceFeatures, diChannels) == 60);
static_assert(offsetof(DeviceFeatures, family62) == 62);
static_assert(offsetof(DeviceFeatures, family64) == 64);
static_assert(offsetof(DeviceFeatures, family92) == 92);

// The one record of this board.
const DeviceFeatures& TheDeviceFeatures();

inline constexpr unsigned kChannelsPerPort = 8;
inline unsigned InputPorts(const DeviceFeatures& features) { return features.diChannels / kChannelsPerPort; }
inline unsigned OutputPorts(const DeviceFeatures& features) { return features.doChannels / kChannelsPerPort; }

// Whether a direction code may be set on a port: 0 and 1 on every port, the
// half-port codes 3 and 4 only on port C; code 2 (a second spelling of
// all-output) never.
bool DirectionAllowed(std::uint32_t port, std::uint32_t code);

}  // namespace qio::library
