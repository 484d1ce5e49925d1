// Digital I/O of the three 8-bit ports A, B, C (mode-0 configuration of an
// 8255-style port block), the DO shadow, the port-direction property, and raw
// register access bounded by the board's port window.
#pragma once

#include <array>
#include <cstdint>

#include "../DeviceContext.h"
#include "../Request.h"

namespace qio::driver {

using PortCodes = std::array<std::uint8_t, protocol::kDioPorts>;

// The direction control byte for codes of ports A, B, C (a bit set = input).
// Codes above 4 are undefined; the lines they cover are made inputs, so that
// an unknown code never drives a pin.
std::uint8_t DirectionControlByte(const PortCodes& codes);
// The codes that a direction control byte reads back as (0, 1, 3 or 4).
PortCodes CodesFromDirectionControl(std::uint8_t control);

// Writes the direction control register under `lock`.
void SetPortConfiguration(DeviceContext& ctx, const PortCodes& codes);
PortCodes GetPortConfiguration(DeviceContext& ctx);

HandlerResult HandleReadDiPorts(DeviceContext& ctx, const Request& request);       // IOCTL_DIO_READ_DI_PORTS
HandlerResult HandleWriteDoPorts(DeviceContext& ctx, const Request& request);      // IOCTL_DIO_WRITE_DO_PORTS
HandlerResult HandleReadDoPorts(DeviceContext& ctx, const Request& request);       // IOCTL_DIO_GET_CURRENT_DO_PORTS
HandlerResult HandlePropertyGet(DeviceContext& ctx, const Request& request);       // IOCTL_PROPERTY_GET
HandlerResult HandlePropertySet(DeviceContext& ctx, const Request& request);       // IOCTL_PROPERTY_SET
HandlerResult HandlePortReadByte(DeviceContext& ctx, const Request& request);      // IOCTL_PORT_READ_BYTE
HandlerResult HandlePortReadWord(DeviceContext& ctx, const Request& request);      // IOCTL_PORT_READ_WORD
HandlerResult HandlePortReadDword(DeviceContext& ctx, const Request& request);     // IOCTL_PORT_READ_DWORD
HandlerResult HandlePortWriteByte(DeviceContext& ctx, const Request& request);     // IOCTL_PORT_WRITE_BYTE
HandlerResult HandlePortWriteWord(DeviceContext& ctx, const Request& request);     // IOCTL_PORT_WRITE_WORD
HandlerResult HandlePortWriteDword(DeviceContext& ctx, const Request& request);    // IOCTL_PORT_WRITE_DWORD

}  // namespace qio::driver
