// Interrupt service on the hosted target: DI edges on the board model, the
// named events, DI snapshots, and terminal counts driven through the
// registers.
#include <gtest/gtest.h>

#include "request_bytes.h"
#include "qio/platform/interrupts.h"
#include "qio/protocol/ioctl.h"
#include "target_session.h"

namespace qio::test {
namespace {

using namespace protocol;

// On the virtual clock: the interrupt thread serves an edge at its instant.
class EventTest : public TargetTest {
 protected:
  void SetUp() override {
    Boot(nullptr, QIO_TARGET_VIRTUAL_TIME);
    ASSERT_NE(board_, nullptr);
    stream = Open();
    ASSERT_NE(stream, nullptr);
    Trace(true);
    ReadTrace();
  }
  void Enable(std::uint16_t source, std::uint16_t trigger) {
    ASSERT_EQ(Ioctl(stream, IOCTL_EVENT_ENABLE, EventEnable(1, source, trigger).get(), 0).result, 1);
  }
  void Disable(std::uint16_t source) {
    ASSERT_EQ(Ioctl(stream, IOCTL_EVENT_ENABLE, EventEnable(0, source, 0).get(), 0).result, 1);
  }
  // Raises DI line `line` of port A and waits until the interrupt thread has
  // cleared the board's interrupt status and finished servicing it (counted,
  // latched and signalled: it clears the status first and acknowledges last).
  void EdgeAndWait(unsigned line, std::uint8_t restingA = 0) {
    const std::uint64_t acknowledged = platform::InterruptAcknowledgements(kIrq);
    SetDi(0, static_cast<std::uint8_t>(restingA | (1u << line)));
    const std::uint64_t edge = platform::NowNs();
    std::vector<QioPortAccess> seen;
    ASSERT_TRUE(WaitForWrite(0x24, &seen)) << "interrupt not serviced";
    for (const QioPortAccess& a : seen) {
      if (a.isWrite && a.offset == 0x24) {
        EXPECT_EQ(a.timeNs, edge) << "the status is cleared at the edge's instant";
      }
    }
    WaitUntilAcknowledged(acknowledged);
    SetDi(0, restingA);
  }
  void WaitUntilAcknowledged(std::uint64_t before) {
    for (int i = 0; i < 3000 && platform::InterruptAcknowledgements(kIrq) == before; ++i) platform::Sleep(1);
    ASSERT_GT(platform::InterruptAcknowledgements(kIrq), before) << "interrupt not acknowledged";
  }
  TargetReply Raw(std::uint32_t code, std::uint32_t offset, std::uint32_t value, unsigned width) {
    Bytes in;
    in.U32(offset);
    if (width == 1) in.U8(static_cast<std::uint8_t>(value));
    if (width == 2) in.U16(static_cast<std::uint16_t>(value));
    return Ioctl(stream, code, in.get(), 0);
  }
  QioStream* stream = nullptr;
};

TEST_F(EventTest, TriggerCountTwoSignalsOnEverySecondInterrupt) {
  Enable(3, 2);
  const platform::Handle event = OpenNamedEvent(DiEventName(3, 0));
  std::vector<int> signalled;
  for (int n = 1; n <= 6; ++n) {
    EdgeAndWait(3);
    if (platform::WaitForSingleObject(event, 0) == platform::kWaitObject0) signalled.push_back(n);
  }
  EXPECT_EQ(signalled, (std::vector<int>{2, 4, 6}));
}

TEST_F(EventTest, WaiterOnTheNamedEventWakesAtTheEdge) {
  Enable(10, 1);
  const platform::Handle event = OpenNamedEvent(DiEventName(10, 0));
  SetDi(1, 0x04);
  EXPECT_EQ(platform::WaitForSingleObject(event, 3000), platform::kWaitObject0);
  EXPECT_EQ(platform::WaitForSingleObject(event, 0), platform::kWaitTimeout) << "auto-reset: one wake-up per signal";
}

TEST_F(EventTest, DisablingSource4ClearsPortAWhileSource5StaysEnabled) {
  Enable(4, 1);
  Enable(5, 1);
  ReadTrace();
  Disable(4);
  EXPECT_EQ(WritesTo(ReadTrace(), 0x22), (std::vector<std::uint32_t>{0x0000}));
  const platform::Handle event5 = OpenNamedEvent(DiEventName(5, 0));
  SetDi(0, 0x20);
  EXPECT_EQ(platform::WaitForSingleObject(event5, 200), platform::kWaitTimeout) << "port A raises no interrupt";
  SetDi(0, 0x00);

  Enable(6, 1);  // port A's interrupt back on: channel 5 is still enabled
  EdgeAndWait(5);
  EXPECT_EQ(platform::WaitForSingleObject(event5, 0), platform::kWaitObject0);
}

TEST_F(EventTest, LatchingStartPort2Count2GivesCThenA) {
  ASSERT_EQ(Ioctl(stream, IOCTL_DIO_SET_EVENT_DI_PORTS, Bytes().U32(1).U32(2).U32(2).get(), 0).result, 1);
  Enable(1, 1);
  SetDi(2, 0xC3);
  SetDi(1, 0xB4);
  EdgeAndWait(1, 0x80);
  const TargetReply r = Ioctl(stream, IOCTL_DIO_GET_EVENT_DI_PORTS, Bytes().U32(1).get(), 4);
  ASSERT_EQ(r.result, 1);
  ASSERT_EQ(r.bytesReturned, 2u);
  EXPECT_EQ(r.out[0], 0xC3);
  EXPECT_EQ(r.out[1], 0x82);
}

TEST_F(EventTest, StatusWithoutPendingBitsLeadsToNoClearWrite) {
  // An interrupt request with nothing pending on the board.
  platform::RaiseInterruptRequest(5);
  std::vector<QioPortAccess> seen;
  EXPECT_FALSE(WaitForWrite(0x24, &seen, 300));
  ASSERT_FALSE(seen.empty()) << "the thread read the status word";
  EXPECT_EQ(seen.front().offset, 0x22);
  EXPECT_EQ(seen.front().isWrite, 0);
  EXPECT_EQ(seen.front().value & 0x1F, 0u);
  EXPECT_EQ(seen.size(), 1u);

  // The interrupt was acknowledged: a real one is serviced afterwards.
  Enable(0, 1);
  EdgeAndWait(0);
  EXPECT_EQ(platform::WaitForSingleObject(OpenNamedEvent(DiEventName(0, 0)), 0), platform::kWaitObject0);
}

// Block 1 counting five edges of its 1 kHz clock generator once, with its
// terminal-count interrupt enabled directly in the register.
class TerminalCountTest : public EventTest {
 protected:
  void ArmBlock1Once() {
    ASSERT_EQ(Raw(IOCTL_PORT_WRITE_WORD, 0x3A, 0x1700, 2).result, 1);  // generator 1: 1 kHz, enabled
    ASSERT_EQ(Raw(IOCTL_PORT_WRITE_WORD, 0x08, 0x0500, 2).result, 1);  // count generator 1 down, once
    ASSERT_EQ(Raw(IOCTL_PORT_WRITE_WORD, 0x0A, 5, 2).result, 1);
    ASSERT_EQ(Raw(IOCTL_PORT_WRITE_WORD, 0x22, 0x0002, 2).result, 1);
    ASSERT_EQ(Raw(IOCTL_PORT_WRITE_BYTE, 0x0E, 0x05, 1).result, 1);  // load and arm
    ReadTrace();
    const std::uint64_t acknowledged = platform::InterruptAcknowledgements(kIrq);
    ASSERT_EQ(Raw(IOCTL_PORT_WRITE_BYTE, 0x20, 0x02, 1).result, 1);  // strobe block 1
    std::vector<QioPortAccess> seen;
    ASSERT_TRUE(WaitForWrite(0x24, &seen)) << "no terminal count serviced";
    WaitUntilAcknowledged(acknowledged);
  }
  // counter 1's tally, through the event-count read
  std::uint16_t Tally() {
    const TargetReply r = Ioctl(stream, IOCTL_COUNTER_EVENT_READ, Bytes().U16(1).U16(0).U32(0).get(), 8);
    if (r.result != 1) ADD_FAILURE() << "event-count read failed: " << std::hex << r.error;
    return static_cast<std::uint16_t>(r.out[2] | (r.out[3] << 8));
  }
};

TEST_F(TerminalCountTest, TallyCountsWhetherOrNotSource25IsEnabled) {
  if (Ioctl(stream, IOCTL_COUNTER_EVENT_READ, Bytes().U16(1).U16(0).U32(0).get(), 8).error == 50) {
    GTEST_SKIP() << "built without the counter engine";
  }
  const std::uint16_t before = Tally();
  ArmBlock1Once();
  EXPECT_EQ(Tally(), before + 1);

  Enable(25, 1);
  const platform::Handle event = OpenNamedEvent("ZQS_EVT_TERMINATE_CNT1_000");
  ArmBlock1Once();
  EXPECT_EQ(Tally(), before + 2);
  EXPECT_EQ(platform::WaitForSingleObject(event, 0), platform::kWaitObject0);
}

}  // namespace
}  // namespace qio::test
