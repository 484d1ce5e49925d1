// Device-control codes of the Zqs5162s stream driver.
//
// Layout of a code: device type in bits 31-16, required access in bits 15-14
// (1 read, 2 write, 3 both), function number in bits 13-2, transfer method in
// bits 1-0 (always 0, buffered). Device type 0x9C40 carries the DIO, event and
// raw-port codes; 0xDC7F (access 3) the counter, DO read-back and property
// codes.
#pragma once

#include <cstdint>

namespace qio::protocol {

constexpr std::uint32_t MakeControlCode(std::uint32_t deviceType, std::uint32_t function,
                                        std::uint32_t access) {
  return (deviceType << 16) | (access << 14) | (function << 2);
}

inline constexpr std::uint32_t kDeviceTypeDio = 0x9C40;
inline constexpr std::uint32_t kDeviceTypeCounter = 0xDC7F;

inline constexpr std::uint32_t IOCTL_EVENT_ENABLE = 0x9C4024C4;
inline constexpr std::uint32_t IOCTL_PORT_READ_BYTE = 0x9C406400;
inline constexpr std::uint32_t IOCTL_PORT_READ_WORD = 0x9C406404;
inline constexpr std::uint32_t IOCTL_PORT_READ_DWORD = 0x9C406408;
inline constexpr std::uint32_t IOCTL_DIO_READ_DI_PORTS = 0x9C407830;
inline constexpr std::uint32_t IOCTL_DIO_WRITE_DO_PORTS = 0x9C407834;
inline constexpr std::uint32_t IOCTL_DIO_SET_EVENT_DI_PORTS = 0x9C407844;
inline constexpr std::uint32_t IOCTL_DIO_GET_EVENT_DI_PORTS = 0x9C407848;
inline constexpr std::uint32_t IOCTL_PORT_WRITE_BYTE = 0x9C40A440;
inline constexpr std::uint32_t IOCTL_PORT_WRITE_WORD = 0x9C40A444;
inline constexpr std::uint32_t IOCTL_PORT_WRITE_DWORD = 0x9C40A448;
inline constexpr std::uint32_t IOCTL_DIO_GET_CURRENT_DO_PORTS = 0xDC7FF864;
inline constexpr std::uint32_t IOCTL_COUNTER_EVENT_START = 0xDC7FF88C;
inline constexpr std::uint32_t IOCTL_COUNTER_EVENT_READ = 0xDC7FF890;
inline constexpr std::uint32_t IOCTL_COUNTER_FREQ_START = 0xDC7FF894;
inline constexpr std::uint32_t IOCTL_COUNTER_FREQ_READ = 0xDC7FF898;
inline constexpr std::uint32_t IOCTL_COUNTER_PULSE_START = 0xDC7FF89C;
inline constexpr std::uint32_t IOCTL_COUNTER_RESET = 0xDC7FF8A0;
inline constexpr std::uint32_t IOCTL_PROPERTY_GET = 0xDC7FF928;
inline constexpr std::uint32_t IOCTL_PROPERTY_SET = 0xDC7FF92C;
inline constexpr std::uint32_t IOCTL_FREQOUT_START = 0xDC7FF930;
inline constexpr std::uint32_t IOCTL_PWM_SETTING = 0xDC7FF934;
inline constexpr std::uint32_t IOCTL_PWM_ENABLE = 0xDC7FF938;
inline constexpr std::uint32_t IOCTL_PWM_START_READ = 0xDC7FF9B0;
inline constexpr std::uint32_t IOCTL_COUNTER_CONFIG = 0xDC7FF9B4;

static_assert(IOCTL_EVENT_ENABLE == MakeControlCode(kDeviceTypeDio, 0x931, 0));
static_assert(IOCTL_PORT_READ_BYTE == MakeControlCode(kDeviceTypeDio, 0x900, 1));
static_assert(IOCTL_PORT_WRITE_BYTE == MakeControlCode(kDeviceTypeDio, 0x910, 2));
static_assert(IOCTL_COUNTER_CONFIG == MakeControlCode(kDeviceTypeCounter, 0xE6D, 3));

// Error codes the driver reports through the thread's last-error value: the
// driver's own codes are kDriverErrorBase + n, and n is kept in the device's
// lastError field. The library maps them to its ErrorBase + n.
inline constexpr std::uint32_t kDriverErrorBase = 0x20000000;
inline constexpr std::uint32_t kDriverCodeNullHandle = 0x03;
inline constexpr std::uint32_t kDriverCodeBadCounter = 0x07;
inline constexpr std::uint32_t kDriverCodeBadBuffer = 0x0A;
inline constexpr std::uint32_t kDriverCodeOutOfRange = 0x20;
inline constexpr std::uint32_t kDriverCodeBusy = 0x32;
inline constexpr std::uint32_t kDriverCodeOutsideWindow = 0x40;
inline constexpr std::uint32_t kDriverCodeBadChannel = 0x68;
// A control code that is not in the table: the plain platform code 50.
inline constexpr std::uint32_t kErrorUnknownCode = 50;

constexpr std::uint32_t DriverError(std::uint32_t code) { return kDriverErrorBase | code; }

}  // namespace qio::protocol
