// The interrupt controller of the hosted target: ISA lines 0 to 15, logical
// interrupt identifiers line + 16. A driver binds a logical interrupt to an
// event; a device raises a request on its line; the platform signals the
// bound event and masks the interrupt until the driver acknowledges it
// (InterruptDone). A request raised while masked is delivered once at the
// acknowledgement: not lost, and not doubled. Thread-safe.
#pragma once

#include <cstdint>

#include "qio/platform/api.h"
#include "qio/platform/kernel.h"

namespace qio::platform {

inline constexpr unsigned kIrqLines = 16;
inline constexpr std::uint32_t kSysIntrFirst = 16;

inline constexpr std::uint32_t SysIntrFromIrq(unsigned line) { return line + kSysIntrFirst; }

// Binds the logical interrupt to the event and unmasks it. Fails (false, last
// error kErrorInvalidParameter or kErrorBusy) for an identifier outside
// 16..31, a bad event handle, or an interrupt that is already bound.
QIO_PLATFORM_API bool InterruptInitialize(std::uint32_t sysIntr, Handle event, const void* data = nullptr,
                                          std::uint32_t size = 0);
// Acknowledges a serviced interrupt: unmasks it, and delivers at once a
// request that arrived while it was masked.
QIO_PLATFORM_API void InterruptDone(std::uint32_t sysIntr);
// Masks the interrupt and releases its binding; a later InterruptInitialize
// may bind it again.
QIO_PLATFORM_API void InterruptDisable(std::uint32_t sysIntr);

// Device side: raises an interrupt request on an ISA line (0 to 15). Without a
// binding the request is dropped, as an unclaimed edge on the bus would be.
QIO_PLATFORM_API void RaiseInterruptRequest(unsigned line);

// Number of requests delivered to the bound event of the line so far.
QIO_PLATFORM_API std::uint64_t InterruptDeliveries(unsigned line);

// Number of deliveries the driver has acknowledged (InterruptDone on a masked
// line) so far: once it has moved on past a delivery, the driver's service of
// that interrupt, events and counts included, is over.
QIO_PLATFORM_API std::uint64_t InterruptAcknowledgements(unsigned line);

// Releases every binding (target shutdown).
QIO_PLATFORM_API void InterruptResetAll();

}  // namespace qio::platform
