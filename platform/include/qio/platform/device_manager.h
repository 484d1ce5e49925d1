// The device manager of the hosted target, working like the target's: at boot
// it loads a stream driver for each key under Drivers\BuiltIn, exposes each
// instance under a stream name such as "Q621:", and routes opens, device
// control requests and closes to the driver's prefixed entry points.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "qio/platform/api.h"
#include "qio/platform/kernel.h"

namespace qio::platform {

struct ActiveDevice {
  std::string name;        // stream name, e.g. "Q621:"
  std::string activeKey;   // e.g. "Drivers\Active\01"
  std::string builtInKey;  // e.g. "Drivers\BuiltIn\ZQS5162S0"
  std::string module;      // file that was loaded, e.g. ".../libZqs5162s.so"
};

// Directory in which driver modules are resolved ("Zqs5162s.dll" finds
// lib<name>.so there, without regard to case). Defaults to the directory of
// the platform library itself.
QIO_PLATFORM_API void SetModuleDirectory(std::string directory);
QIO_PLATFORM_API std::string ModuleDirectory();

// Resolves a target module name to a file in the module directory, or "".
QIO_PLATFORM_API std::string ResolveModule(std::string_view targetName);

// Loads every built-in driver (ascending "Order", then key name). For each:
// reads "Dll", "Prefix" and an optional "Index"; creates Drivers\Active\NN
// with "Name" (prefix + index + ":", the first free index from 1 when none is
// given) and "Key"; loads the module; resolves its entry points; calls
// XXX_Init with the active key's path. A missing module, a missing entry point
// or a failed Init removes the active key and unloads the module. Each load
// and each failure is appended to *messages (may be null). Returns the number
// of drivers loaded.
// A key without "Order" loads after every key that has one. The prefix is
// three letters or digits; the index is one digit (an automatic index runs
// 1 to 9, then 0), as in the target's device names.
QIO_PLATFORM_API std::size_t DeviceManagerStart(std::vector<std::string>* messages);

// Calls XXX_Deinit for each loaded device and unloads its module. Stream
// handles still open are closed first (XXX_Close).
QIO_PLATFORM_API void DeviceManagerStop();
// The same, reporting to *messages (may be null). A device whose streams are
// still in a driver call after a grace period is neither deinitialised nor
// unloaded (its code may still be running); returns the number of such.
QIO_PLATFORM_API std::size_t DeviceManagerStop(std::vector<std::string>* messages);

// Functions that a module outside the drivers (the user-mode library) gives
// the system to run when it shuts down, before the drivers stop: there it
// ends the waits of its callers on the objects it handed out. Up to eight;
// adding one twice keeps one. Nothing is allocated.
QIO_PLATFORM_API void AddShutdownHook(void (*hook)());
QIO_PLATFORM_API void RunShutdownHooks();

// System suspend and resume: XXX_PowerDown for each loaded device that has
// it (last loaded first), XXX_PowerUp in load order.
QIO_PLATFORM_API void DeviceManagerPowerDown();
QIO_PLATFORM_API void DeviceManagerPowerUp();

QIO_PLATFORM_API std::vector<ActiveDevice> ListActiveDevices();

// Calls the optional query entry point XXX_<entry> (QioStreamQuery) of the
// driver instance behind a stream name (case-insensitive) with its device
// context, on the caller's thread and without an open: a harness reads the
// driver's own view of its device this way. The instance is not
// deinitialised while the call runs. Returns the entry's result; 0 with the
// last error kErrorFileNotFound (no such device, or it is being stopped) or
// kErrorProcNotFound (the driver has no such entry point).
QIO_PLATFORM_API int QueryDevice(std::string_view deviceName, std::string_view entry, void* record,
                                 std::uint32_t size);

// Opens a stream device by name (case-insensitive): calls XXX_Open and
// returns a stream handle, or kNullHandle with the last error
// kErrorFileNotFound (no such device) or the driver's error (open refused;
// kErrorAccessDenied when it set none). CloseHandle on the stream handle
// calls XXX_Close; when a request on the stream is still running in the
// driver on another thread, the handle is closed at once and XXX_Close runs
// as soon as that request has returned.
QIO_PLATFORM_API Handle CreateFile(std::string_view deviceName, std::uint32_t access, std::uint32_t share);

// Sends a device-control request to the driver's XXX_IOControl on the
// caller's thread and returns its result; the driver's last error stays the
// thread's last error. A bad handle: false, kErrorInvalidHandle.
QIO_PLATFORM_API bool DeviceIoControl(Handle stream, std::uint32_t code, const void* inBuffer,
                                      std::uint32_t inLength, void* outBuffer, std::uint32_t outLength,
                                      std::uint32_t* bytesReturned);
// As DeviceIoControl, handing back the driver's result unchanged (a driver
// may return a status code of its own instead of TRUE); 0 for a bad handle.
QIO_PLATFORM_API int DeviceIoControlResult(Handle stream, std::uint32_t code, const void* inBuffer,
                                           std::uint32_t inLength, void* outBuffer, std::uint32_t outLength,
                                           std::uint32_t* bytesReturned);
// Whether the handle is an open stream handle.
QIO_PLATFORM_API bool IsStreamHandle(Handle handle);

// Read, Write and Seek on a stream handle, routed to XXX_Read, XXX_Write and
// XXX_Seek when the driver has them. They return the driver's result, or
// kStreamError with the last error kErrorInvalidHandle (bad handle),
// kErrorNotSupported (no such entry) or kErrorInvalidParameter (a null buffer
// with a nonzero count).
inline constexpr std::uint32_t kStreamError = 0xFFFFFFFFu;
QIO_PLATFORM_API std::uint32_t ReadFile(Handle stream, void* buffer, std::uint32_t count);
QIO_PLATFORM_API std::uint32_t WriteFile(Handle stream, const void* buffer, std::uint32_t count);
QIO_PLATFORM_API std::uint32_t SetFilePointer(Handle stream, std::int32_t amount, std::uint32_t method);

// ---- the hosted system as a whole ---------------------------------------

// Whether a hosted target is running in this process (set by the target).
QIO_PLATFORM_API bool SystemBooted();
QIO_PLATFORM_API void SetSystemBooted(bool booted);

// Boots the default hosted target when none is running, by loading the target
// module (libqio5162target.so from the module directory) on demand, so that an
// application written only against the library works out of the box. Returns
// true when a target is running afterwards.
QIO_PLATFORM_API bool EnsureSystemBooted();

}  // namespace qio::platform
