// Sweeps for the fault-injection tests: run an operation once for each N with
// the N-th call of one kind failing, until a run in which the fault no longer
// fires; and a snapshot of what a failed operation must leave as it was.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "qio/platform/device_manager.h"
#include "qio/platform/faults.h"
#include "qio/platform/kernel.h"
#include "qio/platform/registry.h"

namespace qio::test {

// The process-wide state a failed operation must not change.
struct SystemState {
  std::string registry;
  std::size_t handles = 0;
  std::size_t threads = 0;
  std::size_t activeDevices = 0;
  bool operator==(const SystemState&) const = default;
};

inline SystemState CaptureState() {
  return {platform::RegExportText(), platform::OpenHandleCount(), platform::LiveThreadCount(),
          platform::ListActiveDevices().size()};
}

inline std::ostream& operator<<(std::ostream& out, const SystemState& state) {
  return out << state.handles << " handles, " << state.threads << " threads, " << state.activeDevices
             << " devices, registry:\n"
             << state.registry;
}

// How many calls of `kind` one run of op() makes (nothing fails).
template <class Op>
std::uint64_t CountFaultCalls(platform::FaultKind kind, Op op) {
  platform::ArmFault(kind, ~std::uint64_t{0});
  op();
  platform::DisarmFaults();
  return platform::FaultCalls(kind);
}

// Runs op() with the N-th call of `kind` failing, for N = 1, 1 + stride, ...
// and hands its result to check(N, result, fired) after disarming. Stops after
// the first run in which the fault did not fire, or at the first failed
// check. Returns the number of runs in which it fired.
template <class Op, class Check>
std::uint64_t SweepFaults(platform::FaultKind kind, Op op, Check check, std::uint64_t stride = 1) {
  std::uint64_t fired = 0;
  for (std::uint64_t n = 1;; n += stride) {
    platform::ArmFault(kind, n);
    auto result = op();
    platform::DisarmFaults();
    const bool hit = platform::FaultsInjected(kind) != 0;
    check(n, result, hit);
    if (!hit) break;
    ++fired;
    if (::testing::Test::HasFailure()) {
      ADD_FAILURE() << "sweep of " << platform::FaultKindName(kind) << " faults stopped at step " << n;
      break;
    }
  }
  return fired;
}

// Every kind, and a test name for each, for parameterised tests.
inline constexpr platform::FaultKind kFaultKinds[] = {platform::FaultKind::Allocation, platform::FaultKind::EventCreation,
                                                      platform::FaultKind::ThreadCreation,
                                                      platform::FaultKind::RegistryWrite};

inline std::string FaultKindName(const ::testing::TestParamInfo<platform::FaultKind>& param) {
  switch (param.param) {
    case platform::FaultKind::Allocation: return "Allocation";
    case platform::FaultKind::EventCreation: return "EventCreation";
    case platform::FaultKind::ThreadCreation: return "ThreadCreation";
    case platform::FaultKind::RegistryWrite: return "RegistryWrite";
  }
  return "Unknown";
}

// A stride that keeps a sweep of `calls` steps to about `runs` runs.
inline std::uint64_t StrideFor(std::uint64_t calls, std::uint64_t runs) {
  return calls <= runs ? 1 : (calls + runs - 1) / runs;
}

}  // namespace qio::test
