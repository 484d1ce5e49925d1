#include "Interrupt.h"

#include <signal.h>

#include <atomic>

#include "qio/platform/clock.h"

namespace qio::tool {
namespace {

std::atomic<bool> gInterrupted{false};

extern "C" void OnInterrupt(int) { gInterrupted.store(true); }

}  // namespace

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
}

bool Interrupted() { return gInterrupted.load(); }

void ClearInterrupt() { gInterrupted.store(false); }

bool SleepUnlessInterrupted(unsigned milliseconds) {
  const std::uint64_t end = platform::NowNs() + static_cast<std::uint64_t>(milliseconds) * 1000000u;
  while (!Interrupted()) {
    const std::uint64_t now = platform::NowNs();
    if (now >= end) return true;
    const std::uint64_t left = (end - now) / 1000000u;
    platform::Sleep(static_cast<std::uint32_t>(left > 20 ? 20 : (left == 0 ? 1 : left)));
  }
  return false;
}

}  // namespace qio::tool
