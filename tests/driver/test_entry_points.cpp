// Initialisation, open counting, first-open and last-close work and
// de-initialisation, on the platform's registry with a fake board.
#include <gtest/gtest.h>

#include <cstring>

#include "driver/core/EntryPoints.h"
#include "driver_calls.h"
#include "qio/platform/interrupts.h"
#include "qio/platform/kernel.h"
#include "qio/protocol/ioctl.h"

namespace qio::test {
namespace {

using namespace protocol;

constexpr const char* kActiveKey = "Drivers\\Active\\01";

constexpr const char* kBootText =
    "[HKEY_LOCAL_MACHINE\\Drivers\\Active\\01]\r\n"
    "\"Name\"=\"Q621:\"\r\n"
    "\"Key\"=\"Drivers\\\\BuiltIn\\\\ZQS5162S0\"\r\n"
    "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S0]\r\n"
    "\"DeviceIndex\"=dword:0\r\n"
    "\"IoBase\"=dword:300\r\n"
    "\"IoLen\"=dword:40\r\n"
    "\"Irq\"=dword:5\r\n"
    "\"TimerClock\"=dword:14\r\n"
    "\"DigPortCfg\"=hex:00,01,03\r\n";

class EntryPointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::RegClearAll();
    ASSERT_TRUE(board.mapped());
    handlesBefore = platform::OpenHandleCount();
  }
  void TearDown() override {
    platform::RegClearAll();
    platform::InterruptResetAll();
  }
  static void Import(std::string_view text) {
    std::string error;
    ASSERT_TRUE(platform::RegImportText(text, &error)) << error;
  }
  static void SetServiceValue(const char* name, std::string_view text) {
    Import(std::string("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\ZQS5162S\\Device000]\r\n\"") +
           name + "\"=" + std::string(text) + "\r\n");
  }
  std::vector<std::uint32_t> DirectionWrites() {
    std::vector<std::uint32_t> values;
    for (const PortAccess& a : board.Writes()) {
      if (a.offset == 0x2C) values.push_back(a.value);
    }
    return values;
  }
  void RaiseDi(std::uint8_t flagsA, unsigned line) {
    board.SetRead(0x22, 0x04, 2);
    board.SetRead(0x2E, flagsA, 1);
    platform::RaiseInterruptRequest(line);
  }

  FakeBoard board{kTestBase};
  std::size_t handlesBefore = 0;
};

TEST_F(EntryPointTest, InitReadsTheConfigurationAndCreatesTheEvents) {
  Import(kBootText);
  driver::DeviceContext* ctx = driver::InitDevice(kActiveKey);
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(std::u16string(ctx->streamName), u"Q621:");
  EXPECT_EQ(ctx->ioBase, 0x300u);
  EXPECT_EQ(ctx->ioLength, 0x40u);
  EXPECT_EQ(ctx->irq, 5u);
  EXPECT_EQ(ctx->deviceNumber, 0);
  EXPECT_EQ(ctx->portConfig, (std::array<std::uint8_t, 3>{0, 1, 3}));
  EXPECT_EQ(ctx->istPriority, 93u);
  EXPECT_EQ(ctx->openCount.load(), 0);
  for (unsigned source = 0; source < kEventSources; ++source) {
    const platform::Handle event = platform::OpenEvent(EventName(source, 0));
    EXPECT_NE(event, platform::kNullHandle) << EventName(source, 0);
    platform::CloseHandle(event);
  }
  EXPECT_TRUE(board.Accesses().empty()) << "Init does not touch the board";
  EXPECT_TRUE(driver::DeinitDevice(ctx));
  EXPECT_EQ(platform::OpenHandleCount(), handlesBefore);
  EXPECT_EQ(platform::OpenEvent("ZQS_EVT_DI_INTERRUPT0_000"), platform::kNullHandle);
}

TEST_F(EntryPointTest, EveryFailingInitLeavesNothingBehind) {
  EXPECT_EQ(driver::InitDevice(nullptr), nullptr) << "no registry path";
  EXPECT_EQ(driver::InitDevice(kActiveKey), nullptr) << "no active key";
  Import("[HKEY_LOCAL_MACHINE\\Drivers\\Active\\01]\r\n\"Key\"=\"Drivers\\\\BuiltIn\\\\ZQS5162S0\"\r\n");
  EXPECT_EQ(driver::InitDevice(kActiveKey), nullptr) << "no Name";
  Import("[HKEY_LOCAL_MACHINE\\Drivers\\Active\\01]\r\n\"Name\"=\"Q621:\"\r\n");
  EXPECT_EQ(driver::InitDevice(kActiveKey), nullptr) << "no driver key";
  Import(kBootText);
  platform::RegKey key = 0;
  if (platform::RegOpenKey(platform::kLocalMachine, "Drivers\\BuiltIn\\ZQS5162S0", &key) == 0) {
    platform::RegDeleteValue(key, "TimerClock");
    platform::RegCloseKey(key);
  }
  EXPECT_EQ(driver::InitDevice(kActiveKey), nullptr) << "a driver-key value missing";
  EXPECT_EQ(platform::OpenHandleCount(), handlesBefore);
  // A failed initialisation registers nothing.
  EXPECT_EQ(platform::RegOpenKey(platform::kLocalMachine, "SYSTEM\\CurrentControlSet\\Services\\ZQSDAQ", &key),
            platform::kErrorFileNotFound);
}

TEST_F(EntryPointTest, NullHandlesAreRefused) {
  platform::SetLastError(0);
  EXPECT_EQ(driver::OpenDevice(nullptr), nullptr);
  EXPECT_EQ(platform::GetLastError(), 2u);
  EXPECT_FALSE(driver::CloseDevice(nullptr));
  EXPECT_EQ(platform::GetLastError(), 6u);
  EXPECT_FALSE(driver::DeinitDevice(nullptr));
}

TEST_F(EntryPointTest, SecondOpenKeepsServiceAndEnables) {
  Import(kBootText);
  driver::DeviceContext* ctx = driver::InitDevice(kActiveKey);
  ASSERT_NE(ctx, nullptr);
  const std::size_t threads = platform::LiveThreadCount();
  ASSERT_EQ(driver::OpenDevice(ctx), ctx);
  const platform::Handle thread = ctx->istThread.load();
  ASSERT_NE(thread, platform::kNullHandle);
  EXPECT_EQ(platform::GetThreadPriority(thread), 93);
  EXPECT_EQ(DirectionWrites(), (std::vector<std::uint32_t>{0x11}));
  ASSERT_EQ(Send(ctx, IOCTL_EVENT_ENABLE, EventEnable(1, 0, 1).get(), 0).result, 1);

  ASSERT_EQ(driver::OpenDevice(ctx), ctx);
  EXPECT_EQ(ctx->istThread.load(), thread);
  EXPECT_EQ(platform::LiveThreadCount(), threads + 1);
  EXPECT_EQ(DirectionWrites().size(), 1u) << "the second open does not reprogram the ports";

  EXPECT_TRUE(driver::CloseDevice(ctx));
  EXPECT_EQ(ctx->istThread.load(), thread);
  EXPECT_EQ(ctx->eventEnableMask.load(), 1u);
  const platform::Handle event = platform::OpenEvent("ZQS_EVT_DI_INTERRUPT0_000");
  RaiseDi(0x01, 5);
  EXPECT_EQ(platform::WaitForSingleObject(event, 2000), platform::kWaitObject0);

  EXPECT_TRUE(driver::CloseDevice(ctx));
  EXPECT_EQ(ctx->istThread.load(), platform::kNullHandle);
  EXPECT_EQ(ctx->eventEnableMask.load(), 0u);
  for (const auto& trigger : ctx->eventTriggerCount) EXPECT_EQ(trigger.load(), 0u);
  EXPECT_EQ(platform::JoinAllThreads(1000), 0u);
  platform::CloseHandle(event);
  EXPECT_TRUE(driver::DeinitDevice(ctx));
  EXPECT_EQ(platform::OpenHandleCount(), handlesBefore);
}

TEST_F(EntryPointTest, ReopenedDeviceSignalsOnlyAfterANewEnable) {
  Import(kBootText);
  driver::DeviceContext* ctx = driver::InitDevice(kActiveKey);
  ASSERT_NE(ctx, nullptr);
  ASSERT_EQ(driver::OpenDevice(ctx), ctx);
  ASSERT_EQ(Send(ctx, IOCTL_EVENT_ENABLE, EventEnable(1, 1, 1).get(), 0).result, 1);
  ASSERT_TRUE(driver::CloseDevice(ctx));
  ASSERT_EQ(driver::OpenDevice(ctx), ctx);

  const platform::Handle event = platform::OpenEvent("ZQS_EVT_DI_INTERRUPT1_000");
  RaiseDi(0x02, 5);
  EXPECT_EQ(platform::WaitForSingleObject(event, 200), platform::kWaitTimeout);
  ASSERT_EQ(Send(ctx, IOCTL_EVENT_ENABLE, EventEnable(1, 1, 1).get(), 0).result, 1);
  RaiseDi(0x02, 5);
  EXPECT_EQ(platform::WaitForSingleObject(event, 2000), platform::kWaitObject0);
  platform::CloseHandle(event);
  ASSERT_TRUE(driver::CloseDevice(ctx));
  ASSERT_TRUE(driver::DeinitDevice(ctx));
}

TEST_F(EntryPointTest, ChangedSettingsTakeEffectAtTheNextFirstOpen) {
  Import(kBootText);
  driver::DeviceContext* ctx = driver::InitDevice(kActiveKey);
  ASSERT_NE(ctx, nullptr);
  ASSERT_EQ(driver::OpenDevice(ctx), ctx);
  EXPECT_EQ(ctx->sysIntr, 21u);

  SetServiceValue("DigPortCfg", "hex:01,00,04");
  SetServiceValue("Irq", "dword:7");
  ASSERT_EQ(driver::OpenDevice(ctx), ctx);
  EXPECT_EQ(ctx->irq, 5u) << "the line of a running service stays";
  ASSERT_TRUE(driver::CloseDevice(ctx));
  ASSERT_TRUE(driver::CloseDevice(ctx));

  ASSERT_EQ(driver::OpenDevice(ctx), ctx);
  EXPECT_EQ(DirectionWrites(), (std::vector<std::uint32_t>{0x11, 0x0A}));
  EXPECT_EQ(ctx->irq, 7u);
  EXPECT_EQ(ctx->sysIntr, 23u);
  ASSERT_EQ(Send(ctx, IOCTL_EVENT_ENABLE, EventEnable(1, 2, 1).get(), 0).result, 1);
  const platform::Handle event = platform::OpenEvent("ZQS_EVT_DI_INTERRUPT2_000");
  RaiseDi(0x04, 5);
  EXPECT_EQ(platform::WaitForSingleObject(event, 200), platform::kWaitTimeout) << "line 5 is no longer bound";
  RaiseDi(0x04, 7);
  EXPECT_EQ(platform::WaitForSingleObject(event, 2000), platform::kWaitObject0);
  platform::CloseHandle(event);
  ASSERT_TRUE(driver::CloseDevice(ctx));
  ASSERT_TRUE(driver::DeinitDevice(ctx));
}

TEST_F(EntryPointTest, DeinitOfAnOpenDeviceStopsItsThread) {
  Import(kBootText);
  driver::DeviceContext* ctx = driver::InitDevice(kActiveKey);
  ASSERT_NE(ctx, nullptr);
  ASSERT_EQ(driver::OpenDevice(ctx), ctx);
  ASSERT_NE(ctx->istThread.load(), platform::kNullHandle);
  EXPECT_TRUE(driver::DeinitDevice(ctx));
  EXPECT_EQ(platform::JoinAllThreads(1000), 0u);
  EXPECT_EQ(platform::OpenHandleCount(), handlesBefore);
  // The line is free again.
  const platform::Handle event = platform::CreateEvent(false, false);
  EXPECT_TRUE(platform::InterruptInitialize(21, event));
  platform::InterruptDisable(21);
  platform::CloseHandle(event);
}

TEST_F(EntryPointTest, OpenWithoutAnInterruptLineStillSucceeds) {
  Import(kBootText);
  Import("[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S0]\r\n\"Irq\"=dword:20\r\n");
  driver::DeviceContext* ctx = driver::InitDevice(kActiveKey);
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(driver::OpenDevice(ctx), ctx);
  EXPECT_EQ(ctx->istThread.load(), platform::kNullHandle);
  EXPECT_TRUE(driver::CloseDevice(ctx));
  EXPECT_TRUE(driver::DeinitDevice(ctx));
}

}  // namespace
}  // namespace qio::test
