// Fault injection: makes the N-th call of one kind of platform service fail,
// so that a test can walk every failure path of an operation (a DeviceOpen, a
// driver's Init, a target boot) one step at a time and check that each ends
// in its documented error with nothing left half made.
//
// The kinds and where they are counted:
//   Allocation      every C++ allocation of a program that links
//                   qio::fault_new (a replacement of the global operator
//                   new); a failed one throws std::bad_alloc, or gives null
//                   for the nothrow forms
//   EventCreation   CreateEvent: fails with kErrorNotEnoughMemory
//   ThreadCreation  CreateThread: fails with kErrorNotEnoughMemory
//   RegistryWrite   RegCreateKey and RegSetValue (and the RegSet* helpers
//                   over it): fail with kErrorNotEnoughMemory
//
// Off unless armed; a call site then costs one relaxed atomic load. Arming,
// counting and firing are thread-safe. By default only the calls made on the
// thread that armed the kind are counted, so a sweep is repeatable while the
// target's own threads (interrupt service, measurement) run beside it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qio/platform/api.h"

namespace qio::platform {

enum class FaultKind : unsigned { Allocation, EventCreation, ThreadCreation, RegistryWrite };
inline constexpr std::size_t kFaultKinds = 4;

enum class FaultScope {
  CallingThread,  // count the calls of the thread that armed the kind
  AnyThread,      // count the calls of every thread
};

// Counting of `kind` starts afresh: its nth call (1 for the next one) fails.
// With persistent, that call and every later one fail (a resource that is
// gone for good); otherwise only that one. nth 0 disarms the kind.
QIO_PLATFORM_API void ArmFault(FaultKind kind, std::uint64_t nth, FaultScope scope = FaultScope::CallingThread,
                               bool persistent = false);
// Disarms every kind; the counts stay readable until the next ArmFault.
QIO_PLATFORM_API void DisarmFaults();

// The calls of `kind` counted since it was last armed, and how many of them
// were made to fail.
QIO_PLATFORM_API std::uint64_t FaultCalls(FaultKind kind);
QIO_PLATFORM_API std::uint64_t FaultsInjected(FaultKind kind);

// Asked by a call site of `kind`: counts the call and says whether it must
// fail. A failure is also noted as a resource failure (below).
QIO_PLATFORM_API bool ShouldFail(FaultKind kind) noexcept;

// Every time a platform service fails for want of a resource (memory, a
// handle slot, a thread, an injected fault of any kind) the platform counts
// it. Comparing the count before and after an operation tells whether the
// operation ran short of something, whoever absorbed the failure on the way.
QIO_PLATFORM_API std::uint64_t ResourceFailureCount() noexcept;
QIO_PLATFORM_API void NoteResourceFailure() noexcept;

// Names for messages: "allocation", "event creation", ...
QIO_PLATFORM_API const char* FaultKindName(FaultKind kind) noexcept;

}  // namespace qio::platform
