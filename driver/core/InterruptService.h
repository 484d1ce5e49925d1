// Interrupt service of a board: the named events of its 26 event sources, the
// binding of its interrupt line, the interrupt service thread, and the
// requests that enable sources and choose the ports a DI channel latches.
#pragma once

#include <cstdint>

#include "../DeviceContext.h"
#include "../Request.h"

namespace qio::driver {

// Creates the missing ones of the 26 named events of the board's device
// number; if any cannot be had, all are closed again and left null.
void CreateNamedEvents(DeviceContext& ctx);
void CloseNamedEvents(DeviceContext& ctx);

// Binds sysIntr to interruptEvent, clears the board's interrupt status left
// from while nobody serviced it, and starts the interrupt service thread at
// istPriority. False when the interrupt cannot be bound (another board may
// hold the line) or the thread not created; no interrupt is serviced then.
bool StartInterruptService(DeviceContext& ctx);
// Asks the thread to end, releases the interrupt binding if this board made
// it, and waits for the thread (at most 3000 ms plus 10 ms).
void StopInterruptService(DeviceContext& ctx);

// One pass of the thread over a delivered interrupt: reads the status word,
// latches the DI ports and reads their flags, clears the board's interrupt
// status, then counts and signals the enabled sources, tallies the terminal
// counts and ends a counted PWM at its prescaler's terminal count (the only
// step that takes ctx.lock). Does not acknowledge the interrupt to the
// platform.
void ServiceInterrupt(DeviceContext& ctx);

// The interrupt-control bit of an event source (0-25).
std::uint16_t InterruptControlBit(unsigned source);

HandlerResult HandleEventEnable(DeviceContext& ctx, const Request& request);        // IOCTL_EVENT_ENABLE
HandlerResult HandleSetEventDiPorts(DeviceContext& ctx, const Request& request);    // IOCTL_DIO_SET_EVENT_DI_PORTS
HandlerResult HandleGetEventDiPorts(DeviceContext& ctx, const Request& request);    // IOCTL_DIO_GET_EVENT_DI_PORTS

}  // namespace qio::driver
