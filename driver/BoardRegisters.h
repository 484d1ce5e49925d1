// The board's register window as the driver uses it (offsets from ioBase),
// and the six port-I/O primitives every hardware access goes through.
#pragma once

#include <cstdint>

#include "DeviceContext.h"
#include "qio/platform/port_io.h"

namespace qio::driver {

namespace reg {
// Counter/timer blocks: block n at 8n (n = 0, 1 user counters; n + 1 partner).
constexpr std::uint16_t ModeRegister(unsigned n) { return static_cast<std::uint16_t>(8 * n + 0); }
constexpr std::uint16_t LoadRegister(unsigned n) { return static_cast<std::uint16_t>(8 * n + 2); }
constexpr std::uint16_t HoldRegister(unsigned n) { return static_cast<std::uint16_t>(8 * n + 4); }
constexpr std::uint16_t CommandRegister(unsigned n) { return static_cast<std::uint16_t>(8 * n + 6); }
inline constexpr std::uint16_t kCommandStrobe = 0x20;
// Write: interrupt control (InterruptEnable); read: interrupt status.
inline constexpr std::uint16_t kInterruptControl = 0x22;
inline constexpr std::uint16_t kInterruptClear = 0x24;
// DIO port data: port p (0 A, 1 B, 2 C) at 0x26 + 2p.
constexpr std::uint16_t PortData(unsigned port) { return static_cast<std::uint16_t>(0x26 + 2 * port); }
inline constexpr std::uint16_t kDirectionControl = 0x2C;
// DI interrupt flags: port p at 0x2E + 2p.
constexpr std::uint16_t DiFlags(unsigned port) { return static_cast<std::uint16_t>(0x2E + 2 * port); }
constexpr std::uint16_t ClockGenerator(unsigned n) { return static_cast<std::uint16_t>(0x38 + 2 * n); }

// Interrupt status / control bits.
inline constexpr std::uint16_t kIntTerminalCount0 = 0x01;
inline constexpr std::uint16_t kIntTerminalCount1 = 0x02;
constexpr std::uint16_t IntDiPort(unsigned port) { return static_cast<std::uint16_t>(0x04u << port); }
inline constexpr std::uint16_t kIntDiMask = 0x1C;
inline constexpr std::uint16_t kIntAllMask = 0x1F;
}  // namespace reg

// Every register address is (ioBase + offset) taken to 16 bits.
inline std::uint16_t PortAddress(const DeviceContext& ctx, std::uint32_t offset) {
  return static_cast<std::uint16_t>(ctx.ioBase + offset);
}

inline std::uint8_t ReadByte(const DeviceContext& ctx, std::uint32_t offset) {
  return platform::PortInByte(PortAddress(ctx, offset));
}
inline std::uint16_t ReadWord(const DeviceContext& ctx, std::uint32_t offset) {
  return platform::PortInWord(PortAddress(ctx, offset));
}
inline std::uint32_t ReadDword(const DeviceContext& ctx, std::uint32_t offset) {
  return platform::PortInDword(PortAddress(ctx, offset));
}
inline void WriteByte(const DeviceContext& ctx, std::uint32_t offset, std::uint8_t value) {
  platform::PortOutByte(PortAddress(ctx, offset), value);
}
inline void WriteWord(const DeviceContext& ctx, std::uint32_t offset, std::uint16_t value) {
  platform::PortOutWord(PortAddress(ctx, offset), value);
}
inline void WriteDword(const DeviceContext& ctx, std::uint32_t offset, std::uint32_t value) {
  platform::PortOutDword(PortAddress(ctx, offset), value);
}

}  // namespace qio::driver
