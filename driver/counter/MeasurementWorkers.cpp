// The four measurement-thread slots of a board: starting threads, collecting
// the finished ones, and stopping them all for a counter reset.
//
// A thread is never killed. A stop raises `stopWorkers` and sets `stopEvent`
// (manual reset); every sleep of a measurement pass waits on that event, and
// every pass checks the flag before it touches the registers again, so a
// thread leaves within one register sequence of the request and never while
// it holds the device lock.
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

bool LaunchWorker(DeviceContext& ctx, WorkerSlot& slot, platform::ThreadProc proc) {
  // Requests on several threads may launch the same slot's worker at once:
  // one launch claims the slot, the others find it taken and leave it (else
  // two workers would run and one thread handle would be lost).
  bool idle = false;
  if (!slot.launching.compare_exchange_strong(idle, true)) return false;
  bool launched = false;
  if (!StopRequested(ctx) && !WorkerRunning(slot)) {
    const platform::Handle ended = slot.thread.exchange(platform::kNullHandle);
    if (ended != platform::kNullHandle) ReleaseThread(ended);
    slot.done.store(0);
    const platform::Handle thread = platform::CreateThread(proc, &ctx);
    if (thread != platform::kNullHandle) {
      slot.thread.store(thread);
      launched = true;
    }
  }
  slot.launching.store(false);
  return launched;
}

void CollectFinishedWorkers(DeviceContext& ctx) {
  for (WorkerSlot* slot : {&ctx.longGate2sThread, &ctx.longGate1sThread, &ctx.lowFreqThread}) {
    if (slot->done.load() == 0 || !SlotOccupied(*slot)) continue;
    const platform::Handle thread = slot->thread.exchange(platform::kNullHandle);
    slot->done.store(0);
    // The flag is the thread's last action: it ends at once.
    if (thread != platform::kNullHandle) ReleaseThread(thread);
  }
  if (SlotOccupied(ctx.fixedGateThread) && !WorkerRunning(ctx.fixedGateThread)) {
    const platform::Handle thread = ctx.fixedGateThread.thread.exchange(platform::kNullHandle);
    if (thread != platform::kNullHandle) ReleaseThread(thread);
  }
}

bool AnyWorkerSlotOccupied(const DeviceContext& ctx) {
  return SlotOccupied(ctx.longGate1sThread) || SlotOccupied(ctx.longGate2sThread) ||
         SlotOccupied(ctx.lowFreqThread) || SlotOccupied(ctx.fixedGateThread);
}

void StopMeasurementWorkers(DeviceContext& ctx) {
  // Nested or concurrent stops are counted; the last one re-arms the event.
  ctx.stopWorkers.fetch_add(1);
  if (ctx.stopEvent != platform::kNullHandle) platform::SetEvent(ctx.stopEvent);
  // A leaving thread may still have started another one (a pass that moved
  // to a longer gate): repeat until every slot stays empty.
  for (bool released = true; released;) {
    released = false;
    for (WorkerSlot* slot : SlotsInStopOrder(ctx)) {
      const platform::Handle thread = slot->thread.exchange(platform::kNullHandle);
      slot->done.store(0);
      if (thread == platform::kNullHandle) continue;
      ReleaseThread(thread);
      released = true;
    }
  }
  if (ctx.stopWorkers.fetch_sub(1) == 1 && ctx.stopEvent != platform::kNullHandle) {
    platform::ResetEvent(ctx.stopEvent);
    // A stop that began meanwhile must still find the event set.
    if (StopRequested(ctx)) platform::SetEvent(ctx.stopEvent);
  }
}

}  // namespace qio::driver
