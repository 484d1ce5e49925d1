// Stream handles: a device opened by name, with its requests routed to the
// driver's XXX_Open, XXX_IOControl, XXX_Read, XXX_Write, XXX_Seek and
// XXX_Close.
//
// A stream may be closed on one thread while a request on it still runs in the
// driver on another. The handle is gone at once (new requests fail), but
// XXX_Close is held back until the last running request has returned, so the
// driver never sees a request on an open context it has already closed.
#include <memory>
#include <mutex>

#include "devices.h"
#include "handle_table.h"
#include "qio/platform/errors.h"
#include "qio/platform/faults.h"

namespace qio::platform {
namespace detail {
namespace {

class StreamObject final : public KernelObject {
 public:
  static constexpr ObjectKind kKind = ObjectKind::Stream;

  // Takes over one user of the device, given back when XXX_Close has run.
  StreamObject(std::shared_ptr<Device> device, std::uintptr_t openContext)
      : KernelObject(kKind), device_(std::move(device)), openContext_(openContext) {}

  const Device& Owner() const { return *device_; }
  std::uintptr_t OpenContext() const { return openContext_; }

  // A request begins; false once the stream is closing.
  bool Enter() {
    std::scoped_lock lock(mutex_);
    if (closing_) return false;
    ++calls_;
    return true;
  }

  // A request ended; the last one of a closing stream runs the close. The
  // caller's last error is the request's and stays so.
  void Leave() {
    {
      std::scoped_lock lock(mutex_);
      if (--calls_ > 0 || !closing_ || closed_) return;
      closed_ = true;
    }
    const std::uint32_t error = GetLastError();
    RunClose();
    SetLastError(error);
  }

  bool OnClose() override {
    {
      std::scoped_lock lock(mutex_);
      if (closing_) return true;
      closing_ = true;
      if (calls_ > 0) return true;  // the last running request closes it
      closed_ = true;
    }
    return RunClose();
  }

  // For a stream whose handle could not be kept: close without a handle.
  bool CloseUnlisted() { return OnClose(); }

 private:
  bool RunClose() {
    const bool result = device_->entry.close(openContext_) != 0;
    device_->Release();
    return result;
  }

  std::shared_ptr<Device> device_;
  const std::uintptr_t openContext_;
  std::mutex mutex_;
  unsigned calls_ = 0;
  bool closing_ = false;
  bool closed_ = false;
};

// One request on a stream handle: holds the stream and its open context for
// the duration of the call.
class StreamCall {
 public:
  explicit StreamCall(Handle handle) : stream_(LookupHandleAs<StreamObject>(handle)) {
    if (stream_ && !stream_->Enter()) stream_.reset();
  }
  ~StreamCall() {
    if (stream_) stream_->Leave();
  }
  StreamCall(const StreamCall&) = delete;
  StreamCall& operator=(const StreamCall&) = delete;

  explicit operator bool() const { return stream_ != nullptr; }
  const EntryPoints& Entry() const { return stream_->Owner().entry; }
  std::uintptr_t OpenContext() const { return stream_->OpenContext(); }

 private:
  std::shared_ptr<StreamObject> stream_;
};

}  // namespace
}  // namespace detail

Handle CreateFile(std::string_view deviceName, std::uint32_t access, std::uint32_t share) {
  std::shared_ptr<detail::Device> device = detail::FindDevice(deviceName);
  if (!device || !device->Acquire()) {
    SetLastError(kErrorFileNotFound);
    return kNullHandle;
  }
  const std::uint32_t previous = GetLastError();
  SetLastError(kErrorSuccess);
  const std::uintptr_t openContext = device->entry.open(device->context, access, share);
  if (openContext == 0) {
    const std::uint32_t reason = GetLastError();
    device->Release();
    SetLastError(reason != kErrorSuccess ? reason : kErrorAccessDenied);
    return kNullHandle;
  }
  std::shared_ptr<detail::StreamObject> stream;
  try {
    stream = std::make_shared<detail::StreamObject>(device, openContext);
  } catch (const std::bad_alloc&) {  // the driver's open is undone: nothing holds it
    device->entry.close(openContext);
    device->Release();
    NoteResourceFailure();
    SetLastError(kErrorNotEnoughMemory);
    return kNullHandle;
  }
  const Handle handle = detail::InsertHandle(stream);
  if (handle == kNullHandle) {
    const std::uint32_t reason = GetLastError();
    stream->CloseUnlisted();
    SetLastError(reason);
    return kNullHandle;
  }
  // A shutdown that began while XXX_Open ran may have missed this handle when
  // it closed the open streams: close it here instead.
  if (device->Retired()) {
    CloseHandle(handle);
    SetLastError(kErrorFileNotFound);
    return kNullHandle;
  }
  SetLastError(previous);
  return handle;
}

int DeviceIoControlResult(Handle stream, std::uint32_t code, const void* inBuffer, std::uint32_t inLength,
                          void* outBuffer, std::uint32_t outLength, std::uint32_t* bytesReturned) {
  detail::StreamCall call(stream);
  if (!call) {
    SetLastError(kErrorInvalidHandle);
    return 0;
  }
  // The driver writes the bytes returned on every request; give it a place
  // when the caller does not want the count.
  std::uint32_t unused = 0;
  return call.Entry().ioControl(call.OpenContext(), code, static_cast<const std::uint8_t*>(inBuffer), inLength,
                                static_cast<std::uint8_t*>(outBuffer), outLength,
                                bytesReturned != nullptr ? bytesReturned : &unused);
}

bool DeviceIoControl(Handle stream, std::uint32_t code, const void* inBuffer, std::uint32_t inLength,
                     void* outBuffer, std::uint32_t outLength, std::uint32_t* bytesReturned) {
  return DeviceIoControlResult(stream, code, inBuffer, inLength, outBuffer, outLength, bytesReturned) != 0;
}

bool IsStreamHandle(Handle handle) {
  return detail::LookupHandle(handle, detail::ObjectKind::Stream) != nullptr;
}

namespace {

// Checks common to Read, Write and Seek; false with the last error set.
template <class Entry>
bool Usable(const detail::StreamCall& call, Entry entry) {
  if (!call) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  if (entry == nullptr) {
    SetLastError(kErrorNotSupported);
    return false;
  }
  return true;
}

}  // namespace

std::uint32_t ReadFile(Handle stream, void* buffer, std::uint32_t count) {
  detail::StreamCall call(stream);
  if (!Usable(call, call ? call.Entry().read : nullptr)) return kStreamError;
  if (buffer == nullptr && count > 0) {
    SetLastError(kErrorInvalidParameter);
    return kStreamError;
  }
  return call.Entry().read(call.OpenContext(), buffer, count);
}

std::uint32_t WriteFile(Handle stream, const void* buffer, std::uint32_t count) {
  detail::StreamCall call(stream);
  if (!Usable(call, call ? call.Entry().write : nullptr)) return kStreamError;
  if (buffer == nullptr && count > 0) {
    SetLastError(kErrorInvalidParameter);
    return kStreamError;
  }
  return call.Entry().write(call.OpenContext(), buffer, count);
}

std::uint32_t SetFilePointer(Handle stream, std::int32_t amount, std::uint32_t method) {
  detail::StreamCall call(stream);
  if (!Usable(call, call ? call.Entry().seek : nullptr)) return kStreamError;
  return call.Entry().seek(call.OpenContext(), amount, method);
}

}  // namespace qio::platform
