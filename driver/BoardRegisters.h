// The board as the driver reaches it: the register map (the board's one
// register header), the six port-I/O primitives every hardware access goes
// through, and the one writer of the interrupt-enable register.
#pragma once

#include <cstdint>

#include "DeviceContext.h"
#include "qio/platform/port_io.h"
#include "qio/protocol/board_registers.h"

namespace qio::driver {

// offset::, command::, mode::, generator::, interrupt::, direction::
using namespace qio::board;

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
// Keeps what a write put into the window's bytes (little-endian, as the bus
// splits a wider access), for the state view; offsets outside the board's
// window are not kept.
inline void RememberWrite(DeviceContext& ctx, std::uint32_t offset, std::uint32_t value, unsigned width) {
  std::uint64_t written = 0;
  for (unsigned k = 0; k < width; ++k) {
    const std::uint32_t at = offset + k;
    if (at >= ctx.registerCache.size()) break;
    ctx.registerCache[at].store(static_cast<std::uint8_t>(value >> (8 * k)));
    written |= std::uint64_t{1} << at;
  }
  ctx.registersWritten.fetch_or(written);
}

inline void WriteByte(DeviceContext& ctx, std::uint32_t offset, std::uint8_t value) {
  platform::PortOutByte(PortAddress(ctx, offset), value);
  RememberWrite(ctx, offset, value, 1);
}
inline void WriteWord(DeviceContext& ctx, std::uint32_t offset, std::uint16_t value) {
  platform::PortOutWord(PortAddress(ctx, offset), value);
  RememberWrite(ctx, offset, value, 2);
}
inline void WriteDword(DeviceContext& ctx, std::uint32_t offset, std::uint32_t value) {
  platform::PortOutDword(PortAddress(ctx, offset), value);
  RememberWrite(ctx, offset, value, 4);
}

// A register as the driver last wrote it (the caller holds ctx.lock, under
// which multi-byte registers are written whole).
inline std::uint16_t WrittenWord(const DeviceContext& ctx, std::uint32_t offset) {
  return static_cast<std::uint16_t>(ctx.registerCache[offset].load() | (ctx.registerCache[offset + 1].load() << 8));
}

// The interrupt-enable register is write-only and has two owners: the event
// sources (intControl) and the counter engine (counterIntEnable). Its value
// is always composed here from both, and written only here; the caller holds
// ctx.lock, so the two shadows and the register never disagree.
// Whether counter block n counts for a measurement: the measuring counter of a
// frequency measurement, its partner block, or either block of a PWM
// measurement. Such a block counts gate ticks, edges or phases with loads as
// small as 1, so its terminal count comes at up to the input's rate and means
// nothing to an application.
inline bool BlockServesMeasurementLocked(const DeviceContext& ctx, unsigned n) {
  const CounterFunction function = ctx.counterFunction[n].load();
  return function == CounterFunction::kFrequency || function == CounterFunction::kPwmMeasure ||
         (n >= 1 && ctx.pairGateInUse[n - 1].load() != 0);
}

// The interrupt-enable register: the event sources' bits and the counter
// engine's, less the terminal count of a block that serves a measurement
// (its event source stays enabled and is heard again once the block is
// given back; else an enabled terminal-count event would fire at every edge).
// Written again whenever a measurement takes or gives back a block.
inline void WriteInterruptEnableLocked(DeviceContext& ctx) {
  std::uint32_t value = ctx.intControl.load() | ctx.counterIntEnable.load();
  for (unsigned n = 0; n < kCounters; ++n) {
    if (BlockServesMeasurementLocked(ctx, n)) value &= ~std::uint32_t{interrupt::TerminalCount(n)};
  }
  WriteWord(ctx, offset::kInterruptControl, static_cast<std::uint16_t>(value));
}

}  // namespace qio::driver
