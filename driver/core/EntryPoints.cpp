// Initialisation, open counting, first-open and last-close work.
#include "EntryPoints.h"

#include <memory>
#include <new>

#include "Dio.h"
#include "InterruptService.h"
#include "RegistryConfig.h"
#include "qio/platform/errors.h"
#include "qio/platform/kernel.h"
#include "qio/platform/interrupts.h"
#include "../counter/CounterEngine.h"

namespace qio::driver {

namespace {

// Releases what InitDevice built, in reverse order; safe on a partly built
// record (null handles are skipped).
void ReleaseDevice(DeviceContext* ctx, bool counterEngineReady) {
  CloseNamedEvents(*ctx);
  if (counterEngineReady) CounterEngineRelease(*ctx);
  if (ctx->interruptEvent != platform::kNullHandle) platform::CloseHandle(ctx->interruptEvent);
  ctx->interruptEvent = platform::kNullHandle;
  delete ctx;
}

// Undoes a first open whose interrupt service could not start: the
// interrupt is unbound again and the open is not counted.
void RefuseOpen(DeviceContext& ctx) {
  StopInterruptService(ctx);
  platform::InterlockedDecrement(ctx.openCount);
  platform::SetLastError(platform::kErrorNotEnoughMemory);
}

}  // namespace

DeviceContext* InitDevice(const char* activeKey) {
  // The record starts zero-filled, with the defaults its fields declare.
  DeviceContext* ctx = new (std::nothrow) DeviceContext{};
  if (ctx == nullptr) {
    platform::SetLastError(platform::kErrorNotEnoughMemory);
    return nullptr;
  }
  bool engineReady = false;
  try {
    bool configured = false;
    if (activeKey != nullptr) {
      if (!ReadStreamName(*ctx, activeKey)) {
        ReleaseDevice(ctx, false);
        return nullptr;
      }
      configured = ReadInitialConfiguration(*ctx, activeKey);
    }
    ctx->istPriority = kIstPriority;
    // `lock` is ready with the record; the counter engine builds on it.
    if (!CounterEngineInit(*ctx)) {
      ReleaseDevice(ctx, false);
      return nullptr;
    }
    engineReady = true;
    ctx->interruptEvent = platform::CreateEvent(false, false);
    if (ctx->interruptEvent == platform::kNullHandle || !configured) {
      ReleaseDevice(ctx, true);
      return nullptr;
    }
    RegisterDevice(*ctx);
    CreateNamedEvents(*ctx);
    return ctx;
  } catch (...) {  // out of memory part-way: nothing of the record survives
    ReleaseDevice(ctx, engineReady);
    throw;
  }
}

bool DeinitDevice(DeviceContext* ctx) {
  if (ctx == nullptr) return false;
  // A board that is still open has a thread running on this record.
  if (ctx->openCount.load() > 0 || ctx->istThread.load() != platform::kNullHandle) {
    StopInterruptService(*ctx);
  }
  ReleaseDevice(ctx, true);
  return true;
}

DeviceContext* OpenDevice(DeviceContext* ctx) {
  if (ctx == nullptr) {
    platform::SetLastError(platform::kErrorFileNotFound);
    return nullptr;
  }
  const std::int32_t opens = platform::InterlockedIncrement(ctx->openCount);
  const bool first = opens == 1;
  try {
    // Every open re-reads the settings in force; they are applied at the
    // first open only, so that the window and the interrupt line of a running
    // interrupt service never change under it.
    DeviceSettings settings = CurrentSettings(*ctx);
    ReadOpenConfiguration(*ctx, settings);
    if (first) {
      ApplySettings(*ctx, settings);
      SetPortConfiguration(*ctx, ctx->portConfig);
      ctx->sysIntr = platform::SysIntrFromIrq(ctx->irq);
      // An interrupt line that cannot be bound leaves the board without
      // events but usable. A service thread that cannot be had for want of
      // memory refuses the open: the caller is told, rather than handed a
      // board whose events never come.
      if (!StartInterruptService(*ctx) && platform::GetLastError() == platform::kErrorNotEnoughMemory) {
        RefuseOpen(*ctx);
        return nullptr;
      }
    }
    return ctx;
  } catch (...) {  // out of memory part-way (before any interrupt was bound): this open never happened
    platform::InterlockedDecrement(ctx->openCount);
    throw;
  }
}

bool CloseDevice(DeviceContext* ctx) {
  if (ctx == nullptr) {
    platform::SetLastError(platform::kErrorInvalidHandle);
    return false;
  }
  if (platform::InterlockedDecrement(ctx->openCount) != 0) return true;

  StopInterruptService(*ctx);
  ctx->eventEnableMask.store(0);
  for (auto& trigger : ctx->eventTriggerCount) trigger.store(0);
  ResetCounter(*ctx, 0);
  ResetCounter(*ctx, 1);
  return true;
}

}  // namespace qio::driver
