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
  ReleaseDeviceNumber(ctx);
  CloseNamedEvents(*ctx);
  if (counterEngineReady) CounterEngineRelease(*ctx);
  for (Handle* handle : {&ctx->interruptEvent, &ctx->openSettled}) {
    if (*handle != platform::kNullHandle) platform::CloseHandle(*handle);
    *handle = platform::kNullHandle;
  }
  delete ctx;
}

using Guard = std::scoped_lock<platform::CriticalSection>;

// Waits until no first open or last close is under way (outside the lock).
void WaitUntilSettled(DeviceContext& ctx) { platform::WaitForSingleObject(ctx.openSettled, platform::kInfinite); }

// Ends a first open or last close: the state it leads to, and everybody who
// waited may go on.
void Settle(DeviceContext& ctx, OpenState state) {
  Guard guard(ctx.lock);
  ctx.openState.store(state);
  platform::SetEvent(ctx.openSettled);
}

// False when the open must be refused. An interrupt line that cannot be
// bound leaves the board without events but usable; a service thread that
// cannot be had for want of memory refuses the open: the caller is told,
// rather than handed a board whose events never come.
bool FirstOpenWork(DeviceContext& ctx, const DeviceSettings& settings) {
  ApplySettings(ctx, settings);
  SetPortConfiguration(ctx, ctx.portConfig);
  ctx.sysIntr = platform::SysIntrFromIrq(ctx.irq);
  return StartInterruptService(ctx) || platform::GetLastError() != platform::kErrorNotEnoughMemory;
}

// Undoes a first open that could not be completed: the interrupt is unbound
// again, the open is not counted, and whoever waited goes on with a closed
// board.
void RefuseFirstOpen(DeviceContext& ctx) {
  StopInterruptService(ctx);
  {
    Guard guard(ctx.lock);
    platform::InterlockedDecrement(ctx.openCount);
  }
  Settle(ctx, OpenState::kClosed);
}

void LastCloseWork(DeviceContext& ctx) {
  StopInterruptService(ctx);
  ctx.eventEnableMask.store(0);
  for (auto& trigger : ctx.eventTriggerCount) trigger.store(0);
  ResetCounter(ctx, 0);
  ResetCounter(ctx, 1);
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
    ctx->openSettled = platform::CreateEvent(true, true);
    if (ctx->interruptEvent == platform::kNullHandle || ctx->openSettled == platform::kNullHandle || !configured) {
      ReleaseDevice(ctx, true);
      return nullptr;
    }
    {
      auto registration = LockRegistration();
      RegisterDevice(*ctx);
      HoldDeviceNumber(ctx);
    }
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
  bool first = false;
  for (;;) {
    {
      Guard guard(ctx->lock);
      const OpenState state = ctx->openState.load();
      if (state == OpenState::kOpen || state == OpenState::kClosed) {
        // The settle event is reset before anything changes, so that a
        // failure there leaves the cycle as it was.
        if (ctx->openCount.load() == 0) platform::ResetEvent(ctx->openSettled);
        first = platform::InterlockedIncrement(ctx->openCount) == 1;
        if (first) ctx->openState.store(OpenState::kOpening);
        break;
      }
    }
    WaitUntilSettled(*ctx);
  }

  try {
    // Every open re-reads the settings in force; they are applied at the
    // first open only, so that the window and the interrupt line of a running
    // interrupt service never change under it.
    DeviceSettings settings = CurrentSettings(*ctx);
    ReadOpenConfiguration(*ctx, settings);
    if (first) {
      if (!FirstOpenWork(*ctx, settings)) {
        RefuseFirstOpen(*ctx);
        platform::SetLastError(platform::kErrorNotEnoughMemory);
        return nullptr;
      }
      Settle(*ctx, OpenState::kOpen);
    }
    return ctx;
  } catch (...) {  // out of memory part-way: this open never happened
    if (first) {
      RefuseFirstOpen(*ctx);
    } else {
      CloseDevice(ctx);
    }
    throw;
  }
}

bool CloseDevice(DeviceContext* ctx) {
  if (ctx == nullptr) {
    platform::SetLastError(platform::kErrorInvalidHandle);
    return false;
  }
  for (;;) {
    {
      Guard guard(ctx->lock);
      const OpenState state = ctx->openState.load();
      // A close without an open has nothing to undo.
      if (state == OpenState::kClosed) return true;
      if (state == OpenState::kOpen) {
        if (ctx->openCount.load() == 1) platform::ResetEvent(ctx->openSettled);
        if (platform::InterlockedDecrement(ctx->openCount) != 0) return true;
        ctx->openState.store(OpenState::kClosing);
        break;
      }
    }
    WaitUntilSettled(*ctx);
  }
  // The board is closed whatever the last close's work ran into: a board
  // left "closing" would hold every later open forever.
  try {
    LastCloseWork(*ctx);
  } catch (...) {
    Settle(*ctx, OpenState::kClosed);
    throw;
  }
  Settle(*ctx, OpenState::kClosed);
  return true;
}

}  // namespace qio::driver
