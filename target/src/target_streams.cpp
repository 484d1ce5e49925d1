// Stream devices and raw port access through the harness.
//
// A QioStream* is the platform's stream handle itself, carried in a pointer
// and never dereferenced: the handle table checks it on every call, so a
// closed or made-up stream is an error, not a crash.
#include <cstdio>

#include "hosted_target.h"
#include "qio/platform/device_manager.h"
#include "qio/platform/errors.h"
#include "qio/platform/port_io.h"
#include "qio/platform/stream_driver.h"

namespace pf = qio::platform;
using namespace qio::target;

namespace {

QioStream* ToStream(pf::Handle handle) {
  return reinterpret_cast<QioStream*>(static_cast<std::uintptr_t>(handle));
}

pf::Handle FromStream(const QioStream* stream) {
  const auto value = reinterpret_cast<std::uintptr_t>(stream);
  return value <= 0xFFFFFFFFu ? static_cast<pf::Handle>(value) : pf::kNullHandle;
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

bool ValidWidth(unsigned width) { return width == 1 || width == 2 || width == 4; }

}  // namespace

extern "C" {

int qio_target_device_open(QioTarget* target, const char* streamName, QioStream** stream) {
  EnterTarget();
  if (stream == nullptr) return Result(QIO_TARGET_E_ARGUMENT, "qio_target_device_open: stream is NULL");
  *stream = nullptr;
  if (streamName == nullptr) return Result(QIO_TARGET_E_ARGUMENT, "qio_target_device_open: streamName is NULL");
  {
    auto lock = LockTargets();
    if (const int status = CheckTargetLocked(target, "qio_target_device_open"); status != QIO_TARGET_OK) {
      return status;
    }
  }
  const pf::Handle handle =
      pf::CreateFile(streamName, QIO_GENERIC_READ | QIO_GENERIC_WRITE, QIO_FILE_SHARE_READ | QIO_FILE_SHARE_WRITE);
  if (handle == pf::kNullHandle) {
    const std::uint32_t error = pf::GetLastError();
    const std::string name = std::string("\"") + streamName + "\"";
    return Result(QIO_TARGET_E_DEVICE, error == pf::kErrorFileNotFound
                                           ? "qio_target_device_open: no stream device " + name
                                           : "qio_target_device_open: the driver refused to open " + name +
                                                 " (error " + Hex(error) + ")");
  }
  *stream = ToStream(handle);
  return Succeed();
}

int qio_target_device_ioctl(QioStream* stream, uint32_t code, const void* in, uint32_t inLength, void* out,
                            uint32_t outLength, uint32_t* bytesReturned, uint32_t* lastError) {
  EnterTarget();
  if (bytesReturned != nullptr) *bytesReturned = 0;
  const pf::Handle handle = FromStream(stream);
  if (!pf::IsStreamHandle(handle)) {
    if (lastError != nullptr) *lastError = pf::kErrorInvalidHandle;
    Result(QIO_TARGET_E_ARGUMENT, "qio_target_device_ioctl: not an open stream");
    return 0;
  }
  // The last error after the request is this request's own.
  pf::SetLastError(pf::kErrorSuccess);
  const int result = pf::DeviceIoControlResult(handle, code, in, inLength, out, outLength, bytesReturned);
  const std::uint32_t error = pf::GetLastError();
  if (lastError != nullptr) *lastError = error;
  Result(result != 0 ? QIO_TARGET_OK : QIO_TARGET_E_DEVICE,
         result != 0 ? std::string()
                     : "qio_target_device_ioctl: request " + Hex(code) + " failed (error " + Hex(error) + ")");
  return result;
}

int qio_target_device_close(QioStream* stream) {
  EnterTarget();
  const pf::Handle handle = FromStream(stream);
  if (!pf::IsStreamHandle(handle)) {
    return Result(QIO_TARGET_E_ARGUMENT, "qio_target_device_close: not an open stream");
  }
  if (!pf::CloseHandle(handle)) {
    return Result(QIO_TARGET_E_DEVICE,
                  "qio_target_device_close: the driver's close failed (error " + Hex(pf::GetLastError()) + ")");
  }
  return Succeed();
}

uint32_t qio_target_port_in(QioTarget* target, uint16_t port, unsigned width) {
  EnterTarget();
  {
    auto lock = LockTargets();
    if (CheckTargetLocked(target, "qio_target_port_in") != QIO_TARGET_OK) return 0xFFFFFFFFu;
  }
  if (!ValidWidth(width)) {
    Result(QIO_TARGET_E_ARGUMENT, "qio_target_port_in: width " + std::to_string(width) + " is not 1, 2 or 4");
    return 0xFFFFFFFFu;
  }
  Succeed();
  switch (width) {
    case 1: return pf::PortInByte(port);
    case 2: return pf::PortInWord(port);
    default: return pf::PortInDword(port);
  }
}

int qio_target_port_out(QioTarget* target, uint16_t port, unsigned width, uint32_t value) {
  EnterTarget();
  {
    auto lock = LockTargets();
    if (const int status = CheckTargetLocked(target, "qio_target_port_out"); status != QIO_TARGET_OK) {
      return status;
    }
  }
  if (!ValidWidth(width)) {
    return Result(QIO_TARGET_E_ARGUMENT, "qio_target_port_out: width " + std::to_string(width) + " is not 1, 2 or 4");
  }
  if ((width == 1 && value > 0xFFu) || (width == 2 && value > 0xFFFFu)) {
    return Result(QIO_TARGET_E_ARGUMENT, "qio_target_port_out: value " + Hex(value) + " does not fit in " +
                                             std::to_string(width) + " byte(s)");
  }
  switch (width) {
    case 1: pf::PortOutByte(port, static_cast<std::uint8_t>(value)); break;
    case 2: pf::PortOutWord(port, static_cast<std::uint16_t>(value)); break;
    default: pf::PortOutDword(port, value); break;
  }
  return Succeed();
}

}  // extern "C"
