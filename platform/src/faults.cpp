// Fault injection and the count of resource failures.
//
// Everything here is lock-free and allocation-free: ShouldFail runs inside
// the replacement operator new, on any thread, also while a thread starts or
// ends.
#include "qio/platform/faults.h"

#include <array>
#include <atomic>

namespace qio::platform {
namespace {

struct KindState {
  std::atomic<std::uint64_t> nth{0};  // 0: not armed
  std::atomic<std::uint64_t> calls{0};
  std::atomic<std::uint64_t> injected{0};
  std::atomic<std::uint64_t> owner{0};  // thread that armed it; 0 for any thread
  std::atomic<bool> persistent{false};
};

// Bit k set while kind k is armed: the one load a call site pays when off.
std::atomic<unsigned> armedKinds{0};
std::array<KindState, kFaultKinds> kinds;
std::atomic<std::uint64_t> resourceFailures{0};

// A number for the calling thread, given on first use (trivially initialised
// thread-local storage, so it is safe at any point of a thread's life).
std::atomic<std::uint64_t> nextThreadNumber{1};
thread_local std::uint64_t threadNumber = 0;

std::uint64_t ThisThread() noexcept {
  if (threadNumber == 0) threadNumber = nextThreadNumber.fetch_add(1, std::memory_order_relaxed);
  return threadNumber;
}

unsigned Bit(FaultKind kind) { return 1u << static_cast<unsigned>(kind); }

KindState& State(FaultKind kind) { return kinds[static_cast<std::size_t>(kind)]; }

}  // namespace

void ArmFault(FaultKind kind, std::uint64_t nth, FaultScope scope, bool persistent) {
  if (static_cast<std::size_t>(kind) >= kFaultKinds) return;
  KindState& state = State(kind);
  armedKinds.fetch_and(~Bit(kind));
  state.calls.store(0);
  state.injected.store(0);
  state.owner.store(scope == FaultScope::CallingThread ? ThisThread() : 0);
  state.persistent.store(persistent);
  state.nth.store(nth);
  if (nth != 0) armedKinds.fetch_or(Bit(kind));
}

void DisarmFaults() {
  armedKinds.store(0);
  for (KindState& state : kinds) state.nth.store(0);
}

std::uint64_t FaultCalls(FaultKind kind) {
  return static_cast<std::size_t>(kind) < kFaultKinds ? State(kind).calls.load() : 0;
}

std::uint64_t FaultsInjected(FaultKind kind) {
  return static_cast<std::size_t>(kind) < kFaultKinds ? State(kind).injected.load() : 0;
}

bool ShouldFail(FaultKind kind) noexcept {
  if ((armedKinds.load(std::memory_order_relaxed) & Bit(kind)) == 0) return false;
  KindState& state = State(kind);
  const std::uint64_t owner = state.owner.load();
  if (owner != 0 && owner != ThisThread()) return false;
  const std::uint64_t nth = state.nth.load();
  if (nth == 0) return false;
  const std::uint64_t call = state.calls.fetch_add(1) + 1;
  const bool fail = state.persistent.load() ? call >= nth : call == nth;
  if (!fail) return false;
  state.injected.fetch_add(1);
  NoteResourceFailure();
  return true;
}

std::uint64_t ResourceFailureCount() noexcept { return resourceFailures.load(); }

void NoteResourceFailure() noexcept { resourceFailures.fetch_add(1); }

const char* FaultKindName(FaultKind kind) noexcept {
  switch (kind) {
    case FaultKind::Allocation: return "allocation";
    case FaultKind::EventCreation: return "event creation";
    case FaultKind::ThreadCreation: return "thread creation";
    case FaultKind::RegistryWrite: return "registry write";
  }
  return "unknown";
}

}  // namespace qio::platform
