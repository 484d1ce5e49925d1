// Digital I/O, port directions and raw register access.
#include "Dio.h"

#include <mutex>

#include "../BoardRegisters.h"
#include "qio/protocol/ioctl.h"
#include "qio/protocol/records.h"

namespace qio::driver {

namespace {

using protocol::kDioPorts;

// Direction control byte: a bit set makes lines inputs.
constexpr std::uint8_t kDirPortAInput = direction::kPortA;
constexpr std::uint8_t kDirPortBInput = direction::kPortB;
constexpr std::uint8_t kDirPortCLowInput = direction::kPortCLow;
constexpr std::uint8_t kDirPortCHighInput = direction::kPortCHigh;

constexpr std::uint8_t kHighestDirectionCode = protocol::kDirLowOutHighIn;

constexpr bool IsDefinedCode(std::uint8_t code) { return code <= kHighestDirectionCode; }
// For ports A and B only the lines 0-3 column of a code matters.
constexpr bool LowLinesInput(std::uint8_t code) { return !IsDefinedCode(code) || protocol::LowNibbleIsInput(code); }
constexpr bool HighLinesInput(std::uint8_t code) {
  return !IsDefinedCode(code) || protocol::HighNibbleIsInput(code);
}

// A run of ports must lie within A, B, C.
bool PortRunFits(std::uint32_t startPort, std::uint32_t count) {
  return std::uint64_t{startPort & 0xFFFFu} + count <= kDioPorts;
}

HandlerResult ReadRegister(DeviceContext& ctx, const Request& request, unsigned width) {
  const auto access = protocol::Load<protocol::PortAccessRequest>(request.in.data(), request.in.size());
  // The window's last byte is never reached: offset + width must stay below ioLength.
  if (std::uint64_t{access.offset} + width >= ctx.ioLength) return Fail(ctx, protocol::kDriverCodeOutsideWindow);
  std::uint32_t value = 0;
  {
    std::scoped_lock guard(ctx.lock);
    switch (width) {
      case 1: value = ReadByte(ctx, access.offset); break;
      case 2: value = ReadWord(ctx, access.offset); break;
      default: value = ReadDword(ctx, access.offset); break;
    }
  }
  for (unsigned k = 0; k < width; ++k) request.out[k] = static_cast<std::uint8_t>(value >> (8 * k));
  *request.bytesReturned = width;
  return 1;
}

HandlerResult WriteRegister(DeviceContext& ctx, const Request& request, unsigned width) {
  const auto access = protocol::Load<protocol::PortAccessRequest>(request.in.data(), request.in.size());
  if (std::uint64_t{access.offset} + width >= ctx.ioLength) return Fail(ctx, protocol::kDriverCodeOutsideWindow);
  std::scoped_lock guard(ctx.lock);
  switch (width) {
    case 1: WriteByte(ctx, access.offset, static_cast<std::uint8_t>(access.value)); break;
    case 2: WriteWord(ctx, access.offset, static_cast<std::uint16_t>(access.value)); break;
    default: WriteDword(ctx, access.offset, access.value); break;
  }
  return 1;
}

}  // namespace

std::uint8_t DirectionControlByte(const PortCodes& codes) {
  std::uint8_t control = 0;
  if (LowLinesInput(codes[0])) control |= kDirPortAInput;
  if (LowLinesInput(codes[1])) control |= kDirPortBInput;
  if (LowLinesInput(codes[2])) control |= kDirPortCLowInput;
  if (HighLinesInput(codes[2])) control |= kDirPortCHighInput;
  return control;
}

PortCodes CodesFromDirectionControl(std::uint8_t control) {
  PortCodes codes{};
  codes[0] = (control & kDirPortAInput) ? protocol::kDirAllInput : protocol::kDirAllOutput;
  codes[1] = (control & kDirPortBInput) ? protocol::kDirAllInput : protocol::kDirAllOutput;
  const bool low = (control & kDirPortCLowInput) != 0;
  const bool high = (control & kDirPortCHighInput) != 0;
  if (low && high) {
    codes[2] = protocol::kDirAllInput;
  } else if (!low && !high) {
    codes[2] = protocol::kDirAllOutput;
  } else if (low) {
    codes[2] = protocol::kDirLowInHighOut;
  } else {
    codes[2] = protocol::kDirLowOutHighIn;
  }
  return codes;
}

void SetPortConfiguration(DeviceContext& ctx, const PortCodes& codes) {
  std::scoped_lock guard(ctx.lock);
  WriteByte(ctx, offset::kDirectionControl, DirectionControlByte(codes));
}

PortCodes GetPortConfiguration(DeviceContext& ctx) {
  std::uint8_t control = 0;
  {
    std::scoped_lock guard(ctx.lock);
    control = ReadByte(ctx, offset::kDirectionControl);
  }
  return CodesFromDirectionControl(control);
}

HandlerResult HandleReadDiPorts(DeviceContext& ctx, const Request& request) {
  const auto ports = protocol::Load<protocol::DioPortsRequest>(request.in.data(), request.in.size());
  *request.bytesReturned = 0;
  if (!PortRunFits(ports.startPort, ports.portCount) || request.out.size() < ports.portCount) {
    return Fail(ctx, protocol::kDriverCodeBadBuffer);
  }
  const unsigned start = ports.startPort & 0xFFFFu;
  std::scoped_lock guard(ctx.lock);
  for (unsigned k = 0; k < ports.portCount; ++k) {
    request.out[k] = ReadByte(ctx, offset::PortData(start + k));
    *request.bytesReturned += 1;
  }
  return 1;
}

HandlerResult HandleWriteDoPorts(DeviceContext& ctx, const Request& request) {
  const auto write = protocol::Load<protocol::DioWriteRequest>(request.in.data(), request.in.size());
  if (!PortRunFits(write.startPort, write.portCount) || write.portCount > sizeof write.data) {
    return Fail(ctx, protocol::kDriverCodeBadBuffer);
  }
  const unsigned start = write.startPort & 0xFFFFu;
  std::scoped_lock guard(ctx.lock);
  for (unsigned k = 0; k < write.portCount; ++k) {
    const unsigned port = start + k;
    WriteByte(ctx, offset::PortData(port), write.data[k]);
    ctx.doShadow[port].store(write.data[k]);
  }
  return 1;
}

HandlerResult HandleReadDoPorts(DeviceContext& ctx, const Request& request) {
  const auto ports = protocol::Load<protocol::DioPortsRequest>(request.in.data(), request.in.size());
  *request.bytesReturned = 0;
  if (!PortRunFits(ports.startPort, ports.portCount) || request.out.size() < ports.portCount) {
    return Fail(ctx, protocol::kDriverCodeBadBuffer);
  }
  const unsigned start = ports.startPort & 0xFFFFu;
  std::scoped_lock guard(ctx.lock);
  for (unsigned k = 0; k < ports.portCount; ++k) {
    request.out[k] = ctx.doShadow[start + k].load();
    *request.bytesReturned += 1;
  }
  return 1;
}

HandlerResult HandlePropertyGet(DeviceContext& ctx, const Request& request) {
  const PortCodes codes = GetPortConfiguration(ctx);
  for (unsigned p = 0; p < kDioPorts; ++p) request.out[p] = codes[p];
  return 1;
}

HandlerResult HandlePropertySet(DeviceContext& ctx, const Request& request) {
  const auto property = protocol::Load<protocol::PropertySetRequest>(request.in.data(), request.in.size());
  const PortCodes codes{property.codes[0], property.codes[1], property.codes[2]};
  for (std::uint8_t code : codes) {
    if (!IsDefinedCode(code)) return Fail(ctx, protocol::kDriverCodeBadBuffer);
  }
  // portConfig keeps the registry's configuration, applied at every first open.
  SetPortConfiguration(ctx, codes);
  return 1;
}

HandlerResult HandlePortReadByte(DeviceContext& ctx, const Request& request) { return ReadRegister(ctx, request, 1); }
HandlerResult HandlePortReadWord(DeviceContext& ctx, const Request& request) { return ReadRegister(ctx, request, 2); }
HandlerResult HandlePortReadDword(DeviceContext& ctx, const Request& request) { return ReadRegister(ctx, request, 4); }
HandlerResult HandlePortWriteByte(DeviceContext& ctx, const Request& request) { return WriteRegister(ctx, request, 1); }
HandlerResult HandlePortWriteWord(DeviceContext& ctx, const Request& request) { return WriteRegister(ctx, request, 2); }
HandlerResult HandlePortWriteDword(DeviceContext& ctx, const Request& request) {
  return WriteRegister(ctx, request, 4);
}

}  // namespace qio::driver
