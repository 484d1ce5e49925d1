// Request and response records of the device-control protocol: packed
// little-endian byte layouts. They travel as bytes; use Load/Store to move a
// record in or out of a buffer (never cast a buffer pointer to a record).
// "Reserved" fields are sent by the library and not read by the driver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace qio::protocol {

#pragma pack(push, 1)

struct EventEnableRequest {        // IOCTL_EVENT_ENABLE, 16 bytes
  std::uint16_t enable;            // non-zero enables
  std::uint16_t source;            // 0-23 DI channel, 24/25 counter 0/1 terminal count
  std::uint16_t triggerCount;      // signalled on every N-th interrupt of the source
  std::uint16_t reserved0;
  std::uint32_t processId;         // reserved for the driver
  std::uint32_t reserved1;
};

struct PortAccessRequest {         // IOCTL_PORT_READ_* (4 bytes) and IOCTL_PORT_WRITE_* (5, 6, 8 bytes)
  std::uint32_t offset;            // register offset from the board's I/O base
  std::uint32_t value;             // write: 1, 2 or 4 bytes used
};

struct DioPortsRequest {           // IOCTL_DIO_READ_DI_PORTS, IOCTL_DIO_GET_CURRENT_DO_PORTS, 8 bytes
  std::uint32_t startPort;         // 0 A, 1 B, 2 C (low 16 bits used)
  std::uint32_t portCount;
};

struct DioWriteRequest {           // IOCTL_DIO_WRITE_DO_PORTS, 12 bytes
  std::uint32_t startPort;
  std::uint32_t portCount;
  std::uint8_t data[4];            // byte k goes to port start + k
};

struct DiEventPortsRequest {       // IOCTL_DIO_SET_EVENT_DI_PORTS, 12 bytes
  std::uint32_t channel;           // DI event channel 0-23
  std::uint32_t startPort;         // low 16 bits used
  std::uint32_t portCount;         // low 16 bits used
};

struct PropertySetRequest {        // IOCTL_PROPERTY_SET, 8 bytes
  std::uint32_t propertyId;        // not interpreted
  std::uint8_t codes[3];           // direction codes of ports A, B, C
  std::uint8_t reserved;
};

struct CounterConfigRequest {      // IOCTL_COUNTER_CONFIG, 20 bytes
  std::uint16_t counter;
  std::uint16_t initialCount;      // to both load and hold registers
  std::uint16_t modeFields[8];     // OR-ed into the mode word; [5] carries the source field
};

struct CounterEventStartRequest {  // IOCTL_COUNTER_EVENT_START, 4 bytes
  std::uint16_t counter;
  std::uint16_t passThrough;
};

struct CounterEventReadRecord {    // IOCTL_COUNTER_EVENT_READ, 8 bytes in and out
  std::uint16_t counter;           // in
  std::uint16_t tally;             // out: terminal-count interrupts since the start
  std::uint32_t count;             // out: latched count, zero-extended
};

struct CounterFreqStartRequest {   // IOCTL_COUNTER_FREQ_START, 6 bytes
  std::uint16_t counter;
  std::uint16_t method;            // 0 automatic ranging, 1..2000 fixed gate in ms
  std::uint16_t passThrough;
};

struct CounterFreqReadRecord {     // IOCTL_COUNTER_FREQ_READ, 8 bytes in and out
  std::uint16_t counter;           // in
  std::uint16_t reserved;
  float frequency;                 // out: hertz
};

struct CounterPulseStartRequest {  // IOCTL_COUNTER_PULSE_START, 16 bytes
  std::uint16_t counter;
  std::uint16_t reserved0;
  float periodSeconds;
  std::uint32_t passThrough32;
  std::uint16_t passThrough16;
  std::uint16_t reserved1;
};

struct CounterResetRequest {       // IOCTL_COUNTER_RESET and IOCTL_PWM_ENABLE, 2 bytes
  std::uint16_t counter;
};

struct FreqOutStartRequest {       // IOCTL_FREQOUT_START, 6 bytes
  std::uint16_t counter;           // selects clock generator n
  std::uint16_t divisor;           // 1..16
  std::uint16_t sourceBits;        // source code already in bits 8-10
};

struct PwmSettingRequest {         // IOCTL_PWM_SETTING, 20 bytes
  std::uint16_t counter;
  std::uint16_t reserved0;
  float periodMs;
  float highMs;
  std::uint32_t pulseCount;        // 0 continuous, else N periods (odd counter)
  std::uint16_t passThrough;
  std::uint16_t reserved1;
};

struct PwmStartReadRecord {        // IOCTL_PWM_START_READ, 12 bytes in and out
  std::uint16_t counter;           // in: must be 0
  std::uint16_t reserved;
  float firstUs;                   // out: phase counted by counter 0, microseconds
  float secondUs;                  // out: phase counted by counter 1, microseconds
};

#pragma pack(pop)

static_assert(sizeof(EventEnableRequest) == 16);
static_assert(sizeof(DioPortsRequest) == 8);
static_assert(sizeof(DioWriteRequest) == 12);
static_assert(sizeof(DiEventPortsRequest) == 12);
static_assert(sizeof(PropertySetRequest) == 8);
static_assert(sizeof(CounterConfigRequest) == 20);
static_assert(sizeof(CounterEventReadRecord) == 8);
static_assert(sizeof(CounterFreqStartRequest) == 6);
static_assert(sizeof(CounterFreqReadRecord) == 8);
static_assert(sizeof(CounterPulseStartRequest) == 16);
static_assert(sizeof(FreqOutStartRequest) == 6);
static_assert(sizeof(PwmSettingRequest) == 20);
static_assert(sizeof(PwmStartReadRecord) == 12);
static_assert(offsetof(PwmSettingRequest, pulseCount) == 12);
static_assert(offsetof(CounterPulseStartRequest, periodSeconds) == 4);

// Reads the first `length` bytes of a buffer into a zero-filled record (a
// shorter buffer leaves the remaining fields 0).
template <typename Record>
Record Load(const void* buffer, std::size_t length) {
  static_assert(std::is_trivially_copyable_v<Record>);
  Record record{};
  if (buffer != nullptr) std::memcpy(&record, buffer, length < sizeof record ? length : sizeof record);
  return record;
}

// Writes at most `length` bytes of a record into a buffer.
template <typename Record>
void Store(const Record& record, void* buffer, std::size_t length) {
  static_assert(std::is_trivially_copyable_v<Record>);
  if (buffer != nullptr) std::memcpy(buffer, &record, length < sizeof record ? length : sizeof record);
}

}  // namespace qio::protocol
