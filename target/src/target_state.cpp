// The driver's state of a device, read from the loaded driver itself: the
// device manager calls the board driver's query entry point with its device
// context. The device is not opened for it (a first open would program the
// port directions and start interrupt service), and the driver reads its
// state under its own lock, touching no register.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "hosted_target.h"
#include "qio/platform/device_manager.h"
#include "qio/protocol/registry_names.h"

namespace pf = qio::platform;
using namespace qio::target;

namespace {

constexpr const char* kQueryEntry = "QueryState";
constexpr std::size_t kHeaderSize = offsetof(QioDriverState, version) + sizeof(QioDriverState::version);

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Whether the device manager loaded the board's driver for the device (its
// module is lib<stem>.so, in any case).
bool RunsBoardDriver(const pf::ActiveDevice& device) {
  const std::size_t slash = device.module.find_last_of('/');
  const std::string file = slash == std::string::npos ? device.module : device.module.substr(slash + 1);
  return Lower(file) == "lib" + Lower(kBoardDriverStem) + ".so";
}

}  // namespace

extern "C" int qio_target_driver_state(QioTarget* target, unsigned deviceNumber, QioDriverState* state) {
  constexpr const char* kFunction = "qio_target_driver_state";
  if (state == nullptr) return Result(QIO_TARGET_E_ARGUMENT, std::string(kFunction) + ": state is NULL");
  const std::size_t capacity = state->size;
  if (capacity < kHeaderSize) {
    return Result(QIO_TARGET_E_ARGUMENT, std::string(kFunction) + ": state->size is " + std::to_string(capacity) +
                                             "; set it to sizeof(QioDriverState)");
  }
  if (deviceNumber > static_cast<unsigned>(qio::protocol::kMaxDeviceNumber)) {
    return Result(QIO_TARGET_E_ARGUMENT,
                  std::string(kFunction) + ": device number " + std::to_string(deviceNumber) + " is not 0 to 254");
  }
  {
    // Not held for the query: the driver may wait briefly for a first open.
    auto lock = LockTargets();
    if (const int status = CheckTargetLocked(target, kFunction); status != QIO_TARGET_OK) return status;
  }
  // Every board is its own driver instance; the one that registered the
  // device number answers for it.
  for (const pf::ActiveDevice& device : pf::ListActiveDevices()) {
    if (!RunsBoardDriver(device)) continue;
    QioDriverState full{};
    full.size = sizeof full;
    if (pf::QueryDevice(device.name, kQueryEntry, &full, sizeof full) == 0) continue;
    if (full.deviceNumber < 0 || static_cast<unsigned>(full.deviceNumber) != deviceNumber) continue;
    const std::size_t written = std::min<std::size_t>(capacity, full.size);
    full.size = static_cast<std::uint32_t>(written);
    std::memcpy(state, &full, written);
    return Succeed();
  }
  return Result(QIO_TARGET_E_DEVICE,
                std::string(kFunction) + ": no loaded driver has device " + std::to_string(deviceNumber));
}
