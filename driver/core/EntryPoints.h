// The stream entry points of the driver behind their exported C names: one
// DeviceContext per board, which is both the device handle and the open
// handle of every open of that board.
#pragma once

#include <cstdint>

#include "../DeviceContext.h"

namespace qio::driver {

// XXX_Init: reads the configuration named by the active key, registers the
// board and creates its events. Null on failure, with nothing left behind.
DeviceContext* InitDevice(const char* activeKey);
// XXX_Deinit: releases everything Init built; a board still open first has its
// interrupt service stopped.
bool DeinitDevice(DeviceContext* ctx);
// XXX_Open: counts the open; the first one applies the per-device settings,
// programs the port directions and starts interrupt service.
// XXX_Close: the last close stops interrupt service, disables every event
// source and resets both counters.
// The first-open and last-close work runs outside every lock; an open or a
// close that comes while it is under way (on another thread) waits until it
// is done, so that a first open never overlaps the last close before it.
DeviceContext* OpenDevice(DeviceContext* ctx);
bool CloseDevice(DeviceContext* ctx);

}  // namespace qio::driver
