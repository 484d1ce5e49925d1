// The features record and DeviceGetFeatures.
#include "Features.h"

#include <cstring>

#include "DeviceTable.h"
#include "ExportGuard.h"
#include "ResultCodes.h"
#include "qio/protocol/registry_names.h"
#include "qio5162/Zqs5162.h"

namespace qio::library {
namespace {

constexpr DeviceFeatures MakeFeatures() {
  DeviceFeatures f{};
  constexpr char16_t kVersion[] = u"Ver 2.1";
  constexpr char16_t kFile[] = u"Zqs5162.dll";
  for (std::size_t i = 0; kVersion[i] != 0; ++i) f.versionText[i] = kVersion[i];
  for (std::size_t i = 0; kFile[i] != 0; ++i) f.libraryFile[i] = kFile[i];
  f.boardId = protocol::kBoardId;
  f.doChannels = 24;
  f.diChannels = 24;
  f.family62 = 1;
  f.family64 = 2;
  f.family92 = 0x2026;
  return f;
}

constexpr DeviceFeatures kFeatures = MakeFeatures();

}  // namespace

const DeviceFeatures& TheDeviceFeatures() { return kFeatures; }

}  // namespace qio::library

using namespace qio::library;

extern "C" ZQS5162_API uint32_t DeviceGetFeatures(uint32_t DriverHandle, void* Buffer, uint16_t Size) {
  return qio::library::GuardedForHandle(DriverHandle, [&]() -> uint32_t {
    EntryRef entry = LookupDevice(DriverHandle);
    if (!entry) return kResultBadHandle;
    const std::uint32_t base = ErrorBase(entry->deviceNumber);
    // The record is copied whole; a buffer declared smaller than it is refused
    // rather than overrun.
    if (Buffer == nullptr || Size < kFeaturesSize) return base + kLowArgument;
    const DeviceFeatures* features = entry->settings.features;
    if (entry->settings.boardId != qio::protocol::kBoardId || features == nullptr) return base + kLowBoardId;
    std::memcpy(Buffer, features, kFeaturesSize);
    return kSuccess;
  });
}
