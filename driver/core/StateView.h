// The board's state as a read-only view (qio5162/driver_state.h): what owns
// each counter block and generator and with what settings, the event sources,
// the ports and the open/close cycle, like a debugfs file of the driver. The
// module exports it as XXX_QueryState, which the device manager calls with
// the device context, without an open.
#pragma once

#include <cstddef>

#include "../DeviceContext.h"

namespace qio::driver {

// Fills the QioDriverState at `record` (`capacity` bytes of it at most, which
// must cover its size and version fields) from the device record, under the
// device lock and in one go; its size field tells how much was written. Reads no register, changes nothing, and never waits while it
// holds the lock; while a first open applies the settings it waits for that
// (up to half a second) and otherwise leaves the configuration fields out.
// False for no record or a capacity too small for the header.
bool ReadDriverState(DeviceContext& ctx, void* record, std::size_t capacity);

}  // namespace qio::driver
