// The hosted target's C harness: boot and shutdown, the registry as text, the
// boot report, and stream devices, through the test stream driver.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "qio/platform/device_manager.h"
#include "qio/platform/errors.h"
#include "qio/platform/kernel.h"
#include "qio5162/target.h"
#include "test_driver.h"

namespace pf = qio::platform;

namespace {

const char* const kTestDriver =
    "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\TST0]\r\n"
    "\"Dll\"=\"QioTestDrv.dll\"\r\n"
    "\"Prefix\"=\"TST\"\r\n"
    "\"Order\"=dword:00000001\r\n";

const char* const kMissingDriver =
    "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\MISS0]\r\n"
    "\"Dll\"=\"NoSuchDriver.dll\"\r\n"
    "\"Prefix\"=\"MIS\"\r\n"
    "\"Order\"=dword:00000002\r\n";

std::string Text(int (*get)(QioTarget*, char*, size_t, size_t*), QioTarget* target) {
  size_t needed = 0;
  if (get(target, nullptr, 0, &needed) != QIO_TARGET_E_SPACE) return "(no size)";
  std::vector<char> buffer(needed);
  if (get(target, buffer.data(), buffer.size(), &needed) != QIO_TARGET_OK) return "(failed)";
  return buffer.data();
}

class HarnessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(qio_target_current(), nullptr);
    module_ = dlopen((pf::ModuleDirectory() + "/libQioTestDrv.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module_, nullptr) << dlerror();
    journal_ = reinterpret_cast<TstJournalReadFn>(dlsym(module_, "TstJournal"));
    ASSERT_NE(journal_, nullptr);
    reinterpret_cast<TstJournalClearFn>(dlsym(module_, "TstJournalClear"))();
  }

  void TearDown() override {
    if (QioTarget* target = qio_target_current()) {
      EXPECT_EQ(qio_target_shutdown(target), QIO_TARGET_OK) << qio_target_last_message();
    }
    if (module_ != nullptr) dlclose(module_);
  }

  QioTarget* Boot(const std::string& text) {
    QioTarget* target = nullptr;
    EXPECT_EQ(qio_target_boot(text.c_str(), &target), QIO_TARGET_OK) << qio_target_last_message();
    return target;
  }

  std::string Journal() const {
    std::string text(journal_(nullptr, 0) + 1, '\0');
    text.resize(journal_(text.data(), text.size()));
    return text;
  }

  void* module_ = nullptr;
  TstJournalReadFn journal_ = nullptr;
};

// ---- boot and shutdown ---------------------------------------------------

TEST_F(HarnessTest, BootsShipsBaseKeysAndShutsDown) {
  QioTarget* target = nullptr;
  ASSERT_EQ(qio_target_boot(nullptr, &target), QIO_TARGET_OK) << qio_target_last_message();
  ASSERT_NE(target, nullptr);
  EXPECT_EQ(qio_target_current(), target);
  EXPECT_TRUE(pf::SystemBooted());
  const std::string registry = Text(qio_target_export_registry, target);
  for (const char* key : {"[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn]", "[HKEY_LOCAL_MACHINE\\Drivers\\Active]",
                          "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services]"}) {
    EXPECT_NE(registry.find(key), std::string::npos) << key;
  }
  EXPECT_EQ(qio_target_shutdown(target), QIO_TARGET_OK) << qio_target_last_message();
  EXPECT_EQ(qio_target_current(), nullptr);
  EXPECT_FALSE(pf::SystemBooted());
  // The old pointer no longer names a running target.
  EXPECT_EQ(qio_target_shutdown(target), QIO_TARGET_E_STATE);
  EXPECT_EQ(qio_target_export_registry(target, nullptr, 0, nullptr), QIO_TARGET_E_STATE);
}

TEST_F(HarnessTest, PointersOfEarlierBootsStayRefusedAfterLaterBoots) {
  // A component that kept the pointer of a target shut down earlier must not
  // reach the target booted since, whatever address the new one got.
  std::vector<QioTarget*> earlier;
  for (int boot = 0; boot < 12; ++boot) {
    QioTarget* target = nullptr;
    ASSERT_EQ(qio_target_boot_ex(nullptr, boot % 2 == 0 ? 0u : QIO_TARGET_BARE | QIO_TARGET_NO_BOARDS, &target),
              QIO_TARGET_OK)
        << qio_target_last_message();
    for (QioTarget* old : earlier) {
      EXPECT_EQ(qio_target_export_registry(old, nullptr, 0, nullptr), QIO_TARGET_E_STATE) << "boot " << boot;
      EXPECT_EQ(qio_target_now_ns(old), 0u);
      EXPECT_EQ(qio_target_board(old, 0x300), nullptr);
    }
    EXPECT_EQ(qio_target_current(), target);
    EXPECT_EQ(qio_target_shutdown(target), QIO_TARGET_OK) << qio_target_last_message();
    earlier.push_back(target);
  }
}

TEST_F(HarnessTest, SecondBootIsRefusedAndTheFirstGoesOn) {
  QioTarget* first = Boot(kTestDriver);
  QioTarget* second = reinterpret_cast<QioTarget*>(&first);
  EXPECT_EQ(qio_target_boot(nullptr, &second), QIO_TARGET_E_STATE);
  EXPECT_EQ(second, nullptr);
  EXPECT_NE(std::string(qio_target_last_message()).find("already running"), std::string::npos);
  EXPECT_EQ(qio_target_current(), first);
  QioStream* stream = nullptr;
  EXPECT_EQ(qio_target_device_open(first, "TST1:", &stream), QIO_TARGET_OK);
  EXPECT_EQ(qio_target_device_close(stream), QIO_TARGET_OK);
}

TEST_F(HarnessTest, MalformedTextReportsItsLineAndBootsNothing) {
  const std::string text = std::string(kTestDriver) + "\"Irq\"=dword:5\r\nthis is no value\r\n";
  QioTarget* target = nullptr;
  EXPECT_EQ(qio_target_boot(text.c_str(), &target), QIO_TARGET_E_REGISTRY);
  EXPECT_EQ(target, nullptr);
  const std::string message = qio_target_last_message();
  EXPECT_NE(message.find("line 6"), std::string::npos) << message;
  EXPECT_EQ(qio_target_current(), nullptr);
  EXPECT_FALSE(pf::SystemBooted());
  EXPECT_EQ(Journal(), "");  // no driver was loaded
  // Nothing of the text was kept: a boot without it has no TST0 key.
  target = Boot("");
  EXPECT_EQ(Text(qio_target_export_registry, target).find("TST0"), std::string::npos);
}

TEST_F(HarnessTest, BadArgumentsAreRefused) {
  EXPECT_EQ(qio_target_boot(nullptr, nullptr), QIO_TARGET_E_ARGUMENT);
  QioTarget* target = nullptr;
  EXPECT_EQ(qio_target_boot_ex(nullptr, 0x80, &target), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(target, nullptr);
  EXPECT_EQ(qio_target_shutdown(nullptr), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_target_export_registry(nullptr, nullptr, 0, nullptr), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_target_boot_report(nullptr, nullptr, 0, nullptr), QIO_TARGET_E_ARGUMENT);
  QioStream* stream = nullptr;
  EXPECT_EQ(qio_target_device_open(nullptr, "TST1:", &stream), QIO_TARGET_E_ARGUMENT);
  target = Boot(kTestDriver);
  EXPECT_EQ(qio_target_device_open(target, nullptr, &stream), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_target_device_open(target, "TST1:", nullptr), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_target_device_open(reinterpret_cast<QioTarget*>(&stream), "TST1:", &stream), QIO_TARGET_E_STATE);
}

TEST_F(HarnessTest, BareBootKeepsTheBaseKeysAndTheCallersText) {
  QioTarget* target = nullptr;
  ASSERT_EQ(qio_target_boot_ex(kTestDriver, QIO_TARGET_BARE | QIO_TARGET_NO_BOARDS, &target), QIO_TARGET_OK);
  const std::string registry = Text(qio_target_export_registry, target);
  EXPECT_NE(registry.find("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services]"), std::string::npos);
  EXPECT_NE(registry.find("[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\TST0]"), std::string::npos);
  EXPECT_NE(Text(qio_target_boot_report, target).find("loaded TST1:"), std::string::npos);
}

TEST_F(HarnessTest, ShutdownClosesStreamsAndLeavesNoThreadsOrHandles) {
  QioTarget* target = Boot(kTestDriver);
  QioStream* stream = nullptr;
  ASSERT_EQ(qio_target_device_open(target, "TST1:", &stream), QIO_TARGET_OK);
  EXPECT_EQ(qio_target_shutdown(target), QIO_TARGET_OK) << qio_target_last_message();
  const std::string journal = Journal();
  ASSERT_NE(journal.find("Close TST1:"), std::string::npos);
  EXPECT_LT(journal.find("Close TST1:"), journal.find("Deinit TST1:"));
  EXPECT_EQ(pf::OpenHandleCount(), 0u);
  EXPECT_EQ(pf::LiveThreadCount(), 0u);
  std::uint32_t lastError = 0;
  EXPECT_EQ(qio_target_device_ioctl(stream, TST_IOCTL_ECHO, nullptr, 0, nullptr, 0, nullptr, &lastError), 0);
  EXPECT_EQ(lastError, pf::kErrorInvalidHandle);
}

TEST_F(HarnessTest, ShutdownNamesHandlesTheApplicationLeftOpen) {
  QioTarget* target = Boot(kTestDriver);
  pf::Handle event = pf::CreateEvent(false, false);
  ASSERT_NE(event, pf::kNullHandle);
  EXPECT_EQ(qio_target_shutdown(target), QIO_TARGET_OK);
  EXPECT_NE(std::string(qio_target_last_message()).find("1 handle(s) left open"), std::string::npos)
      << qio_target_last_message();
  EXPECT_TRUE(pf::CloseHandle(event));
}

// ---- registry text and boot report ---------------------------------------

TEST_F(HarnessTest, ExportFollowsTheSizeRule) {
  QioTarget* target = nullptr;
  ASSERT_EQ(qio_target_boot_ex(kTestDriver, QIO_TARGET_BARE, &target), QIO_TARGET_OK);
  size_t needed = 0;
  EXPECT_EQ(qio_target_export_registry(target, nullptr, 0, &needed), QIO_TARGET_E_SPACE);
  ASSERT_GT(needed, 1u);
  std::vector<char> buffer(needed, '#');
  size_t again = 0;
  EXPECT_EQ(qio_target_export_registry(target, buffer.data(), needed - 1, &again), QIO_TARGET_E_SPACE);
  EXPECT_EQ(again, needed);
  EXPECT_EQ(buffer[0], '#');  // nothing copied
  EXPECT_EQ(qio_target_export_registry(target, buffer.data(), needed, nullptr), QIO_TARGET_OK);
  EXPECT_EQ(std::strlen(buffer.data()), needed - 1);
  const std::string text = buffer.data();
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Drivers\\Active\\01]"), std::string::npos);
  EXPECT_NE(text.find("\"Name\"=\"TST1:\""), std::string::npos);
  EXPECT_NE(text.find("\"Key\"=\"Drivers\\\\BuiltIn\\\\TST0\""), std::string::npos);
}

TEST_F(HarnessTest, BootReportListsLoadedDriversAndFailures) {
  QioTarget* target = nullptr;
  ASSERT_EQ(qio_target_boot_ex((std::string(kTestDriver) + kMissingDriver).c_str(), QIO_TARGET_BARE, &target),
            QIO_TARGET_OK);
  size_t needed = 0;
  EXPECT_EQ(qio_target_boot_report(target, nullptr, 0, &needed), QIO_TARGET_E_SPACE);
  const std::string report = Text(qio_target_boot_report, target);
  EXPECT_EQ(report.size() + 1, needed);
  EXPECT_NE(report.find("loaded TST1: Drivers\\BuiltIn\\TST0 libQioTestDrv.so Drivers\\Active\\01\n"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("failed Drivers\\BuiltIn\\MISS0: module \"NoSuchDriver.dll\" not found"), std::string::npos)
      << report;
  QioStream* stream = nullptr;
  EXPECT_EQ(qio_target_device_open(target, "MIS1:", &stream), QIO_TARGET_E_DEVICE);
}

// ---- stream devices ------------------------------------------------------

class StreamHarnessTest : public HarnessTest {
 protected:
  void SetUp() override {
    HarnessTest::SetUp();
    target_ = Boot(std::string(kTestDriver) +
                   "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\TST9]\r\n\"Dll\"=\"QioTestDrv.dll\"\r\n"
                   "\"Prefix\"=\"TST\"\r\n\"Order\"=dword:00000009\r\n\"RefuseOpen\"=dword:20000005\r\n");
    ASSERT_NE(target_, nullptr);
    ASSERT_EQ(qio_target_device_open(target_, "tst1:", &stream_), QIO_TARGET_OK);
    ASSERT_NE(stream_, nullptr);
  }

  QioTarget* target_ = nullptr;
  QioStream* stream_ = nullptr;
};

TEST_F(StreamHarnessTest, OpenOfAMissingOrRefusingDeviceFails) {
  QioStream* other = reinterpret_cast<QioStream*>(&other);
  EXPECT_EQ(qio_target_device_open(target_, "TST7:", &other), QIO_TARGET_E_DEVICE);
  EXPECT_EQ(other, nullptr);
  EXPECT_NE(std::string(qio_target_last_message()).find("no stream device \"TST7:\""), std::string::npos);
  EXPECT_EQ(qio_target_device_open(target_, "TST2:", &other), QIO_TARGET_E_DEVICE);
  EXPECT_NE(std::string(qio_target_last_message()).find("refused"), std::string::npos);
  EXPECT_NE(std::string(qio_target_last_message()).find("0x20000005"), std::string::npos);
}

TEST_F(StreamHarnessTest, RequestResultBytesAndLastErrorComeBack) {
  char out[8] = {};
  std::uint32_t bytes = 0;
  std::uint32_t lastError = 1;
  pf::SetLastError(0x55);  // a stale error must not leak into the request's
  EXPECT_EQ(qio_target_device_ioctl(stream_, TST_IOCTL_ECHO, "abc", 3, out, sizeof out, &bytes, &lastError), 1);
  EXPECT_EQ(bytes, 3u);
  EXPECT_EQ(lastError, 0u);
  EXPECT_EQ(std::string(out, 3), "abc");

  const std::uint32_t code = 0x2000000A;
  EXPECT_EQ(qio_target_device_ioctl(stream_, TST_IOCTL_FAIL, &code, 4, nullptr, 0, &bytes, &lastError), 0);
  EXPECT_EQ(lastError, code);
  EXPECT_EQ(bytes, 0u);

  const std::uint32_t status = 0x1234;
  EXPECT_EQ(qio_target_device_ioctl(stream_, TST_IOCTL_STATUS, &status, 4, nullptr, 0, nullptr, nullptr), 0x1234);
  EXPECT_EQ(qio_target_device_ioctl(stream_, TST_IOCTL_NAME, nullptr, 0, out, sizeof out, &bytes, nullptr), 1);
  EXPECT_STREQ(out, "TST1:");
}

TEST_F(StreamHarnessTest, ClosedOrMadeUpStreamsAreRefused) {
  EXPECT_EQ(qio_target_device_close(stream_), QIO_TARGET_OK);
  EXPECT_NE(Journal().find("Close TST1:"), std::string::npos);
  EXPECT_EQ(qio_target_device_close(stream_), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_target_device_close(nullptr), QIO_TARGET_E_ARGUMENT);
  std::uint32_t lastError = 0;
  std::uint32_t bytes = 7;
  EXPECT_EQ(qio_target_device_ioctl(stream_, TST_IOCTL_ECHO, nullptr, 0, nullptr, 0, &bytes, &lastError), 0);
  EXPECT_EQ(lastError, pf::kErrorInvalidHandle);
  EXPECT_EQ(bytes, 0u);
  EXPECT_EQ(qio_target_device_ioctl(nullptr, TST_IOCTL_ECHO, nullptr, 0, nullptr, 0, nullptr, &lastError), 0);
  EXPECT_EQ(lastError, pf::kErrorInvalidHandle);
  // An event handle passed off as a stream is not closed by the harness.
  pf::Handle event = pf::CreateEvent(false, false);
  QioStream* fake = reinterpret_cast<QioStream*>(static_cast<std::uintptr_t>(event));
  EXPECT_EQ(qio_target_device_close(fake), QIO_TARGET_E_ARGUMENT);
  EXPECT_TRUE(pf::CloseHandle(event));
  QioStream* wild = reinterpret_cast<QioStream*>(&lastError);
  EXPECT_EQ(qio_target_device_ioctl(wild, TST_IOCTL_ECHO, nullptr, 0, nullptr, 0, nullptr, &lastError), 0);
  EXPECT_EQ(lastError, pf::kErrorInvalidHandle);
}

TEST_F(StreamHarnessTest, UnmappedPortsFloatHigh) {
  EXPECT_EQ(qio_target_port_in(target_, 0x100, 1), 0xFFu);
  EXPECT_EQ(qio_target_port_in(target_, 0x100, 2), 0xFFFFu);
  EXPECT_EQ(qio_target_port_in(target_, 0x100, 4), 0xFFFFFFFFu);
  EXPECT_EQ(qio_target_port_out(target_, 0x100, 1, 0x5A), QIO_TARGET_OK);
  EXPECT_EQ(qio_target_port_in(target_, 0x100, 1), 0xFFu);
  EXPECT_EQ(qio_target_port_in(target_, 0x100, 3), 0xFFFFFFFFu);
  EXPECT_NE(std::string(qio_target_last_message()).find("width 3"), std::string::npos);
  EXPECT_EQ(qio_target_port_out(target_, 0x100, 3, 0), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_target_port_out(target_, 0x100, 1, 0x100), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_target_port_out(nullptr, 0x100, 1, 0), QIO_TARGET_E_ARGUMENT);
}

}  // namespace
