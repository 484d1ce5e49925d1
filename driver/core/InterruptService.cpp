// Interrupt service thread, event sources and DI event channels.
#include "InterruptService.h"

#include <mutex>
#include <new>

#include "../BoardRegisters.h"
#include "qio/platform/clock.h"
#include "qio/platform/interrupts.h"
#include "qio/protocol/ioctl.h"
#include "qio/protocol/records.h"

namespace qio::driver {

namespace {

using protocol::kDiChannels;
using protocol::kDioPorts;
using protocol::kEventSources;

constexpr std::uint32_t kStopWaitMs = 3000;
constexpr std::uint32_t kStopSettleMs = 10;
constexpr unsigned kChannelsPerPort = 8;
constexpr std::uint16_t kPwmOutput = 8;  // counterFunction of a counted PWM output

// Counts one interrupt of an enabled source; every trigger-count-th one sets
// its named event (a trigger count of 0 never signals).
void CountAndSignal(DeviceContext& ctx, unsigned source) {
  const std::uint32_t count = ctx.eventInterruptCount[source].fetch_add(1) + 1;
  if (count == ctx.eventTriggerCount[source].load()) {
    ctx.eventInterruptCount[source].store(0);
    if (ctx.eventHandles[source] != platform::kNullHandle) platform::SetEvent(ctx.eventHandles[source]);
  }
}

bool SourceEnabled(const DeviceContext& ctx, unsigned source) {
  return (ctx.eventEnableMask.load() & (1u << source)) != 0;
}

void WriteInterruptControl(DeviceContext& ctx) {
  WriteWord(ctx, reg::kInterruptControl, static_cast<std::uint16_t>(ctx.intControl.load()));
}

void ServiceDiChannels(DeviceContext& ctx, std::uint16_t status) {
  for (unsigned p = 0; p < kDioPorts; ++p) ctx.diLatched[p].store(ReadByte(ctx, reg::PortData(p)));

  // Only the flag registers of ports whose status bit is set are read.
  std::uint32_t flags = 0;
  for (unsigned p = kDioPorts; p-- > 0;) {
    if (status & reg::IntDiPort(p)) flags |= std::uint32_t{ReadByte(ctx, reg::DiFlags(p))} << (kChannelsPerPort * p);
  }

  const std::uint32_t enabled = ctx.eventEnableMask.load();
  for (unsigned channel = 0; channel < kDiChannels; ++channel) {
    const std::uint32_t bit = 1u << channel;
    if ((flags & bit) == 0 || (enabled & bit) == 0) continue;
    DiEventChannel& record = ctx.diEventPorts[channel];
    const unsigned start = record.startPort.load();
    const unsigned count = record.portCount.load();
    for (unsigned k = 0; k < count && k < kDioPorts; ++k) {
      record.snapshot[k].store(ctx.diLatched[(start + k) % kDioPorts].load());
    }
    CountAndSignal(ctx, channel);
  }
}

std::uint32_t InterruptServiceThread(void* argument) {
  DeviceContext& ctx = *static_cast<DeviceContext*>(argument);
  // Fixed for the thread's life: set before the thread was created.
  const std::uint32_t sysIntr = ctx.sysIntr;
  while (ctx.istStop.load() == 0) {
    const std::uint32_t wait = platform::WaitForSingleObject(ctx.interruptEvent, platform::kInfinite);
    if (ctx.istStop.load() != 0 || wait != platform::kWaitObject0) return 0;
    ServiceInterrupt(ctx);
    platform::InterruptDone(sysIntr);
  }
  return 0;
}

}  // namespace

std::uint16_t InterruptControlBit(unsigned source) {
  if (source == protocol::kSourceTerminalCount0) return reg::kIntTerminalCount0;
  if (source == protocol::kSourceTerminalCount1) return reg::kIntTerminalCount1;
  return reg::IntDiPort(source / kChannelsPerPort);
}

void CreateNamedEvents(DeviceContext& ctx) {
  bool complete = true;
  try {
    for (unsigned source = 0; source < kEventSources; ++source) {
      Handle& handle = ctx.eventHandles[source];
      if (handle == platform::kNullHandle) {
        handle = platform::CreateEvent(false, false, protocol::EventName(source, ctx.deviceNumber));
      }
      complete = complete && handle != platform::kNullHandle;
    }
  } catch (const std::bad_alloc&) {  // no memory for a name: as if the event could not be made
    complete = false;
  }
  if (!complete) CloseNamedEvents(ctx);
}

void CloseNamedEvents(DeviceContext& ctx) {
  for (Handle& handle : ctx.eventHandles) {
    if (handle != platform::kNullHandle) platform::CloseHandle(handle);
    handle = platform::kNullHandle;
  }
}

bool StartInterruptService(DeviceContext& ctx) {
  platform::ResetEvent(ctx.interruptEvent);
  if (!platform::InterruptInitialize(ctx.sysIntr, ctx.interruptEvent)) return false;
  ctx.interruptBound.store(true);
  platform::InterruptDone(ctx.sysIntr);
  ctx.istStop.store(0);
  const Handle thread = platform::CreateThread(InterruptServiceThread, &ctx);
  if (thread == platform::kNullHandle) return false;
  ctx.istThread.store(thread);
  platform::SetThreadPriority(thread, static_cast<int>(ctx.istPriority));
  return true;
}

void StopInterruptService(DeviceContext& ctx) {
  ctx.istStop.store(1);
  if (ctx.interruptBound.exchange(false)) {
    platform::InterruptDisable(ctx.sysIntr);
    platform::InterruptDone(ctx.sysIntr);
  }
  const Handle thread = ctx.istThread.exchange(platform::kNullHandle);
  if (thread == platform::kNullHandle) return;
  if (platform::WaitForSingleObject(thread, 0) != platform::kWaitObject0) {
    // Let the thread run at our priority so that it can see the stop request.
    platform::SetThreadPriority(thread, platform::GetThreadPriority(platform::GetCurrentThread()));
    platform::SetEvent(ctx.interruptEvent);
    platform::WaitForSingleObject(thread, kStopWaitMs);
    platform::Sleep(kStopSettleMs);
  }
  platform::CloseHandle(thread);
}

void ServiceInterrupt(DeviceContext& ctx) {
  const std::uint16_t status = ReadWord(ctx, reg::kInterruptControl);
  if ((status & reg::kIntAllMask) == 0) return;

  if (status & reg::kIntDiMask) ServiceDiChannels(ctx, status);

  if (status & reg::kIntTerminalCount0) {
    if (SourceEnabled(ctx, protocol::kSourceTerminalCount0)) CountAndSignal(ctx, protocol::kSourceTerminalCount0);
    // The terminal count of counter 0 ends a counted PWM output on the pair.
    if (ctx.counterFunction[0].load() == kPwmOutput && ctx.counterFunction[1].load() == kPwmOutput) {
      ctx.counterFunction[0].store(0);
      ctx.counterFunction[1].store(0);
      WriteInterruptControl(ctx);
    }
    ctx.terminalCountTally[0].fetch_add(1);
  }
  if (status & reg::kIntTerminalCount1) {
    if (SourceEnabled(ctx, protocol::kSourceTerminalCount1)) CountAndSignal(ctx, protocol::kSourceTerminalCount1);
    ctx.terminalCountTally[1].fetch_add(1);
  }

  WriteByte(ctx, reg::kInterruptClear, 0);
}

HandlerResult HandleEventEnable(DeviceContext& ctx, const Request& request) {
  const auto event = protocol::Load<protocol::EventEnableRequest>(request.in.data(), request.in.size());
  const unsigned source = event.source;
  // The caller must not read a stale error for a source that does not exist.
  if (source >= kEventSources) return Fail(ctx, protocol::kDriverCodeBadBuffer);

  ctx.eventInterruptCount[source].store(0);
  const std::uint32_t bit = 1u << source;
  const std::uint16_t control = InterruptControlBit(source);
  // The lock keeps the shadow and the register in step with the counter
  // engine's writes of the same register; the interrupt thread never takes it.
  std::scoped_lock guard(ctx.lock);
  if (event.enable != 0) {
    if ((ctx.eventEnableMask.load() & bit) == 0) {
      ctx.intControl.fetch_or(control);
      WriteInterruptControl(ctx);
    }
    // The trigger count goes first, so that the thread never counts against
    // a stale one.
    ctx.eventTriggerCount[source].store(event.triggerCount);
    ctx.eventEnableMask.fetch_or(bit);
    return 1;
  }
  if ((ctx.eventEnableMask.load() & bit) != 0) {
    ctx.eventEnableMask.fetch_and(~bit);
    // For a DI channel this is the whole port's bit.
    ctx.intControl.fetch_and(~std::uint32_t{control});
    ctx.eventTriggerCount[source].store(0);
    WriteInterruptControl(ctx);
  }
  return 1;
}

HandlerResult HandleSetEventDiPorts(DeviceContext& ctx, const Request& request) {
  const auto ports = protocol::Load<protocol::DiEventPortsRequest>(request.in.data(), request.in.size());
  if (ports.channel >= kDiChannels) return Fail(ctx, protocol::kDriverCodeBadChannel);
  const std::uint16_t start = static_cast<std::uint16_t>(ports.startPort);
  const std::uint16_t count = static_cast<std::uint16_t>(ports.portCount);
  if (start >= kDioPorts || count == 0 || count > kDioPorts) return Fail(ctx, protocol::kDriverCodeBadBuffer);
  DiEventChannel& record = ctx.diEventPorts[ports.channel];
  record.startPort.store(start);
  record.portCount.store(count);
  return 1;
}

HandlerResult HandleGetEventDiPorts(DeviceContext& ctx, const Request& request) {
  const auto channel = protocol::Load<std::uint32_t>(request.in.data(), request.in.size());
  if (channel >= kDiChannels) return Fail(ctx, protocol::kDriverCodeBadChannel);
  const DiEventChannel& record = ctx.diEventPorts[channel];
  std::size_t n = record.portCount.load();
  if (n > request.out.size()) n = request.out.size();
  if (n > record.snapshot.size()) n = record.snapshot.size();
  for (std::size_t k = 0; k < n; ++k) request.out[k] = record.snapshot[k].load();
  *request.bytesReturned = static_cast<std::uint32_t>(n);
  return 1;
}

}  // namespace qio::driver

