// Finding the simulated board behind a device number: the driver records the
// base address of each board it registered under its service key,
// "Device%03d" by device number; the board plugged there is the one.
#include <cstdio>
#include <string>

#include "board_model.h"
#include "hosted_target.h"
#include "qio/platform/errors.h"
#include "qio/platform/registry.h"
#include "qio/protocol/registry_names.h"

namespace pf = qio::platform;
using namespace qio::target;

namespace {

// The base address the driver recorded for the device, if it did.
bool RecordedBase(unsigned deviceNumber, std::uint32_t* base) {
  char path[160];
  std::snprintf(path, sizeof path, qio::protocol::kDeviceSubkeyFormat, qio::protocol::kServiceKey,
                static_cast<int>(deviceNumber));
  pf::RegKey key = 0;
  if (pf::RegOpenKey(pf::kLocalMachine, path, &key) != pf::kErrorSuccess) return false;
  const bool found = pf::RegQueryDword(key, "BaseAddress", base) == pf::kErrorSuccess;
  pf::RegCloseKey(key);
  return found;
}

}  // namespace

extern "C" int qio_target_board_of_device(QioTarget* target, unsigned deviceNumber, QioSimBoard** board) {
  constexpr const char* kFunction = "qio_target_board_of_device";
  EnterTarget();
  if (board != nullptr) *board = nullptr;
  if (board == nullptr) return Result(QIO_TARGET_E_ARGUMENT, std::string(kFunction) + ": board is NULL");
  if (deviceNumber > static_cast<unsigned>(qio::protocol::kMaxDeviceNumber)) {
    return Result(QIO_TARGET_E_ARGUMENT,
                  std::string(kFunction) + ": device number " + std::to_string(deviceNumber) + " is not 0 to 254");
  }
  auto lock = LockTargets();
  if (const int status = CheckTargetLocked(target, kFunction); status != QIO_TARGET_OK) return status;
  std::uint32_t base = 0;
  if (!RecordedBase(deviceNumber, &base)) {
    return Result(QIO_TARGET_E_DEVICE,
                  std::string(kFunction) + ": no device " + std::to_string(deviceNumber) + " is registered");
  }
  for (const auto& plugged : target->boards) {
    if (BoardBase(*plugged) == base) {
      *board = plugged.get();
      return Succeed();
    }
  }
  char text[32];
  std::snprintf(text, sizeof text, "0x%X", base);
  return Result(QIO_TARGET_E_DEVICE, std::string(kFunction) + ": device " + std::to_string(deviceNumber) +
                                         " (base " + text + ") has no simulated board");
}
