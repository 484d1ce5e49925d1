// The calling thread's last-error value.

#include "qio/platform/errors.h"

namespace qio::platform {
namespace {
thread_local std::uint32_t tLastError = kErrorSuccess;
}  // namespace

std::uint32_t GetLastError() { return tLastError; }

void SetLastError(std::uint32_t error) { tLastError = error; }

}  // namespace qio::platform
