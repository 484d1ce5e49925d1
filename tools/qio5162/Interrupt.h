// Ctrl-C: long-running commands (watch, events, waits) end at the next poll
// instead of killing the process, so that the device is closed properly.
#pragma once

namespace qio::tool {

// Installs the SIGINT handler (once).
void InstallInterruptHandler();
// True after Ctrl-C until ClearInterrupt().
bool Interrupted();
void ClearInterrupt();
// Sleeps on the platform clock in short steps; false when Ctrl-C came.
bool SleepUnlessInterrupted(unsigned milliseconds);

}  // namespace qio::tool
