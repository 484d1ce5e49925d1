// The interrupt controller: binding, masking until acknowledged, the one
// pending request, disabling, and requests raised from inside port accesses.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "qio/platform/clock.h"
#include "qio/platform/errors.h"
#include "qio/platform/interrupts.h"
#include "qio/platform/kernel.h"
#include "qio/platform/port_io.h"

namespace qio::platform {
namespace {

constexpr unsigned kLine = 5;
constexpr std::uint32_t kSysIntr = SysIntrFromIrq(kLine);

class InterruptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InterruptResetAll();
    event = CreateEvent(false, false);
    ASSERT_NE(event, kNullHandle);
  }
  void TearDown() override {
    InterruptResetAll();
    CloseHandle(event);
  }

  static bool Signalled(Handle h) { return WaitForSingleObject(h, 0) == kWaitObject0; }

  Handle event = kNullHandle;
};

TEST_F(InterruptTest, BindRefusesBadIdentifiersAndEvents) {
  for (std::uint32_t bad : {0u, 15u, 32u, 0xFFFFFFFFu}) {
    SetLastError(kErrorSuccess);
    EXPECT_FALSE(InterruptInitialize(bad, event));
    EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  }
  const Handle closed = CreateEvent(false, false);
  ASSERT_TRUE(CloseHandle(closed));
  const Handle thread = CreateThread([](void*) -> std::uint32_t { return 0; }, nullptr);
  for (Handle bad : {kNullHandle, closed, thread, kCurrentThread}) {
    SetLastError(kErrorSuccess);
    EXPECT_FALSE(InterruptInitialize(kSysIntr, bad));
    EXPECT_EQ(GetLastError(), kErrorInvalidParameter);
  }
  EXPECT_TRUE(CloseHandle(thread));
  EXPECT_EQ(JoinAllThreads(5000), 0u);
  // None of the refusals left a binding behind.
  RaiseInterruptRequest(kLine);
  EXPECT_EQ(InterruptDeliveries(kLine), 0u);
}

TEST_F(InterruptTest, SecondBindIsRefusedAndTheFirstStays) {
  ASSERT_TRUE(InterruptInitialize(kSysIntr, event));
  const Handle other = CreateEvent(false, false);
  SetLastError(kErrorSuccess);
  EXPECT_FALSE(InterruptInitialize(kSysIntr, other));
  EXPECT_EQ(GetLastError(), kErrorBusy);
  EXPECT_FALSE(InterruptInitialize(kSysIntr, event));
  RaiseInterruptRequest(kLine);
  EXPECT_TRUE(Signalled(event));
  EXPECT_FALSE(Signalled(other));
  EXPECT_TRUE(CloseHandle(other));
}

TEST_F(InterruptTest, RequestSignalsAndMasksUntilDone) {
  ASSERT_TRUE(InterruptInitialize(kSysIntr, event));
  InterruptDone(kSysIntr);  // not masked: nothing to acknowledge
  EXPECT_EQ(InterruptAcknowledgements(kLine), 0u);
  RaiseInterruptRequest(kLine);
  EXPECT_EQ(InterruptDeliveries(kLine), 1u);
  EXPECT_TRUE(Signalled(event));
  InterruptDone(kSysIntr);  // nothing pending: unmask
  EXPECT_EQ(InterruptAcknowledgements(kLine), 1u);
  EXPECT_FALSE(Signalled(event));
  RaiseInterruptRequest(kLine);
  EXPECT_EQ(InterruptDeliveries(kLine), 2u);
  EXPECT_TRUE(Signalled(event));
}

TEST_F(InterruptTest, RequestsWhileMaskedAreDeliveredOnceAtDone) {
  ASSERT_TRUE(InterruptInitialize(kSysIntr, event));
  RaiseInterruptRequest(kLine);
  ASSERT_TRUE(Signalled(event));
  for (int i = 0; i < 3; ++i) RaiseInterruptRequest(kLine);
  EXPECT_FALSE(Signalled(event));  // masked: remembered, not delivered
  EXPECT_EQ(InterruptDeliveries(kLine), 1u);

  InterruptDone(kSysIntr);  // delivers the pending one, stays masked
  EXPECT_EQ(InterruptDeliveries(kLine), 2u);
  EXPECT_TRUE(Signalled(event));
  RaiseInterruptRequest(kLine);  // still masked: pending again
  EXPECT_FALSE(Signalled(event));
  InterruptDone(kSysIntr);
  EXPECT_TRUE(Signalled(event));
  InterruptDone(kSysIntr);  // nothing pending: unmask, no delivery
  EXPECT_FALSE(Signalled(event));
  EXPECT_EQ(InterruptDeliveries(kLine), 3u);
  InterruptDone(kSysIntr);  // an extra acknowledgement changes nothing
  EXPECT_EQ(InterruptDeliveries(kLine), 3u);
  RaiseInterruptRequest(kLine);
  EXPECT_TRUE(Signalled(event));
  EXPECT_EQ(InterruptDeliveries(kLine), 4u);
}

TEST_F(InterruptTest, RequestWithoutBindingIsDropped) {
  RaiseInterruptRequest(kLine);
  InterruptDone(kSysIntr);
  EXPECT_EQ(InterruptDeliveries(kLine), 0u);
  ASSERT_TRUE(InterruptInitialize(kSysIntr, event));
  EXPECT_FALSE(Signalled(event));  // nothing was kept from before the binding
  InterruptDone(kSysIntr);
  EXPECT_FALSE(Signalled(event));
  RaiseInterruptRequest(kLine + 1);  // another line
  EXPECT_FALSE(Signalled(event));
  RaiseInterruptRequest(kIrqLines);  // no such line
  RaiseInterruptRequest(~0u);
  EXPECT_EQ(InterruptDeliveries(kIrqLines), 0u);
}

TEST_F(InterruptTest, DisableThenRebindDeliversToTheNewEventOnly) {
  ASSERT_TRUE(InterruptInitialize(kSysIntr, event));
  RaiseInterruptRequest(kLine);
  RaiseInterruptRequest(kLine);  // pending
  ASSERT_TRUE(Signalled(event));
  InterruptDisable(kSysIntr);
  InterruptDone(kSysIntr);  // acknowledging a disabled interrupt does nothing
  RaiseInterruptRequest(kLine);
  EXPECT_FALSE(Signalled(event));
  EXPECT_EQ(InterruptDeliveries(kLine), 1u);

  const Handle other = CreateEvent(false, false);
  ASSERT_TRUE(InterruptInitialize(kSysIntr, other));
  EXPECT_FALSE(Signalled(other));  // the old pending request went with the binding
  RaiseInterruptRequest(kLine);
  EXPECT_TRUE(Signalled(other));
  EXPECT_FALSE(Signalled(event));
  EXPECT_EQ(InterruptDeliveries(kLine), 2u);
  EXPECT_TRUE(CloseHandle(other));
}

TEST_F(InterruptTest, ClosedEventMakesDeliveryHarmless) {
  const Handle doomed = CreateEvent(false, false);
  ASSERT_TRUE(InterruptInitialize(kSysIntr, doomed));
  ASSERT_TRUE(CloseHandle(doomed));
  const Handle reused = CreateEvent(false, false);  // may land in the freed slot
  SetLastError(kErrorSuccess);
  RaiseInterruptRequest(kLine);
  InterruptDone(kSysIntr);
  EXPECT_EQ(GetLastError(), kErrorSuccess);  // a device's last error is not touched
  EXPECT_EQ(InterruptDeliveries(kLine), 0u);
  EXPECT_FALSE(Signalled(reused));
  EXPECT_TRUE(CloseHandle(reused));
}

TEST_F(InterruptTest, ResetAllReleasesEveryBinding) {
  ASSERT_TRUE(InterruptInitialize(SysIntrFromIrq(3), event));
  ASSERT_TRUE(InterruptInitialize(SysIntrFromIrq(15), event));
  InterruptResetAll();
  RaiseInterruptRequest(3);
  RaiseInterruptRequest(15);
  EXPECT_FALSE(Signalled(event));
  EXPECT_TRUE(InterruptInitialize(SysIntrFromIrq(3), event));
}

// A service thread that counts what it is woken for and acknowledges each.
struct ServiceThread {
  Handle event = kNullHandle;
  std::atomic<bool> stop{false};
  std::atomic<std::uint64_t> serviced{0};
};

std::uint32_t ServiceProc(void* arg) {
  auto* s = static_cast<ServiceThread*>(arg);
  while (!s->stop.load()) {
    if (WaitForSingleObject(s->event, 20) == kWaitObject0) {
      ++s->serviced;
      InterruptDone(kSysIntr);
    }
  }
  return 0;
}

TEST_F(InterruptTest, ConcurrentRequestsAreNeitherLostNorDoubled) {
  ASSERT_TRUE(InterruptInitialize(kSysIntr, event));
  ServiceThread service;
  service.event = event;
  const Handle thread = CreateThread(ServiceProc, &service);
  for (int i = 0; i < 2000; ++i) {
    RaiseInterruptRequest(kLine);
    if (i % 64 == 0) Sleep(0);
  }
  // The last request is delivered, at once or at the next acknowledgement.
  const std::uint64_t deadline = NowNs() + 2'000'000'000;
  while (service.serviced.load() != InterruptDeliveries(kLine) && NowNs() < deadline) Sleep(1);
  Sleep(30);
  service.stop = true;
  ASSERT_EQ(WaitForSingleObject(thread, 5000), kWaitObject0);
  EXPECT_TRUE(CloseHandle(thread));
  EXPECT_GE(service.serviced.load(), 1u);
  EXPECT_LE(service.serviced.load(), 2000u);
  EXPECT_EQ(service.serviced.load(), InterruptDeliveries(kLine));
  EXPECT_FALSE(Signalled(event));
}

// A device that raises its interrupt from inside a port write, as a board
// does when a driver write enables a pending condition.
class RaisingDevice final : public PortDevice {
 public:
  std::uint32_t PortRead(std::uint16_t, unsigned) override { return reads_++; }
  void PortWrite(std::uint16_t, unsigned, std::uint32_t) override { RaiseInterruptRequest(kLine); }

 private:
  std::atomic<std::uint32_t> reads_{0};
};

TEST_F(InterruptTest, RequestRaisedInsideAPortWriteReachesTheServiceThread) {
  RaisingDevice device;
  ASSERT_TRUE(MapPorts(0x300, 0x40, &device));
  ASSERT_TRUE(InterruptInitialize(kSysIntr, event));
  ServiceThread service;
  service.event = event;
  const Handle thread = CreateThread(ServiceProc, &service);
  for (int i = 0; i < 200; ++i) {
    PortOutWord(0x322, 0x1F);
    PortInWord(0x322);
  }
  const std::uint64_t deadline = NowNs() + 2'000'000'000;
  while (service.serviced.load() == 0 && NowNs() < deadline) Sleep(1);
  service.stop = true;
  ASSERT_EQ(WaitForSingleObject(thread, 5000), kWaitObject0);
  EXPECT_TRUE(CloseHandle(thread));
  EXPECT_GE(service.serviced.load(), 1u);
  EXPECT_TRUE(UnmapPorts(0x300));
}

}  // namespace
}  // namespace qio::platform
