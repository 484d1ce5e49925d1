// Requests through the device manager to the loaded driver and the board
// model: buffer checks, port directions in the register trace, the port
// window, and the open/close life of the device.
#include <gtest/gtest.h>

#include "request_bytes.h"
#include "qio/platform/clock.h"
#include "qio/platform/port_io.h"
#include "qio/platform/registry.h"
#include "qio/protocol/ioctl.h"
#include "target_session.h"

namespace qio::test {
namespace {

using namespace protocol;

constexpr std::uint32_t kBadBuffer = 0x2000000A;
constexpr const char* kServiceDevice0 = "SYSTEM\\CurrentControlSet\\Services\\ZQS5162S\\Device000";

class RequestTest : public TargetTest {
 protected:
  void SetUp() override {
    Boot();
    ASSERT_NE(board_, nullptr);
    stream = Open();
    ASSERT_NE(stream, nullptr);
  }
  TargetReply SetCodes(std::uint8_t a, std::uint8_t b, std::uint8_t c) {
    return Ioctl(stream, IOCTL_PROPERTY_SET, Bytes().U32(0).U8(a).U8(b).U8(c).U8(0).get(), 0);
  }
  static void SetServiceValue(const char* name, std::uint32_t type, const void* data, std::uint32_t size) {
    platform::RegKey key = 0;
    ASSERT_EQ(platform::RegOpenKey(platform::kLocalMachine, kServiceDevice0, &key), 0u);
    EXPECT_EQ(platform::RegSetValue(key, name, type, data, size), 0u);
    platform::RegCloseKey(key);
  }
  QioStream* stream = nullptr;
};

TEST_F(RequestTest, BufferChecksOfTheProtocol) {
  TargetReply r = Ioctl(stream, IOCTL_PORT_READ_BYTE, Bytes().U32(0x2C).get(), 1);
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.bytesReturned, 1u);
  EXPECT_EQ(r.out[0], 0x1B) << "all ports input after the first open";
  r = Ioctl(stream, IOCTL_PORT_READ_BYTE, Bytes().U16(0x2C).U8(0).get(), 1);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.error, kBadBuffer);
  EXPECT_EQ(r.bytesReturned, 0u);

  r = Ioctl(stream, 0x9C40FFFC, Bytes().U32(0).get(), 4);
  EXPECT_EQ(r.error, 50u);

  r = Ioctl(stream, IOCTL_PROPERTY_GET, Bytes().U32(0).get(), 2);
  EXPECT_EQ(r.error, kBadBuffer);
  r = Ioctl(stream, IOCTL_PROPERTY_GET, Bytes().U32(0).get(), 3);
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.bytesReturned, 3u);
  EXPECT_EQ(r.out, (std::vector<std::uint8_t>{0, 0, 0}));

  r = Ioctl(stream, IOCTL_DIO_WRITE_DO_PORTS, Bytes().U32(0).U32(0).get(), 0);
  EXPECT_EQ(r.error, kBadBuffer);

  ASSERT_EQ(Ioctl(stream, IOCTL_DIO_SET_EVENT_DI_PORTS, Bytes().U32(2).U32(0).U32(3).get(), 0).result, 1);
  r = Ioctl(stream, IOCTL_DIO_GET_EVENT_DI_PORTS, Bytes().U32(2).get(), 1);
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.bytesReturned, 1u);
}

TEST_F(RequestTest, DirectionCodesAppearInTheRegisterTrace) {
  Trace(true);
  ASSERT_EQ(SetCodes(0, 1, 3).result, 1);
  ASSERT_EQ(SetCodes(1, 0, 4).result, 1);
  EXPECT_EQ(WritesTo(ReadTrace(), 0x2C), (std::vector<std::uint32_t>{0x11, 0x0A}));
  const TargetReply r = Ioctl(stream, IOCTL_PROPERTY_GET, Bytes().U32(0).get(), 3);
  EXPECT_EQ(r.out, (std::vector<std::uint8_t>{1, 0, 4}));
}

TEST_F(RequestTest, OutputPortsDriveThePinsAndReadBack) {
  ASSERT_EQ(SetCodes(1, 1, 1).result, 1);
  ASSERT_EQ(Ioctl(stream, IOCTL_DIO_WRITE_DO_PORTS, Bytes().U32(1).U32(1).U32(0x5A).get(), 0).result, 1);
  std::uint8_t pins = 0;
  ASSERT_EQ(qio_sim_get_pins(board_, 1, &pins), QIO_TARGET_OK);
  EXPECT_EQ(pins, 0x5A);
  const TargetReply r = Ioctl(stream, IOCTL_DIO_GET_CURRENT_DO_PORTS, Bytes().U32(1).U32(1).get(), 1);
  EXPECT_EQ(r.out[0], 0x5A);
}

TEST_F(RequestTest, InputPortsReadThePins) {
  SetDi(0, 0x81);
  SetDi(2, 0x3C);
  const TargetReply r = Ioctl(stream, IOCTL_DIO_READ_DI_PORTS, Bytes().U32(0).U32(3).get(), 3);
  ASSERT_EQ(r.result, 1);
  EXPECT_EQ(r.bytesReturned, 3u);
  EXPECT_EQ(r.out, (std::vector<std::uint8_t>{0x81, 0x00, 0x3C}));
}

TEST_F(RequestTest, PortWindowEndsBelowIoLength) {
  TargetReply r = Ioctl(stream, IOCTL_PORT_READ_BYTE, Bytes().U32(0x3E).get(), 1);
  EXPECT_EQ(r.result, 1);
  r = Ioctl(stream, IOCTL_PORT_READ_BYTE, Bytes().U32(0x3F).get(), 1);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.error, 0x20000040u);
  r = Ioctl(stream, IOCTL_PORT_READ_DWORD, Bytes().U32(0x3C).get(), 4);
  EXPECT_EQ(r.error, 0x20000040u);
  Trace(true);
  r = Ioctl(stream, IOCTL_PORT_WRITE_WORD, Bytes().U32(0x3E).U16(0x1234).get(), 0);
  EXPECT_EQ(r.error, 0x20000040u);
  EXPECT_TRUE(ReadTrace().empty());
}

TEST_F(RequestTest, ChangedPortConfigurationTakesEffectAtTheNextFirstOpen) {
  const std::uint8_t codes[3] = {1, 0, 4};
  SetServiceValue("DigPortCfg", platform::kRegBinary, codes, 3);
  Trace(true);
  QioStream* second = Open();
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(WritesTo(ReadTrace(), 0x2C).empty()) << "a second open does not reprogram the ports";
  Close(second);
  Close(stream);
  Trace(true);
  stream = Open();
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(WritesTo(ReadTrace(), 0x2C), (std::vector<std::uint32_t>{0x0A}));
}

class LifeTest : public RequestTest {
 protected:
  // A rising edge on DI line 0 of port A, then back low.
  void PulseLine0() {
    SetDi(0, 0x01);
    SetDi(0, 0x00);
  }
};

TEST_F(LifeTest, SecondOpenAndFirstCloseKeepServiceAndEnables) {
  QioStream* second = Open();
  ASSERT_NE(second, nullptr);
  ASSERT_EQ(Ioctl(second, IOCTL_EVENT_ENABLE, EventEnable(1, 0, 1).get(), 0).result, 1);
  Close(second);
  const platform::Handle event = OpenNamedEvent(DiEventName(0, 0));
  PulseLine0();
  EXPECT_EQ(platform::WaitForSingleObject(event, 3000), platform::kWaitObject0);
  // The event is set before the interrupt thread clears the status; an edge
  // before that clear folds into the interrupt already pending.
  for (int i = 0; i < 300 && (platform::PortInWord(0x322) & 0x04) != 0; ++i) platform::Sleep(1);
  PulseLine0();
  EXPECT_EQ(platform::WaitForSingleObject(event, 3000), platform::kWaitObject0);
}

TEST_F(LifeTest, LastCloseDisablesEverySource) {
  ASSERT_EQ(Ioctl(stream, IOCTL_EVENT_ENABLE, EventEnable(1, 0, 1).get(), 0).result, 1);
  Close(stream);
  stream = Open();
  ASSERT_NE(stream, nullptr);
  const platform::Handle event = OpenNamedEvent(DiEventName(0, 0));
  Trace(true);
  PulseLine0();
  std::vector<QioPortAccess> seen;
  // The port's interrupt is still enabled on the board: it is serviced, but
  // no source counts it.
  if (WaitForWrite(0x24, &seen, 500)) {
    EXPECT_EQ(platform::WaitForSingleObject(event, 0), platform::kWaitTimeout);
  }
  EXPECT_EQ(platform::WaitForSingleObject(event, 100), platform::kWaitTimeout);

  ASSERT_EQ(Ioctl(stream, IOCTL_EVENT_ENABLE, EventEnable(1, 0, 1).get(), 0).result, 1);
  PulseLine0();
  EXPECT_EQ(platform::WaitForSingleObject(event, 3000), platform::kWaitObject0);
}

TEST_F(LifeTest, ChangedIrqTakesEffectAtTheNextFirstOpen) {
  const std::uint32_t irq7 = 7;
  SetServiceValue("Irq", platform::kRegDword, &irq7, 4);
  Close(stream);
  stream = Open();
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(Ioctl(stream, IOCTL_EVENT_ENABLE, EventEnable(1, 0, 1).get(), 0).result, 1);
  const platform::Handle event = OpenNamedEvent(DiEventName(0, 0));
  PulseLine0();
  EXPECT_EQ(platform::WaitForSingleObject(event, 300), platform::kWaitTimeout) << "the board raises line 5";

  const std::uint32_t irq5 = 5;
  SetServiceValue("Irq", platform::kRegDword, &irq5, 4);
  Close(stream);
  stream = Open();
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(Ioctl(stream, IOCTL_EVENT_ENABLE, EventEnable(1, 0, 1).get(), 0).result, 1);
  // Clear what the unserviced interrupt left pending on the board.
  ASSERT_EQ(Ioctl(stream, IOCTL_PORT_WRITE_BYTE, Bytes().U32(0x24).U8(0).get(), 0).result, 1);
  PulseLine0();
  EXPECT_EQ(platform::WaitForSingleObject(event, 3000), platform::kWaitObject0);
}

}  // namespace
}  // namespace qio::test
