// The four measurement-thread slots of a board: starting threads, collecting
// the finished ones, and stopping them all for a counter reset.
//
// A thread is never killed. A stop raises `stopWorkers` and sets `stopEvent`
// (manual reset); every sleep of a measurement pass waits on that event, and
// every pass checks the flag before it touches the registers again, so a
// thread leaves within one register sequence of the request and never while
// it holds the device lock.
//
// Slots are filled and emptied under the device lock, and a launch is refused
// once a stop has begun or the measurement's claim has ended, so no thread is
// ever started into a slot that a stop has already passed. Threads are waited
// for only after the lock is left.
#include <array>

#include "CounterOps.h"
#include "qio/platform/clock.h"

namespace qio::driver {

namespace {

// The order in which a stop releases them.
std::array<WorkerSlot*, 4> SlotsInStopOrder(DeviceContext& ctx) {
  return {&ctx.longGate2sThread, &ctx.longGate1sThread, &ctx.lowFreqThread, &ctx.fixedGateThread};
}

void ReleaseThread(platform::Handle thread) {
  platform::WaitForSingleObject(thread, platform::kInfinite);
  platform::CloseHandle(thread);
}

}  // namespace

bool MeasurementSleep(DeviceContext& ctx, std::uint32_t milliseconds) {
  if (StopRequested(ctx)) return false;
  if (ctx.stopEvent == platform::kNullHandle) {
    platform::Sleep(milliseconds);
  } else {
    platform::WaitForSingleObject(ctx.stopEvent, milliseconds);
  }
  return !StopRequested(ctx);
}

bool WorkerRunning(const WorkerSlot& slot) {
  const platform::Handle thread = slot.thread.load();
  if (thread == platform::kNullHandle) return false;
  std::uint32_t exitCode = 0;
  return platform::GetExitCodeThread(thread, &exitCode) && exitCode == platform::kStillActive;
}

Claim SlotClaim(const WorkerSlot& slot) { return {slot.counter.load(), slot.epoch.load()}; }

bool LaunchWorkerLocked(DeviceContext& ctx, WorkerSlot& slot, platform::ThreadProc proc, const Claim& claim,
                        Handle& ended) {
  ended = platform::kNullHandle;
  if (!ClaimHoldsLocked(ctx, claim) || StopRequested(ctx) || WorkerRunning(slot)) return false;
  ended = slot.thread.exchange(platform::kNullHandle);
  slot.done.store(0);
  slot.counter.store(static_cast<std::uint16_t>(claim.counter));
  slot.epoch.store(claim.epoch);
  const platform::Handle thread = platform::CreateThread(proc, &ctx);
  if (thread == platform::kNullHandle) return false;
  slot.thread.store(thread);
  return true;
}

void CollectFinishedWorkersLocked(DeviceContext& ctx, EndedThreads& ended) {
  for (WorkerSlot* slot : {&ctx.longGate2sThread, &ctx.longGate1sThread, &ctx.lowFreqThread}) {
    if (slot->done.load() == 0 || !SlotOccupied(*slot)) continue;
    // The flag is the thread's last action: it ends at once.
    ended.Add(slot->thread.exchange(platform::kNullHandle));
    slot->done.store(0);
  }
  if (SlotOccupied(ctx.fixedGateThread) && !WorkerRunning(ctx.fixedGateThread)) {
    ended.Add(ctx.fixedGateThread.thread.exchange(platform::kNullHandle));
  }
}

void ReleaseThreads(const EndedThreads& ended) {
  for (unsigned i = 0; i < ended.count; ++i) ReleaseThread(ended.handles[i]);
}

bool AnyWorkerSlotOccupied(const DeviceContext& ctx) {
  return SlotOccupied(ctx.longGate1sThread) || SlotOccupied(ctx.longGate2sThread) ||
         SlotOccupied(ctx.lowFreqThread) || SlotOccupied(ctx.fixedGateThread);
}

void StopMeasurementWorkers(DeviceContext& ctx) {
  {
    // Nested or concurrent stops are counted; the last one re-arms the event.
    DeviceLock lock(ctx.lock);
    ctx.stopWorkers.fetch_add(1);
    if (ctx.stopEvent != platform::kNullHandle) platform::SetEvent(ctx.stopEvent);
  }
  // A leaving thread may still have started another one (a pass that moved
  // to a longer gate) before it saw the stop: repeat until every slot stays
  // empty.
  for (bool released = true; released;) {
    EndedThreads taken;
    {
      DeviceLock lock(ctx.lock);
      for (WorkerSlot* slot : SlotsInStopOrder(ctx)) {
        taken.Add(slot->thread.exchange(platform::kNullHandle));
        slot->done.store(0);
      }
    }
    ReleaseThreads(taken);
    released = taken.count != 0;
  }
  DeviceLock lock(ctx.lock);
  if (ctx.stopWorkers.fetch_sub(1) == 1 && ctx.stopEvent != platform::kNullHandle) {
    platform::ResetEvent(ctx.stopEvent);
  }
}

}  // namespace qio::driver
