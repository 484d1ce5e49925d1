// A small stream driver for the device-manager tests (prefix "TST"). It reads
// its active key the way a real driver does ("Name", then "Key" and the
// built-in key it names), keeps a byte store per device, and writes a journal
// of every entry-point call.
//
// Built in three variants from this file:
//   QioTestDrv       every entry point
//   QioTestDrvMin    only the required ones (no Read, Write, Seek, Power*)
//   QioTestDrvNoIoc  lacks TST_IOControl
#include "test_driver.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "qio/platform/errors.h"
#include "qio/platform/kernel.h"
#include "qio/platform/registry.h"
#include "qio/platform/stream_driver.h"

#define TST_EXPORT extern "C" __attribute__((visibility("default")))

namespace pf = qio::platform;

namespace {

std::mutex journalMutex;
std::string journal;

void Log(const std::string& line) {
  std::scoped_lock lock(journalMutex);
  journal += line;
  journal += '\n';
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", value);
  return text;
}

struct TestDevice {
  std::string name;  // "Name" of the active key
  std::string key;   // "Key" of the active key
  std::uint32_t refuseOpen = 0;
  std::mutex storeMutex;
  std::uint8_t store[TST_STORE_SIZE] = {};
  std::uint32_t storeLength = 0;  // bytes written so far (the end for Seek)
};

struct TestOpen {
  TestDevice* device;
  std::uint32_t position = 0;
  std::uint32_t access;
};

bool ReadKeyDword(const std::string& path, const char* name, std::uint32_t* value) {
  pf::RegKey key = 0;
  if (pf::RegOpenKey(pf::kLocalMachine, path, &key) != pf::kErrorSuccess) return false;
  const bool ok = pf::RegQueryDword(key, name, value) == pf::kErrorSuccess;
  pf::RegCloseKey(key);
  return ok;
}

[[maybe_unused]] void CopyText(const std::string& text, std::uint8_t* out, std::uint32_t outLength, std::uint32_t* bytesReturned) {
  const std::uint32_t n = static_cast<std::uint32_t>(std::min<std::size_t>(text.size() + 1, outLength));
  if (n > 0) {
    std::memcpy(out, text.c_str(), n);
    out[n - 1] = 0;
  }
  *bytesReturned = n;
}

}  // namespace

TST_EXPORT size_t TstJournal(char* buffer, size_t capacity) {
  std::scoped_lock lock(journalMutex);
  if (buffer != nullptr && capacity > 0) {
    const std::size_t n = std::min(journal.size(), capacity - 1);
    std::memcpy(buffer, journal.data(), n);
    buffer[n] = 0;
  }
  return journal.size();
}

TST_EXPORT void TstJournalClear(void) {
  std::scoped_lock lock(journalMutex);
  journal.clear();
}

TST_EXPORT uintptr_t TST_Init(const char* activeKey, const void* /*busContext*/) {
  Log(std::string("Init ") + (activeKey != nullptr ? activeKey : "(null)"));
  if (activeKey == nullptr) return 0;
  pf::RegKey key = 0;
  if (pf::RegOpenKey(pf::kLocalMachine, activeKey, &key) != pf::kErrorSuccess) return 0;
  auto* device = new TestDevice;
  const bool named = pf::RegQueryString(key, "Name", &device->name) == pf::kErrorSuccess &&
                     pf::RegQueryString(key, "Key", &device->key) == pf::kErrorSuccess;
  pf::RegCloseKey(key);
  std::uint32_t failInit = 0;
  if (!named || (ReadKeyDword(device->key, "FailInit", &failInit) && failInit != 0)) {
    delete device;
    if (failInit != 0) pf::SetLastError(failInit);
    return 0;
  }
  ReadKeyDword(device->key, "RefuseOpen", &device->refuseOpen);
  return reinterpret_cast<uintptr_t>(device);
}

TST_EXPORT int TST_Deinit(uintptr_t deviceContext) {
  auto* device = reinterpret_cast<TestDevice*>(deviceContext);
  if (device == nullptr) return 0;
  Log("Deinit " + device->name);
  delete device;
  return 1;
}

TST_EXPORT uintptr_t TST_Open(uintptr_t deviceContext, uint32_t accessCode, uint32_t /*shareMode*/) {
  auto* device = reinterpret_cast<TestDevice*>(deviceContext);
  if (device == nullptr) return 0;
  Log("Open " + device->name + " " + Hex(accessCode));
  if (device->refuseOpen != 0) {
    if (device->refuseOpen != 1) pf::SetLastError(device->refuseOpen);
    return 0;
  }
  return reinterpret_cast<uintptr_t>(new TestOpen{device, 0, accessCode});
}

TST_EXPORT int TST_Close(uintptr_t openContext) {
  auto* open = reinterpret_cast<TestOpen*>(openContext);
  if (open == nullptr) return 0;
  Log("Close " + open->device->name);
  delete open;
  return 1;
}

#ifndef TST_WITHOUT_IOCONTROL
TST_EXPORT int TST_IOControl(uintptr_t openContext, uint32_t code, const uint8_t* in, uint32_t inLength,
                             uint8_t* out, uint32_t outLength, uint32_t* bytesReturned) {
  auto* open = reinterpret_cast<TestOpen*>(openContext);
  if (open == nullptr || bytesReturned == nullptr) {
    pf::SetLastError(pf::kErrorInvalidParameter);
    return 0;
  }
  *bytesReturned = 0;
  Log("IOControl " + open->device->name + " " + Hex(code));
  std::uint32_t word = 0;
  if (in != nullptr && inLength >= sizeof word) std::memcpy(&word, in, sizeof word);
  switch (code) {
    case TST_IOCTL_ECHO:
      if (outLength < inLength || (inLength > 0 && (in == nullptr || out == nullptr))) {
        pf::SetLastError(pf::kErrorInsufficientBuffer);
        return 0;
      }
      if (inLength > 0) std::memcpy(out, in, inLength);
      *bytesReturned = inLength;
      return 1;
    case TST_IOCTL_FAIL:
      pf::SetLastError(word);
      return 0;
    case TST_IOCTL_STATUS:
      return static_cast<int>(word);
    case TST_IOCTL_NAME:
      CopyText(open->device->name, out, out != nullptr ? outLength : 0, bytesReturned);
      return 1;
    case TST_IOCTL_KEY:
      CopyText(open->device->key, out, out != nullptr ? outLength : 0, bytesReturned);
      return 1;
    case TST_IOCTL_BLOCK: {
      const std::uint32_t wait = pf::WaitForSingleObject(word, 10000);
      Log("Unblocked " + open->device->name);
      *bytesReturned = 0;
      return wait == pf::kWaitObject0 ? 1 : 0;
    }
    default:
      pf::SetLastError(pf::kErrorNotSupported);
      return 0;
  }
}
#endif

#ifndef TST_REQUIRED_ONLY
TST_EXPORT uint32_t TST_Read(uintptr_t openContext, void* buffer, uint32_t count) {
  auto* open = reinterpret_cast<TestOpen*>(openContext);
  if (open == nullptr || (buffer == nullptr && count > 0)) return 0xFFFFFFFFu;
  std::scoped_lock lock(open->device->storeMutex);
  const std::uint32_t available =
      open->position < open->device->storeLength ? open->device->storeLength - open->position : 0;
  const std::uint32_t n = std::min(count, available);
  if (n > 0) std::memcpy(buffer, open->device->store + open->position, n);
  open->position += n;
  return n;
}

TST_EXPORT uint32_t TST_Write(uintptr_t openContext, const void* buffer, uint32_t count) {
  auto* open = reinterpret_cast<TestOpen*>(openContext);
  if (open == nullptr || (buffer == nullptr && count > 0)) return 0xFFFFFFFFu;
  std::scoped_lock lock(open->device->storeMutex);
  const std::uint32_t room = open->position < TST_STORE_SIZE ? TST_STORE_SIZE - open->position : 0;
  const std::uint32_t n = std::min(count, room);
  if (n > 0) std::memcpy(open->device->store + open->position, buffer, n);
  open->position += n;
  open->device->storeLength = std::max(open->device->storeLength, open->position);
  return n;
}

TST_EXPORT uint32_t TST_Seek(uintptr_t openContext, int32_t amount, uint32_t method) {
  auto* open = reinterpret_cast<TestOpen*>(openContext);
  if (open == nullptr || method > 2) return 0xFFFFFFFFu;
  std::scoped_lock lock(open->device->storeMutex);
  const std::int64_t origin = method == 0 ? 0 : method == 1 ? open->position : open->device->storeLength;
  const std::int64_t target = origin + amount;
  if (target < 0 || target > TST_STORE_SIZE) return 0xFFFFFFFFu;
  open->position = static_cast<std::uint32_t>(target);
  return open->position;
}

TST_EXPORT void TST_PowerDown(uintptr_t deviceContext) {
  Log("PowerDown " + reinterpret_cast<TestDevice*>(deviceContext)->name);
}

TST_EXPORT void TST_PowerUp(uintptr_t deviceContext) {
  Log("PowerUp " + reinterpret_cast<TestDevice*>(deviceContext)->name);
}

// The query entry: the device's stream name, NUL-terminated, cut to `size`.
TST_EXPORT int TST_QueryState(uintptr_t deviceContext, void* record, uint32_t size) {
  auto* device = reinterpret_cast<TestDevice*>(deviceContext);
  if (device == nullptr || record == nullptr || size == 0) return 0;
  Log("QueryState " + device->name);
  const std::size_t n = std::min<std::size_t>(device->name.size(), size - 1);
  std::memcpy(record, device->name.data(), n);
  static_cast<char*>(record)[n] = '\0';
  return 1;
}
#endif
