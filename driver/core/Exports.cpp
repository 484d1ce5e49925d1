// The exported entry points of the Zqs5162s module: C linkage, the stream
// prefix Q62, and no exception ever leaves them.
#include <cstdint>

#include "Dispatcher.h"
#include "EntryPoints.h"
#include "StateView.h"
#include "qio/platform/errors.h"
#include "qio/platform/kernel.h"
#include "qio/platform/stream_driver.h"

#define Q62_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr std::uint32_t kProcessAttach = 1;
// The platform's unspecified failure: what a caller learns of an exception
// that ended an entry point (the library reports it as ErrorBase + 100).
constexpr std::uint32_t kErrorUnspecified = 0xFFFFFFFFu;

template <class Result, class Body>
Result Guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    qio::platform::SetLastError(kErrorUnspecified);
    return Result{0};
  }
}

qio::driver::DeviceContext* Context(uintptr_t handle) {
  return reinterpret_cast<qio::driver::DeviceContext*>(handle);
}

uintptr_t HandleOf(qio::driver::DeviceContext* ctx) { return reinterpret_cast<uintptr_t>(ctx); }

}  // namespace

Q62_EXPORT int DllMain(void* module, std::uint32_t reason, void* /*reserved*/) {
  if (reason == kProcessAttach) qio::platform::DisableThreadLibraryCalls(module);
  return 1;
}

Q62_EXPORT uintptr_t Q62_Init(const char* activeKey, const void* /*busContext*/) {
  return Guarded<uintptr_t>([&] { return HandleOf(qio::driver::InitDevice(activeKey)); });
}

Q62_EXPORT int Q62_Deinit(uintptr_t deviceContext) {
  return Guarded<int>([&] { return qio::driver::DeinitDevice(Context(deviceContext)) ? 1 : 0; });
}

Q62_EXPORT uintptr_t Q62_Open(uintptr_t deviceContext, uint32_t /*accessCode*/, uint32_t /*shareMode*/) {
  return Guarded<uintptr_t>([&] { return HandleOf(qio::driver::OpenDevice(Context(deviceContext))); });
}

Q62_EXPORT int Q62_Close(uintptr_t openContext) {
  return Guarded<int>([&] { return qio::driver::CloseDevice(Context(openContext)) ? 1 : 0; });
}

Q62_EXPORT uint32_t Q62_Read(uintptr_t /*openContext*/, void* /*buffer*/, uint32_t /*count*/) { return 0; }

Q62_EXPORT uint32_t Q62_Write(uintptr_t /*openContext*/, const void* /*buffer*/, uint32_t /*count*/) { return 0; }

Q62_EXPORT uint32_t Q62_Seek(uintptr_t /*openContext*/, int32_t /*amount*/, uint32_t /*method*/) {
  return 0xFFFFFFFFu;
}

Q62_EXPORT void Q62_PowerUp(uintptr_t /*deviceContext*/) {}

Q62_EXPORT void Q62_PowerDown(uintptr_t /*deviceContext*/) {}

Q62_EXPORT int Q62_IOControl(uintptr_t openContext, uint32_t code, const uint8_t* inBuffer, uint32_t inLength,
                             uint8_t* outBuffer, uint32_t outLength, uint32_t* bytesReturned) {
  return Guarded<int>([&] {
    return qio::driver::Dispatch(Context(openContext), code, inBuffer, inLength, outBuffer, outLength,
                                 bytesReturned);
  });
}

// The board's state for the harness, read without an open: the device
// manager calls it with the device context of XXX_Init. Writes at most `size`
// bytes of a QioDriverState (qio5162/driver_state.h); TRUE or FALSE.
Q62_EXPORT int Q62_QueryState(uintptr_t deviceContext, void* record, uint32_t size) {
  return Guarded<int>([&] {
    if (deviceContext == 0 || record == nullptr) return 0;
    return qio::driver::ReadDriverState(*Context(deviceContext), record, size) ? 1 : 0;
  });
}

// The entry points have the types the device manager calls them through.
namespace {
[[maybe_unused]] constexpr QioStreamInit kInit = &Q62_Init;
[[maybe_unused]] constexpr QioStreamDeinit kDeinit = &Q62_Deinit;
[[maybe_unused]] constexpr QioStreamOpen kOpen = &Q62_Open;
[[maybe_unused]] constexpr QioStreamClose kClose = &Q62_Close;
[[maybe_unused]] constexpr QioStreamRead kRead = &Q62_Read;
[[maybe_unused]] constexpr QioStreamWrite kWrite = &Q62_Write;
[[maybe_unused]] constexpr QioStreamSeek kSeek = &Q62_Seek;
[[maybe_unused]] constexpr QioStreamPower kPowerUp = &Q62_PowerUp;
[[maybe_unused]] constexpr QioStreamPower kPowerDown = &Q62_PowerDown;
[[maybe_unused]] constexpr QioStreamIoControl kIoControl = &Q62_IOControl;
[[maybe_unused]] constexpr QioStreamQuery kQueryState = &Q62_QueryState;
}  // namespace
