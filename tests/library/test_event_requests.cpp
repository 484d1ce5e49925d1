// Event calls: the enable record, the type checks, the latched-port calls,
// and CheckEvent over the device's 27 event slots (signalled here by name,
// as the driver signals them).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "DeviceTable.h"
#include "RecorderFixture.h"
#include "qio/platform/kernel.h"
#include "qio/protocol/events.h"
#include "qio/protocol/ioctl.h"

namespace qio::library::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kEventType = kRecorderBase + ZQS_LOW_EVENT_TYPE;
constexpr std::uint32_t kArgument = kRecorderBase + ZQS_LOW_ARGUMENT;

class EventRequestTest : public RecorderTest {
 protected:
  // Signals the named event of a driver source of device 3.
  static void Signal(unsigned source) {
    const platform::Handle event = platform::OpenEvent(protocol::EventName(source, kRecorderDevice));
    ASSERT_NE(event, platform::kNullHandle);
    platform::SetEvent(event);
    platform::CloseHandle(event);
  }
};

TEST_F(EventRequestTest, EnableRecordCarriesSourceCountAndProcess) {
  ASSERT_EQ(EnableEvent(handle_, 0x5001, 1, 10), ZQS_SUCCESS);
  const RecRequest r = OnlyRequest();
  EXPECT_EQ(r.code, protocol::IOCTL_EVENT_ENABLE);
  ASSERT_EQ(r.inLength, 16u);
  const std::uint32_t pid = platform::GetCurrentProcessId();
  const Bytes expected{1, 0, 25, 0, 10, 0, 0, 0,
                       static_cast<std::uint8_t>(pid), static_cast<std::uint8_t>(pid >> 8),
                       static_cast<std::uint8_t>(pid >> 16), static_cast<std::uint8_t>(pid >> 24), 0, 0, 0, 0};
  EXPECT_EQ(InputOf(r), expected);
  EXPECT_EQ(r.outLength, 0u);
}

TEST_F(EventRequestTest, EnableChecksTypeThenCount) {
  EXPECT_EQ(EnableEvent(handle_, 0x3418, 1, 1), kEventType);
  EXPECT_EQ(EnableEvent(handle_, 0x5002, 1, 1), kEventType);
  EXPECT_EQ(EnableEvent(handle_, 0x3400, 1, 0), kArgument);
  EXPECT_EQ(EnableEvent(handle_, 0xFFFE, 1, 0), ZQS_SUCCESS);  // the close event: nothing to switch
  EXPECT_EQ(rec_count(), 0u);
  EXPECT_EQ(EnableEvent(handle_, 0x3400, 0, 0), ZQS_SUCCESS);  // disabling needs no count
  EXPECT_EQ(OnlyRequest().in[2], 0);
}

TEST_F(EventRequestTest, CheckEventTimesOutWith0xFFFF) {
  std::uint16_t type = 0;
  EXPECT_EQ(CheckEvent(handle_, &type, 0), ZQS_SUCCESS);
  EXPECT_EQ(type, ZQS_EVENT_TIMEOUT);
  type = 0;
  EXPECT_EQ(CheckEvent(handle_, &type, 20), ZQS_SUCCESS);
  EXPECT_EQ(type, ZQS_EVENT_TIMEOUT);
  EXPECT_EQ(CheckEvent(handle_, nullptr, 0), kArgument);
  EXPECT_EQ(rec_count(), 0u);
}

TEST_F(EventRequestTest, CheckEventReportsTheEnabledTypeOnceAndZeroWhenDisabled) {
  ASSERT_EQ(EnableEvent(handle_, 0x3407, 1, 1), ZQS_SUCCESS);
  Signal(7);
  std::uint16_t type = 0;
  ASSERT_EQ(CheckEvent(handle_, &type, 1000), ZQS_SUCCESS);
  EXPECT_EQ(type, 0x3407);
  ASSERT_EQ(CheckEvent(handle_, &type, 0), ZQS_SUCCESS);
  EXPECT_EQ(type, ZQS_EVENT_TIMEOUT);  // the signal was taken

  ASSERT_EQ(EnableEvent(handle_, 0x3407, 0, 0), ZQS_SUCCESS);
  Signal(7);
  ASSERT_EQ(CheckEvent(handle_, &type, 1000), ZQS_SUCCESS);
  EXPECT_EQ(type, ZQS_EVENT_NONE);
}

TEST_F(EventRequestTest, LowestSignalledSlotComesFirst) {
  ASSERT_EQ(EnableEvent(handle_, 0x5000, 1, 1), ZQS_SUCCESS);
  ASSERT_EQ(EnableEvent(handle_, 0x3402, 1, 1), ZQS_SUCCESS);
  Signal(24);
  Signal(2);
  std::uint16_t first = 0, second = 0;
  ASSERT_EQ(CheckEvent(handle_, &first, 1000), ZQS_SUCCESS);
  ASSERT_EQ(CheckEvent(handle_, &second, 1000), ZQS_SUCCESS);
  EXPECT_EQ(first, 0x3402);
  EXPECT_EQ(second, 0x5000);
}

TEST_F(EventRequestTest, RefusedEnableLeavesTheSlotDisabled) {
  rec_fail(protocol::IOCTL_EVENT_ENABLE, 0x20000068);
  EXPECT_EQ(EnableEvent(handle_, 0x3401, 1, 1), kRecorderBase + 0x68u);
  Signal(1);
  std::uint16_t type = 0xAAAA;
  ASSERT_EQ(CheckEvent(handle_, &type, 1000), ZQS_SUCCESS);
  EXPECT_EQ(type, ZQS_EVENT_NONE);
}

TEST_F(EventRequestTest, EnableWithDiPortsSendsTheSelectionThenTheEnable) {
  ASSERT_EQ(DioEnableEventAndSpecifyDiPorts(handle_, 0x3405, 1, 2), ZQS_SUCCESS);
  const std::vector<RecRequest> sent = Requests();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].code, protocol::IOCTL_DIO_SET_EVENT_DI_PORTS);
  EXPECT_EQ(InputOf(sent[0]), (Bytes{5, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0}));
  EXPECT_EQ(sent[1].code, protocol::IOCTL_EVENT_ENABLE);
  EXPECT_EQ((Bytes{sent[1].in, sent[1].in + 6}), (Bytes{1, 0, 5, 0, 1, 0}));
}

TEST_F(EventRequestTest, EnableWithDiPortsChecksPortsBeforeType) {
  EXPECT_EQ(DioEnableEventAndSpecifyDiPorts(handle_, 0x3405, 2, 2), kArgument);
  EXPECT_EQ(DioEnableEventAndSpecifyDiPorts(handle_, 0x3405, 3, 0), kArgument);
  EXPECT_EQ(DioEnableEventAndSpecifyDiPorts(handle_, 0x9999, 0, 4), kArgument);
  EXPECT_EQ(DioEnableEventAndSpecifyDiPorts(handle_, 0xFFFE, 0, 1), kEventType);
  EXPECT_EQ(DioEnableEventAndSpecifyDiPorts(handle_, 0x13405, 0, 1), kEventType);  // full 32 bits compared
  EXPECT_EQ(DioDisableEvent(handle_, 0xFFFE), kEventType);
  EXPECT_EQ(DioDisableEvent(handle_, 0x13405), kEventType);
  EXPECT_EQ(rec_count(), 0u);
}

TEST_F(EventRequestTest, CounterEventsGoOnAfterTheRefusedPortSelection) {
  rec_fail(protocol::IOCTL_DIO_SET_EVENT_DI_PORTS, 0x20000068);
  ASSERT_EQ(DioEnableEventAndSpecifyDiPorts(handle_, 0x5001, 0, 1), ZQS_SUCCESS);
  const std::vector<RecRequest> sent = Requests();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].in[0], 25);
  EXPECT_EQ(sent[1].code, protocol::IOCTL_EVENT_ENABLE);
  EXPECT_EQ(sent[1].in[2], 25);
}

TEST_F(EventRequestTest, DisableSendsEnableZero) {
  ASSERT_EQ(DioDisableEvent(handle_, 0x3417), ZQS_SUCCESS);
  const RecRequest r = OnlyRequest();
  EXPECT_EQ((Bytes{r.in, r.in + 6}), (Bytes{0, 0, 23, 0, 0, 0}));
}

TEST_F(EventRequestTest, LatestPortsChecksBufferAndTypeAndReturnsTheDriversResult) {
  std::uint8_t buffer[3] = {};
  EXPECT_EQ(DioGetLatestEventDiPortsState(handle_, 0x3405, nullptr, 3), kArgument);
  EXPECT_EQ(DioGetLatestEventDiPortsState(handle_, 0x3405, buffer, 0), kArgument);
  EXPECT_EQ(DioGetLatestEventDiPortsState(handle_, 0x3418, buffer, 3), kEventType);
  EXPECT_EQ(DioGetLatestEventDiPortsState(handle_, 0xFFFE, buffer, 3), kEventType);
  EXPECT_EQ(rec_count(), 0u);
  rec_set_response(protocol::IOCTL_DIO_GET_EVENT_DI_PORTS, "\x12\x34", 2);
  ASSERT_EQ(DioGetLatestEventDiPortsState(handle_, 0x3405, buffer, 3), ZQS_SUCCESS);
  const RecRequest r = OnlyRequest();
  EXPECT_EQ(InputOf(r), (Bytes{5, 0, 0, 0}));
  EXPECT_EQ(r.outLength, 3u);
  EXPECT_EQ(buffer[0], 0x12);
  EXPECT_EQ(buffer[1], 0x34);
  rec_fail(protocol::IOCTL_DIO_GET_EVENT_DI_PORTS, 0x20000068);
  EXPECT_EQ(DioGetLatestEventDiPortsState(handle_, 0x5000, buffer, 3), kRecorderBase + 0x68u);
}

TEST_F(EventRequestTest, LastCloseWakesEveryWaiterWithDeviceClosed) {
  std::uint32_t second = 0;
  ASSERT_EQ(DeviceOpen(kRecorderDevice, &second), ZQS_SUCCESS);
  std::atomic<int> woken{0};
  std::atomic<int> closedType{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&, h = handle_] {
      std::uint16_t type = 0;
      if (CheckEvent(h, &type, ZQS_INFINITE) == ZQS_SUCCESS && type == ZQS_EVENT_DEVICE_CLOSED) ++closedType;
      ++woken;
    });
  }
  while (CallsInProgress(handle_) < 3) platform::Sleep(1);
  ASSERT_EQ(DeviceClose(&second), ZQS_SUCCESS);  // not the last: nobody wakes
  platform::Sleep(20);
  EXPECT_EQ(woken.load(), 0);
  ASSERT_EQ(DeviceClose(&handle_), ZQS_SUCCESS);
  for (std::thread& t : waiters) t.join();
  EXPECT_EQ(closedType.load(), 3);
  EXPECT_EQ(rec_open_count(), 0);
}

TEST_F(EventRequestTest, CheckEventAfterTheLastCloseReturns3) {
  const std::uint32_t h = handle_;
  ASSERT_EQ(DeviceClose(&handle_), ZQS_SUCCESS);
  std::uint16_t type = 0x1111;
  EXPECT_EQ(CheckEvent(h, &type, 0), ZQS_ERROR_HANDLE);
  EXPECT_EQ(type, 0x1111);
}

TEST_F(EventRequestTest, ReopenAfterCloseStartsWithEverySourceDisabled) {
  ASSERT_EQ(EnableEvent(handle_, 0x3403, 1, 1), ZQS_SUCCESS);
  ASSERT_EQ(DeviceClose(&handle_), ZQS_SUCCESS);
  ASSERT_EQ(DeviceOpen(kRecorderDevice, &handle_), ZQS_SUCCESS);
  Signal(3);
  std::uint16_t type = 0xAAAA;
  ASSERT_EQ(CheckEvent(handle_, &type, 1000), ZQS_SUCCESS);
  EXPECT_EQ(type, ZQS_EVENT_NONE);
}

}  // namespace
}  // namespace qio::library::testing
