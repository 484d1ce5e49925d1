#include "ResultCodes.h"

#include "qio/platform/errors.h"

namespace qio::library {
namespace {

constexpr std::uint32_t kDriverCodeBit = 0x20000000u;
constexpr std::uint32_t kErrorAll = 0xFFFFFFFFu;
constexpr std::uint32_t kErrorTooManyCommands = 56;  // the platform has too many requests pending
constexpr std::uint32_t kErrorNoAccess = 998;        // invalid access to a memory location

}  // namespace

std::uint32_t MapErrorValue(std::uint32_t error) {
  if (error == platform::kErrorSuccess) return 0;
  // All ones has the driver bit set too; it is the platform's "unspecified"
  // failure, not a driver code, so it is sorted out first.
  if (error == kErrorAll) return 100;
  if ((error & kDriverCodeBit) != 0) return error & ~kDriverCodeBit;
  switch (error) {
    case platform::kErrorFileNotFound: return 101;
    case platform::kErrorInvalidHandle: return 102;
    case kErrorTooManyCommands: return 103;
    case kErrorNoAccess: return 105;
    default: return error;
  }
}

std::uint32_t MapDriverError() { return MapErrorValue(platform::GetLastError()); }

}  // namespace qio::library
