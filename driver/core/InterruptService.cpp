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

// Counter 1 runs the second half of a counted PWM with counter 0 as its
// prescaler: the one case that counter 0's terminal count ends.
bool CountedPwmRuns(const DeviceContext& ctx) {
  return ctx.counterFunction[0].load() == CounterFunction::kPwm &&
         ctx.counterFunction[1].load() == CounterFunction::kPwm && ctx.pwmConfigured[1].load() != 0 &&
         ctx.pwmStandalone[1].load() == 0;
}

// The end of a counted run: both counters are free again and counter 0's
// terminal-count interrupt, which only the run needed, goes. The lock is held
// only for this bookkeeping (nothing sleeps under it), so that an enable or a
// reset of the pair is never half seen.
void EndCountedPwm(DeviceContext& ctx) {
  std::scoped_lock guard(ctx.lock);
  if (!CountedPwmRuns(ctx)) return;
  ctx.counterFunction[0].store(CounterFunction::kIdle);
  ctx.counterFunction[1].store(CounterFunction::kIdle);
  ctx.counterIntEnable.fetch_and(~std::uint32_t{interrupt::TerminalCount(0)});
  WriteInterruptEnableLocked(ctx);
}

// Latches the DI ports and reads the flags of the ports whose status bit is
// set (the only flag registers read); returns the 24-bit flag word.
std::uint32_t ReadDiFlags(DeviceContext& ctx, std::uint16_t status) {
  for (unsigned p = 0; p < kDioPorts; ++p) ctx.diLatched[p].store(ReadByte(ctx, offset::PortData(p)));
  std::uint32_t flags = 0;
  for (unsigned p = kDioPorts; p-- > 0;) {
    if (status & interrupt::DiPort(p)) flags |= std::uint32_t{ReadByte(ctx, offset::DiFlags(p))} << (kChannelsPerPort * p);
  }
  return flags;
}

void ServiceDiChannels(DeviceContext& ctx, std::uint32_t flags) {
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
  if (source == protocol::kSourceTerminalCount0) return interrupt::TerminalCount(0);
  if (source == protocol::kSourceTerminalCount1) return interrupt::TerminalCount(1);
  return interrupt::DiPort(source / kChannelsPerPort);
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
  // Another board may hold the line (two boards configured on one IRQ).
  if (!platform::InterruptInitialize(ctx.sysIntr, ctx.interruptEvent)) return false;
  ctx.interruptBound.store(true);
  // Conditions that came while nobody serviced the board (after the last
  // close) left their status bits set, and a bit that stays set raises no
  // further interrupt: clear them now that new ones are delivered.
  {
    std::scoped_lock guard(ctx.lock);
    WriteByte(ctx, offset::kInterruptClear, 0);
  }
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
  // Only the binding this board made is released: a board whose start could
  // not bind the line leaves the other board's interrupt working.
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
  // An event-count read that overlaps this window tries again: a terminal
  // count is then either still pending in the status or already tallied.
  ctx.tallyService.fetch_add(1);
  const std::uint16_t status = ReadWord(ctx, offset::kInterruptControl);
  if ((status & interrupt::kAll) == 0) {
    ctx.tallyService.fetch_add(1);
    return;
  }
  const std::uint32_t flags = (status & interrupt::kDiPorts) ? ReadDiFlags(ctx, status) : 0;
  // The clear takes every status bit and flag, also those that came after the
  // status was read: clear as soon as what was read is safe, not after the
  // counting and signalling, so that the window in which a condition (a
  // terminal count that extends an event count) can be lost stays short.
  WriteByte(ctx, offset::kInterruptClear, 0);
  // Tallied before anything is signalled: a waiter woken by a terminal count
  // reads a total that includes it.
  for (unsigned n = 0; n < kCounters; ++n) {
    if (status & interrupt::TerminalCount(n)) ctx.terminalCountTally[n].fetch_add(1);
  }
  ctx.tallyService.fetch_add(1);

  if (status & interrupt::kDiPorts) ServiceDiChannels(ctx, flags);

  if (status & interrupt::TerminalCount(0)) {
    // The prescaler's terminal count ends a counted PWM output on the pair,
    // before the event is signalled: a waiter that wakes on it finds both
    // counters free.
    if (CountedPwmRuns(ctx)) EndCountedPwm(ctx);
    if (SourceEnabled(ctx, protocol::kSourceTerminalCount0)) CountAndSignal(ctx, protocol::kSourceTerminalCount0);
  }
  if (status & interrupt::TerminalCount(1)) {
    if (SourceEnabled(ctx, protocol::kSourceTerminalCount1)) CountAndSignal(ctx, protocol::kSourceTerminalCount1);
  }
}

HandlerResult HandleEventEnable(DeviceContext& ctx, const Request& request) {
  const auto event = protocol::Load<protocol::EventEnableRequest>(request.in.data(), request.in.size());
  const unsigned source = event.source;
  // The caller must not read a stale error for a source that does not exist.
  if (source >= kEventSources) return Fail(ctx, protocol::kDriverCodeBadBuffer);

  ctx.eventInterruptCount[source].store(0);
  const std::uint32_t bit = 1u << source;
  const std::uint16_t control = InterruptControlBit(source);
  // The register is composed with the counter engine's bits under the lock.
  std::scoped_lock guard(ctx.lock);
  if (event.enable != 0) {
    if ((ctx.eventEnableMask.load() & bit) == 0) {
      // A signal that nobody took before the source was disabled (or before
      // the last close) belongs to the past: it must not come back as an
      // edge of this enable. The thread signals nothing for the source until
      // its bit is set below.
      if (ctx.eventHandles[source] != platform::kNullHandle) platform::ResetEvent(ctx.eventHandles[source]);
      ctx.intControl.fetch_or(control);
      WriteInterruptEnableLocked(ctx);
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
    WriteInterruptEnableLocked(ctx);
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

