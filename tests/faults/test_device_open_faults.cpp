// DeviceOpen with each allocation, event creation, thread creation and
// registry write failing in turn (the library's own steps and the driver's
// first open beneath it): every run ends in 0 or a documented error, a failed
// open leaves no handle, thread, table entry or registry change behind, and
// the board works whole afterwards. The library calls on an open device are
// swept the same way: an exception that ends one comes back as ErrorBase + 100.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <vector>
#include <set>
#include <utility>

#include "DeviceTable.h"
#include "fault_sweep.h"
#include "qio5162/Zqs5162.h"
#include "qio5162/target.h"

namespace qio::test {
namespace {

using platform::FaultKind;

constexpr std::uint32_t kBase0 = ZQS_ERROR_BASE(0);
constexpr std::uint32_t kUnspecified = kBase0 + ZQS_LOW_UNKNOWN;  // an exception ended the call

class DeviceOpenFaultTest : public ::testing::TestWithParam<FaultKind> {
 protected:
  void SetUp() override {
    ASSERT_EQ(qio_target_boot(nullptr, &target_), QIO_TARGET_OK) << qio_target_last_message();
    board_ = qio_target_board(target_, 0x300);
    ASSERT_NE(board_, nullptr);
  }
  void TearDown() override {
    platform::DisarmFaults();
    if (target_ != nullptr) {
      EXPECT_EQ(qio_target_shutdown(target_), QIO_TARGET_OK) << qio_target_last_message();
    }
  }

  // A DI event goes from the pin to CheckEvent: the driver's interrupt
  // service runs and the library's events are in place.
  void ExpectEventsWork(std::uint32_t handle) {
    ASSERT_EQ(qio_sim_set_di(board_, 0, 0x00), QIO_TARGET_OK);
    ASSERT_EQ(EnableEvent(handle, ZQS_EVENT_DI(2), 1, 1), ZQS_SUCCESS);
    ASSERT_EQ(qio_sim_set_di(board_, 0, 0x04), QIO_TARGET_OK);
    std::uint16_t type = 0;
    ASSERT_EQ(CheckEvent(handle, &type, 3000), ZQS_SUCCESS);
    EXPECT_EQ(type, ZQS_EVENT_DI(2));
    ASSERT_EQ(qio_sim_set_di(board_, 0, 0x00), QIO_TARGET_OK);
  }

  QioTarget* target_ = nullptr;
  QioSimBoard* board_ = nullptr;
};

TEST_P(DeviceOpenFaultTest, EveryFailureEndsInItsErrorAndLeavesNothingBehind) {
  const FaultKind kind = GetParam();
  const SystemState before = CaptureState();
  auto open = [] {
    std::uint32_t handle = 0xDEADBEEF;
    const std::uint32_t result = DeviceOpen(0, &handle);
    return std::pair(result, handle);
  };
  const std::uint64_t calls = CountFaultCalls(kind, [&] {
    auto [result, handle] = open();
    ASSERT_EQ(result, ZQS_SUCCESS);
    DeviceClose(&handle);
  });

  std::set<std::uint32_t> results;
  const std::uint64_t fired = SweepFaults(
      kind, open,
      [&](std::uint64_t n, std::pair<std::uint32_t, std::uint32_t> outcome, bool hit) {
        auto [result, handle] = outcome;
        if (hit) results.insert(result);
        // 0x001: resources; 0x01A: the driver could not open the stream; 100:
        // an exception ended the call.
        EXPECT_TRUE(result == ZQS_SUCCESS || result == kBase0 + ZQS_LOW_CREATE ||
                    result == kBase0 + ZQS_LOW_STREAM || result == kUnspecified)
            << "step " << n << ": 0x" << std::hex << result;
        if (result == ZQS_SUCCESS) {
          EXPECT_NE(handle, 0u);
          std::uint8_t value = 0;
          EXPECT_EQ(DioReadPortByte(handle, 0, &value), ZQS_SUCCESS) << "step " << n;
          EXPECT_EQ(DeviceClose(&handle), ZQS_SUCCESS);
        } else {
          EXPECT_EQ(handle, 0u) << "step " << n;
        }
        EXPECT_EQ(library::OpenDeviceCount(), 0u) << "step " << n;
        EXPECT_EQ(CaptureState(), before) << "step " << n;
      },
      StrideFor(calls, 400));

  std::printf("%s: %llu calls, %llu runs with a fault\n", platform::FaultKindName(kind),
              static_cast<unsigned long long>(calls), static_cast<unsigned long long>(fired));
  switch (kind) {
    case FaultKind::Allocation:
      EXPECT_GT(fired, 10u);
      EXPECT_TRUE(results.count(kUnspecified)) << "no exception reached the export's guard";
      break;
    case FaultKind::EventCreation:
      EXPECT_EQ(fired, 27u);  // the close event and the 26 named events
      EXPECT_EQ(results, (std::set<std::uint32_t>{kBase0 + ZQS_LOW_CREATE}));
      break;
    case FaultKind::ThreadCreation:
      EXPECT_EQ(fired, 1u);  // the interrupt service thread of the first open
      EXPECT_EQ(results, (std::set<std::uint32_t>{kBase0 + ZQS_LOW_STREAM}));
      break;
    case FaultKind::RegistryWrite:
      EXPECT_EQ(fired, 0u);  // opening a device only reads the registry
      break;
  }

  // Whatever failed before, the board opens whole now.
  std::uint32_t handle = 0;
  ASSERT_EQ(DeviceOpen(0, &handle), ZQS_SUCCESS);
  ExpectEventsWork(handle);
  EXPECT_EQ(DeviceClose(&handle), ZQS_SUCCESS);
  EXPECT_EQ(CaptureState(), before);
}

// A second open of a device already open takes the shared entry: no new
// resources, and a failure there changes nothing for the first user.
TEST_P(DeviceOpenFaultTest, ASecondOpenThatFailsLeavesTheFirstIntact) {
  const FaultKind kind = GetParam();
  std::uint32_t first = 0;
  ASSERT_EQ(DeviceOpen(0, &first), ZQS_SUCCESS);
  SweepFaults(
      kind,
      [] {
        std::uint32_t handle = 0xDEADBEEF;
        return std::pair(DeviceOpen(0, &handle), handle);
      },
      [&](std::uint64_t n, std::pair<std::uint32_t, std::uint32_t> outcome, bool) {
        auto [result, handle] = outcome;
        EXPECT_TRUE(result == ZQS_SUCCESS || result == kBase0 + ZQS_LOW_CREATE || result == kUnspecified)
            << "step " << n << ": 0x" << std::hex << result;
        if (result == ZQS_SUCCESS) {
          EXPECT_EQ(handle, first);
          EXPECT_EQ(DeviceClose(&handle), ZQS_SUCCESS);
        } else {
          EXPECT_EQ(handle, 0u);
        }
        EXPECT_EQ(library::OpenDeviceCount(), 1u);
      });
  ExpectEventsWork(first);
  EXPECT_EQ(DeviceClose(&first), ZQS_SUCCESS);
  EXPECT_EQ(library::OpenDeviceCount(), 0u);
}

// The last DeviceClose with each allocation or registry write failing in
// turn: it always succeeds and always takes everything down.
TEST_P(DeviceOpenFaultTest, TheLastCloseAlwaysTakesEverythingDown) {
  const FaultKind kind = GetParam();
  const SystemState before = CaptureState();
  for (std::uint64_t n = 1;; ++n) {
    std::uint32_t handle = 0;
    ASSERT_EQ(DeviceOpen(0, &handle), ZQS_SUCCESS);
    ASSERT_EQ(EnableEvent(handle, ZQS_EVENT_DI(4), 1, 1), ZQS_SUCCESS);
    platform::ArmFault(kind, n);
    const std::uint32_t result = DeviceClose(&handle);
    platform::DisarmFaults();
    EXPECT_EQ(result, ZQS_SUCCESS) << "step " << n;
    EXPECT_EQ(handle, 0u);
    EXPECT_EQ(library::OpenDeviceCount(), 0u) << "step " << n;
    EXPECT_EQ(CaptureState(), before) << "step " << n;
    if (platform::FaultsInjected(kind) == 0 || HasFailure()) break;
  }
  // The event enabled before was disabled by the close: a new open starts clean.
  std::uint32_t handle = 0;
  ASSERT_EQ(DeviceOpen(0, &handle), ZQS_SUCCESS);
  ASSERT_EQ(qio_sim_set_di(board_, 0, 0x10), QIO_TARGET_OK);
  std::uint16_t type = 0;
  ASSERT_EQ(CheckEvent(handle, &type, 50), ZQS_SUCCESS);
  EXPECT_EQ(type, ZQS_EVENT_TIMEOUT);
  EXPECT_EQ(DeviceClose(&handle), ZQS_SUCCESS);
}

// Each call on an open device with each of its allocations failing in turn:
// the call returns what it returns without the fault, or ErrorBase + 100 (an
// exception, caught at the export or in the driver), writes no output when it
// fails, and the device works on.
TEST_F(DeviceOpenFaultTest, ACallEndedByAnExceptionReturnsErrorBasePlus100) {
  std::uint32_t h = 0;
  ASSERT_EQ(DeviceOpen(0, &h), ZQS_SUCCESS);
  ASSERT_EQ(DioSetPortMode(h, 1, ZQS_DIR_OUTPUT), ZQS_SUCCESS);  // port A stays input for the events
  std::uint8_t byte = 0xEE;
  std::uint16_t word = 0xEEEE;
  std::uint32_t length = 0;
  std::uint8_t buffer[ZQS_FEATURES_SIZE];
  ZqsPortByteRefParams byteRef{1, &byte};
  struct Call {
    const char* name;
    std::function<std::uint32_t()> run;
    std::function<void()> clearOutput;
    std::function<bool()> outputUntouched;
  };
  const auto nothing = [] {};
  const auto untouched = [] { return true; };
  const std::vector<Call> calls = {
      {"DioReadPortByte", [&] { return DioReadPortByte(h, 1, &byte); }, [&] { byte = 0xEE; },
       [&] { return byte == 0xEE; }},
      {"DioWritePortByte", [&] { return DioWritePortByte(h, 1, 0x0F, 0x05); }, nothing, untouched},
      {"DioGetCurrentDOWord", [&] { return DioGetCurrentDOWord(h, 1, nullptr, &word); }, [&] { word = 0xEEEE; },
       [&] { return word == 0xEEEE; }},
      {"DeviceGetProperty",
       [&] {
         length = 12;
         return DeviceGetProperty(h, ZQS_PROPERTY_DIO_OUTPUT_MASKS, buffer, &length);
       },
       nothing, untouched},
      {"DeviceGetFeatures", [&] { return DeviceGetFeatures(h, buffer, sizeof buffer); }, nothing, untouched},
      {"EnableEvent", [&] { return EnableEvent(h, ZQS_EVENT_DI(6), 1, 1); }, nothing, untouched},
      {"CheckEvent", [&] { return CheckEvent(h, &word, 0); }, [&] { word = 0xEEEE; },
       [&] { return word == 0xEEEE; }},
      {"DioDisableEvent", [&] { return DioDisableEvent(h, ZQS_EVENT_DI(6)); }, nothing, untouched},
      {"CounterReset", [&] { return CounterReset(h, 1); }, nothing, untouched},
      {"ReadPortWord", [&] { return ReadPortWord(h, 0x300, &word); }, [&] { word = 0xEEEE; },
       [&] { return word == 0xEEEE; }},
      {"DriverProc", [&] { return DriverProc(0, 0, ZQS_FN_DIO_READ_PORT_BYTE, h, reinterpret_cast<uintptr_t>(&byteRef)); },
       [&] { byte = 0xEE; }, [&] { return byte == 0xEE; }},
  };
  std::uint64_t faults = 0;
  std::uint64_t exceptions = 0;
  for (const Call& call : calls) {
    const std::uint32_t expected = call.run();
    faults += SweepFaults(
        FaultKind::Allocation,
        [&] {
          call.clearOutput();
          return call.run();
        },
        [&](std::uint64_t n, std::uint32_t result, bool) {
          EXPECT_TRUE(result == expected || result == kUnspecified)
              << call.name << " step " << n << ": 0x" << std::hex << result;
          if (result == kUnspecified) ++exceptions;
          if (result != expected) {
            EXPECT_TRUE(call.outputUntouched()) << call.name << " step " << n;
          }
        });
  }
  std::printf("%llu faults injected in %zu calls, %llu ended by an exception\n",
              static_cast<unsigned long long>(faults), calls.size(), static_cast<unsigned long long>(exceptions));
  ExpectEventsWork(h);
  EXPECT_EQ(DeviceClose(&h), ZQS_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(EachKind, DeviceOpenFaultTest, ::testing::ValuesIn(kFaultKinds), FaultKindName);

}  // namespace
}  // namespace qio::test
