// The device manager through the test stream driver (libQioTestDrv*.so):
// loading from Drivers\BuiltIn, active keys and stream names, load failures,
// stream handles and their routing, shutdown.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "qio/platform/clock.h"
#include "qio/platform/device_manager.h"
#include "qio/platform/errors.h"
#include "qio/platform/kernel.h"
#include "qio/platform/registry.h"
#include "qio/platform/stream_driver.h"
#include "test_driver.h"

namespace pf = qio::platform;

namespace {

constexpr std::uint32_t kReadWrite = QIO_GENERIC_READ | QIO_GENERIC_WRITE;
constexpr std::uint32_t kShareAll = QIO_FILE_SHARE_READ | QIO_FILE_SHARE_WRITE;

std::string BuiltIn(const std::string& key, const std::string& dll, const std::string& extra = {}) {
  return "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\" + key + "]\r\n\"Dll\"=\"" + dll +
         "\"\r\n\"Prefix\"=\"TST\"\r\n" + extra;
}

std::string Dword(const std::string& name, std::uint32_t value) {
  char text[64];
  std::snprintf(text, sizeof text, "\"%s\"=dword:%08x\r\n", name.c_str(), value);
  return text;
}

bool KeyExists(const std::string& path) {
  pf::RegKey key = 0;
  if (pf::RegOpenKey(pf::kLocalMachine, path, &key) != pf::kErrorSuccess) return false;
  pf::RegCloseKey(key);
  return true;
}

std::string QueryString(const std::string& path, const std::string& name) {
  pf::RegKey key = 0;
  std::string text;
  if (pf::RegOpenKey(pf::kLocalMachine, path, &key) != pf::kErrorSuccess) return "(no key)";
  if (pf::RegQueryString(key, name, &text) != pf::kErrorSuccess) text = "(no value)";
  pf::RegCloseKey(key);
  return text;
}

bool Contains(const std::vector<std::string>& lines, const std::string& part) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.find(part) != std::string::npos; });
}

bool ModuleLoaded(const std::string& file) {
  void* handle = dlopen((pf::ModuleDirectory() + "/" + file).c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  dlclose(handle);
  return true;
}

class DeviceManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pf::RegClearAll();
    // Our own reference keeps the driver's journal alive across unloads.
    module_ = dlopen((pf::ModuleDirectory() + "/libQioTestDrv.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module_, nullptr) << dlerror();
    journalRead_ = reinterpret_cast<TstJournalReadFn>(dlsym(module_, "TstJournal"));
    auto clear = reinterpret_cast<TstJournalClearFn>(dlsym(module_, "TstJournalClear"));
    ASSERT_NE(journalRead_, nullptr);
    ASSERT_NE(clear, nullptr);
    clear();
    baseHandles_ = pf::OpenHandleCount();
  }

  void TearDown() override {
    pf::DeviceManagerStop();
    pf::RegClearAll();
    if (module_ != nullptr) dlclose(module_);
  }

  std::size_t Start(const std::string& text) {
    std::string error;
    EXPECT_TRUE(pf::RegImportText(text, &error)) << error;
    return pf::DeviceManagerStart(&messages_);
  }

  std::string Journal() const {
    std::string text(journalRead_(nullptr, 0) + 1, '\0');
    text.resize(journalRead_(text.data(), text.size()));
    return text;
  }

  pf::Handle Open(const std::string& name) { return pf::CreateFile(name, kReadWrite, kShareAll); }

  std::string StreamText(pf::Handle stream, std::uint32_t code) {
    char out[128] = {};
    std::uint32_t bytes = 0;
    if (!pf::DeviceIoControl(stream, code, nullptr, 0, out, sizeof out, &bytes)) return "(failed)";
    return out;
  }

  void* module_ = nullptr;
  TstJournalReadFn journalRead_ = nullptr;
  std::vector<std::string> messages_;
  std::size_t baseHandles_ = 0;
};

// ---- loading -------------------------------------------------------------

TEST_F(DeviceManagerTest, ActiveKeyHoldsNameAndBuiltInKey) {
  ASSERT_EQ(Start(BuiltIn("TST0", "QioTestDrv.dll")), 1u);
  const auto devices = pf::ListActiveDevices();
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].name, "TST1:");
  EXPECT_EQ(devices[0].activeKey, "Drivers\\Active\\01");
  EXPECT_EQ(devices[0].builtInKey, "Drivers\\BuiltIn\\TST0");
  EXPECT_EQ(std::filesystem::path(devices[0].module).filename(), "libQioTestDrv.so");
  EXPECT_EQ(QueryString("Drivers\\Active\\01", "Name"), "TST1:");
  EXPECT_EQ(QueryString("Drivers\\Active\\01", "Key"), "Drivers\\BuiltIn\\TST0");
  EXPECT_NE(Journal().find("Init Drivers\\Active\\01\n"), std::string::npos);
  EXPECT_TRUE(Contains(messages_, "loaded TST1:"));

  // The driver found both values when Init read them.
  pf::Handle stream = Open("TST1:");
  ASSERT_NE(stream, pf::kNullHandle);
  EXPECT_EQ(StreamText(stream, TST_IOCTL_NAME), "TST1:");
  EXPECT_EQ(StreamText(stream, TST_IOCTL_KEY), "Drivers\\BuiltIn\\TST0");
  EXPECT_TRUE(pf::CloseHandle(stream));
}

TEST_F(DeviceManagerTest, FirstFreeIndexAndExplicitIndex) {
  ASSERT_EQ(Start(BuiltIn("A", "QioTestDrv.dll", Dword("Order", 1)) +
                  BuiltIn("B", "QioTestDrv.dll", Dword("Order", 2) + Dword("Index", 1)) +
                  BuiltIn("C", "QioTestDrv.dll", Dword("Order", 3) + Dword("Index", 5)) +
                  BuiltIn("D", "QioTestDrv.dll", Dword("Order", 4)) +
                  BuiltIn("E", "QioTestDrv.dll", Dword("Order", 5) + Dword("Index", 0))),
            4u);
  std::vector<std::string> names;
  for (const auto& device : pf::ListActiveDevices()) names.push_back(device.builtInKey + "=" + device.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Drivers\\BuiltIn\\A=TST1:", "Drivers\\BuiltIn\\C=TST5:",
                                             "Drivers\\BuiltIn\\D=TST2:", "Drivers\\BuiltIn\\E=TST0:"}));
  // B asked for the name A already has.
  EXPECT_TRUE(Contains(messages_, "failed Drivers\\BuiltIn\\B: the stream name TST1: is already in use"));
  // Active keys are numbered from 01 without gaps: B's was removed and reused.
  EXPECT_EQ(QueryString("Drivers\\Active\\02", "Name"), "TST5:");
  EXPECT_EQ(QueryString("Drivers\\Active\\04", "Name"), "TST0:");
  EXPECT_FALSE(KeyExists("Drivers\\Active\\05"));
}

TEST_F(DeviceManagerTest, LoadsByOrderThenNameWithoutRegardToCase) {
  ASSERT_EQ(Start(BuiltIn("Gamma", "QioTestDrv.dll") + BuiltIn("beta", "QioTestDrv.dll") +
                  BuiltIn("Alpha", "QioTestDrv.dll", Dword("Order", 20)) +
                  BuiltIn("Zed", "QioTestDrv.dll", Dword("Order", 10))),
            4u);
  std::vector<std::string> keys;
  for (const auto& device : pf::ListActiveDevices()) keys.push_back(device.builtInKey + " " + device.activeKey);
  EXPECT_EQ(keys, (std::vector<std::string>{"Drivers\\BuiltIn\\Zed Drivers\\Active\\01",
                                            "Drivers\\BuiltIn\\Alpha Drivers\\Active\\02",
                                            "Drivers\\BuiltIn\\beta Drivers\\Active\\03",
                                            "Drivers\\BuiltIn\\Gamma Drivers\\Active\\04"}));
  EXPECT_EQ(Journal().substr(0, 4 * std::strlen("Init Drivers\\Active\\01\n")),
            "Init Drivers\\Active\\01\nInit Drivers\\Active\\02\nInit Drivers\\Active\\03\nInit Drivers\\Active\\04\n");
}

TEST_F(DeviceManagerTest, ExistingActiveKeysAreNotReused) {
  ASSERT_EQ(Start("[HKEY_LOCAL_MACHINE\\Drivers\\Active\\01]\r\n\"Name\"=\"XYZ1:\"\r\n" +
                  BuiltIn("TST0", "QioTestDrv.dll")),
            1u);
  EXPECT_EQ(pf::ListActiveDevices().at(0).activeKey, "Drivers\\Active\\02");
  EXPECT_EQ(QueryString("Drivers\\Active\\01", "Name"), "XYZ1:");
}

TEST_F(DeviceManagerTest, ModuleNamesResolveWithoutRegardToCase) {
  ASSERT_EQ(Start(BuiltIn("A", "\\Windows\\QIOTESTDRV.DLL") + BuiltIn("B", "qiotestdrv.dll") +
                  BuiltIn("C", "QioTestDrv")),
            3u);
  const auto devices = pf::ListActiveDevices();
  ASSERT_EQ(devices.size(), 3u);
  EXPECT_EQ(devices[0].module, devices[1].module);
  EXPECT_EQ(devices[0].module, devices[2].module);
  // One module, one journal: all three instances were initialised in it.
  const std::string journal = Journal();
  EXPECT_NE(journal.find("Init Drivers\\Active\\03"), std::string::npos);

  EXPECT_EQ(pf::ResolveModule("qIOtESTdRV.dll"), devices[0].module);
  EXPECT_EQ(pf::ResolveModule("C:/Some/Dir/QioTestDrv.Dll"), devices[0].module);
  EXPECT_EQ(pf::ResolveModule("Nothing.dll"), "");
  EXPECT_EQ(pf::ResolveModule(""), "");
  EXPECT_EQ(pf::ResolveModule("\\Windows\\"), "");
}

TEST_F(DeviceManagerTest, ModuleDirectoryDefaultsToThePlatformLibrary) {
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(pf::ModuleDirectory()) / "libqioplatform.so"));
  const std::string own = pf::ModuleDirectory();
  const auto empty = std::filesystem::temp_directory_path() / ("qio-dm-" + std::to_string(pf::GetCurrentProcessId()));
  std::filesystem::create_directories(empty);
  pf::SetModuleDirectory(empty.string());
  EXPECT_EQ(pf::ModuleDirectory(), empty.string());
  EXPECT_EQ(pf::ResolveModule("QioTestDrv.dll"), "");
  EXPECT_EQ(Start(BuiltIn("TST0", "QioTestDrv.dll")), 0u);
  EXPECT_TRUE(Contains(messages_, "not found in " + empty.string()));
  pf::SetModuleDirectory("");
  EXPECT_EQ(pf::ModuleDirectory(), own);
  std::filesystem::remove_all(empty);
}

// ---- load failures -------------------------------------------------------

TEST_F(DeviceManagerTest, MissingModuleRemovesTheActiveKey) {
  EXPECT_EQ(Start(BuiltIn("TST0", "Nothing.dll")), 0u);
  EXPECT_TRUE(Contains(messages_, "failed Drivers\\BuiltIn\\TST0: module \"Nothing.dll\" not found"));
  EXPECT_FALSE(KeyExists("Drivers\\Active\\01"));
  EXPECT_TRUE(pf::ListActiveDevices().empty());
}

TEST_F(DeviceManagerTest, MissingEntryPointRemovesTheKeyAndUnloads) {
  ASSERT_FALSE(ModuleLoaded("libQioTestDrvNoIoc.so"));
  EXPECT_EQ(Start(BuiltIn("TST0", "QioTestDrvNoIoc.dll")), 0u);
  EXPECT_TRUE(Contains(messages_, "lacks the entry point TST_IOControl"));
  EXPECT_FALSE(KeyExists("Drivers\\Active\\01"));
  EXPECT_FALSE(ModuleLoaded("libQioTestDrvNoIoc.so"));
}

TEST_F(DeviceManagerTest, FailedInitRemovesTheKeyAndTheNextDriverTakesIt) {
  EXPECT_EQ(Start(BuiltIn("A", "QioTestDrv.dll", Dword("Order", 1) + Dword("FailInit", 0x1234)) +
                  BuiltIn("B", "QioTestDrv.dll", Dword("Order", 2))),
            1u);
  EXPECT_TRUE(Contains(messages_, "failed Drivers\\BuiltIn\\A: TST_Init refused Drivers\\Active\\01 (error 4660)"));
  const auto devices = pf::ListActiveDevices();
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].builtInKey, "Drivers\\BuiltIn\\B");
  EXPECT_EQ(devices[0].activeKey, "Drivers\\Active\\01");
  EXPECT_EQ(devices[0].name, "TST1:");
  EXPECT_EQ(QueryString("Drivers\\Active\\01", "Key"), "Drivers\\BuiltIn\\B");
  EXPECT_FALSE(KeyExists("Drivers\\Active\\02"));
}

TEST_F(DeviceManagerTest, KeysWithoutDllOrPrefixAreSkipped) {
  EXPECT_EQ(Start("[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\NoDll]\r\n\"Prefix\"=\"TST\"\r\n"
                  "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\NoPrefix]\r\n\"Dll\"=\"QioTestDrv.dll\"\r\n"
                  "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\LongPrefix]\r\n\"Dll\"=\"QioTestDrv.dll\"\r\n"
                  "\"Prefix\"=\"TSTX\"\r\n"
                  "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\DwordDll]\r\n\"Dll\"=dword:1\r\n\"Prefix\"=\"TST\"\r\n" +
                  BuiltIn("BadIndex", "QioTestDrv.dll", Dword("Index", 10))),
            0u);
  EXPECT_TRUE(Contains(messages_, "skipped Drivers\\BuiltIn\\NoDll: no \"Dll\" value"));
  EXPECT_TRUE(Contains(messages_, "skipped Drivers\\BuiltIn\\NoPrefix: no \"Prefix\" value"));
  EXPECT_TRUE(Contains(messages_, "skipped Drivers\\BuiltIn\\LongPrefix: \"Prefix\" \"TSTX\""));
  EXPECT_TRUE(Contains(messages_, "skipped Drivers\\BuiltIn\\DwordDll: \"Dll\" is not a string"));
  EXPECT_TRUE(Contains(messages_, "skipped Drivers\\BuiltIn\\BadIndex: \"Index\" 10"));
  EXPECT_FALSE(KeyExists("Drivers\\Active\\01"));
  EXPECT_EQ(Journal(), "");
}

TEST_F(DeviceManagerTest, NoBuiltInKeyLoadsNothing) {
  EXPECT_EQ(pf::DeviceManagerStart(&messages_), 0u);
  EXPECT_TRUE(Contains(messages_, "no Drivers\\BuiltIn key"));
}

TEST_F(DeviceManagerTest, SecondStartIsRefused) {
  ASSERT_EQ(Start(BuiltIn("TST0", "QioTestDrv.dll")), 1u);
  EXPECT_EQ(pf::DeviceManagerStart(&messages_), 0u);
  EXPECT_TRUE(Contains(messages_, "already running"));
  EXPECT_EQ(pf::ListActiveDevices().size(), 1u);
}

// ---- streams -------------------------------------------------------------

class StreamTest : public DeviceManagerTest {
 protected:
  void SetUp() override {
    DeviceManagerTest::SetUp();
    ASSERT_EQ(Start(BuiltIn("TST0", "QioTestDrv.dll", Dword("Order", 1)) +
                    BuiltIn("TST1", "QioTestDrvMin.dll", Dword("Order", 2)) +
                    BuiltIn("TST2", "QioTestDrv.dll", Dword("Order", 3) + Dword("RefuseOpen", 0x2000000B)) +
                    BuiltIn("TST3", "QioTestDrv.dll", Dword("Order", 4) + Dword("RefuseOpen", 1))),
              4u);
  }
};

TEST_F(StreamTest, OpenByNameWithoutRegardToCase) {
  pf::Handle stream = Open("tst1:");
  ASSERT_NE(stream, pf::kNullHandle);
  EXPECT_TRUE(pf::IsStreamHandle(stream));
  EXPECT_NE(Journal().find("Open TST1: 0xc0000000\n"), std::string::npos);
  EXPECT_TRUE(pf::CloseHandle(stream));
  EXPECT_FALSE(pf::IsStreamHandle(stream));
}

TEST_F(StreamTest, OpenOfAMissingDeviceFails) {
  for (const char* name : {"TST9:", "TST1", "", "XYZ1:", "TST1:x"}) {
    pf::SetLastError(0);
    EXPECT_EQ(Open(name), pf::kNullHandle) << name;
    EXPECT_EQ(pf::GetLastError(), pf::kErrorFileNotFound) << name;
  }
}

TEST_F(StreamTest, RefusedOpenKeepsTheDriversError) {
  EXPECT_EQ(Open("TST3:"), pf::kNullHandle);
  EXPECT_EQ(pf::GetLastError(), 0x2000000Bu);
  EXPECT_EQ(Open("TST4:"), pf::kNullHandle);
  EXPECT_EQ(pf::GetLastError(), pf::kErrorAccessDenied);
  EXPECT_EQ(pf::OpenHandleCount(), baseHandles_);
}

TEST_F(StreamTest, ControlRequestRoundTrip) {
  pf::Handle stream = Open("TST1:");
  ASSERT_NE(stream, pf::kNullHandle);
  const char in[] = "hello";
  char out[16] = {};
  std::uint32_t bytes = 99;
  pf::SetLastError(0);
  EXPECT_TRUE(pf::DeviceIoControl(stream, TST_IOCTL_ECHO, in, 5, out, sizeof out, &bytes));
  EXPECT_EQ(bytes, 5u);
  EXPECT_EQ(std::string(out, 5), "hello");

  // The driver's error stays the caller's last error.
  const std::uint32_t code = 0x2000000A;
  EXPECT_FALSE(pf::DeviceIoControl(stream, TST_IOCTL_FAIL, &code, sizeof code, nullptr, 0, &bytes));
  EXPECT_EQ(pf::GetLastError(), 0x2000000Au);
  EXPECT_EQ(bytes, 0u);
  EXPECT_FALSE(pf::DeviceIoControl(stream, TST_IOCTL_ECHO, in, 5, out, 2, &bytes));
  EXPECT_EQ(pf::GetLastError(), pf::kErrorInsufficientBuffer);
  EXPECT_FALSE(pf::DeviceIoControl(stream, 0x77, nullptr, 0, nullptr, 0, nullptr));
  EXPECT_EQ(pf::GetLastError(), pf::kErrorNotSupported);

  // A status code of the driver's own comes back unchanged.
  const std::uint32_t status = 7;
  EXPECT_EQ(pf::DeviceIoControlResult(stream, TST_IOCTL_STATUS, &status, sizeof status, nullptr, 0, &bytes), 7);
  EXPECT_TRUE(pf::DeviceIoControl(stream, TST_IOCTL_STATUS, &status, sizeof status, nullptr, 0, nullptr));
  EXPECT_TRUE(pf::CloseHandle(stream));
}

TEST_F(StreamTest, CloseRunsTheDriversCloseOnce) {
  pf::Handle stream = Open("TST1:");
  ASSERT_NE(stream, pf::kNullHandle);
  EXPECT_TRUE(pf::CloseHandle(stream));
  EXPECT_NE(Journal().find("Close TST1:\n"), std::string::npos);
  EXPECT_FALSE(pf::CloseHandle(stream));
  EXPECT_EQ(pf::GetLastError(), pf::kErrorInvalidHandle);
  const std::string journal = Journal();
  EXPECT_EQ(journal.find("Close TST1:"), journal.rfind("Close TST1:"));
  EXPECT_EQ(pf::OpenHandleCount(), baseHandles_);
}

TEST_F(StreamTest, BadHandlesAreRefused) {
  pf::Handle stream = Open("TST1:");
  ASSERT_NE(stream, pf::kNullHandle);
  ASSERT_TRUE(pf::CloseHandle(stream));
  pf::Handle event = pf::CreateEvent(false, false);
  ASSERT_NE(event, pf::kNullHandle);
  char buffer[4] = {};
  for (pf::Handle bad : {stream, event, pf::kNullHandle, pf::Handle{0x30001234}, pf::kCurrentThread}) {
    std::uint32_t bytes = 5;
    pf::SetLastError(0);
    EXPECT_FALSE(pf::DeviceIoControl(bad, TST_IOCTL_ECHO, nullptr, 0, nullptr, 0, &bytes));
    EXPECT_EQ(pf::GetLastError(), pf::kErrorInvalidHandle);
    EXPECT_EQ(pf::ReadFile(bad, buffer, 4), pf::kStreamError);
    EXPECT_EQ(pf::GetLastError(), pf::kErrorInvalidHandle);
    EXPECT_EQ(pf::WriteFile(bad, buffer, 4), pf::kStreamError);
    EXPECT_EQ(pf::SetFilePointer(bad, 0, 0), pf::kStreamError);
    EXPECT_EQ(pf::GetLastError(), pf::kErrorInvalidHandle);
    EXPECT_FALSE(pf::IsStreamHandle(bad));
  }
  EXPECT_TRUE(pf::CloseHandle(event));
}

TEST_F(StreamTest, ReadWriteAndSeekReachTheDriver) {
  pf::Handle stream = Open("TST1:");
  ASSERT_NE(stream, pf::kNullHandle);
  EXPECT_EQ(pf::WriteFile(stream, "abcdef", 6), 6u);
  EXPECT_EQ(pf::SetFilePointer(stream, 0, 0), 0u);
  char buffer[8] = {};
  EXPECT_EQ(pf::ReadFile(stream, buffer, 4), 4u);
  EXPECT_EQ(std::string(buffer, 4), "abcd");
  EXPECT_EQ(pf::SetFilePointer(stream, -1, 2), 5u);
  EXPECT_EQ(pf::ReadFile(stream, buffer, 8), 1u);
  EXPECT_EQ(buffer[0], 'f');
  EXPECT_EQ(pf::SetFilePointer(stream, -10, 1), pf::kStreamError);
  EXPECT_EQ(pf::ReadFile(stream, nullptr, 4), pf::kStreamError);
  EXPECT_EQ(pf::GetLastError(), pf::kErrorInvalidParameter);
  EXPECT_EQ(pf::WriteFile(stream, nullptr, 1), pf::kStreamError);
  EXPECT_EQ(pf::GetLastError(), pf::kErrorInvalidParameter);
  EXPECT_TRUE(pf::CloseHandle(stream));

  // A second open of the same device shares its store, from position 0.
  stream = Open("TST1:");
  EXPECT_EQ(pf::ReadFile(stream, buffer, 3), 3u);
  EXPECT_EQ(std::string(buffer, 3), "abc");
  EXPECT_TRUE(pf::CloseHandle(stream));
}

TEST_F(StreamTest, MissingOptionalEntriesAreNotSupported) {
  pf::Handle stream = Open("TST2:");  // the module without Read, Write, Seek
  ASSERT_NE(stream, pf::kNullHandle);
  char buffer[4] = {};
  EXPECT_EQ(pf::ReadFile(stream, buffer, 4), pf::kStreamError);
  EXPECT_EQ(pf::GetLastError(), pf::kErrorNotSupported);
  EXPECT_EQ(pf::WriteFile(stream, buffer, 4), pf::kStreamError);
  EXPECT_EQ(pf::GetLastError(), pf::kErrorNotSupported);
  EXPECT_EQ(pf::SetFilePointer(stream, 0, 0), pf::kStreamError);
  EXPECT_EQ(pf::GetLastError(), pf::kErrorNotSupported);
  EXPECT_TRUE(pf::CloseHandle(stream));
}

TEST_F(StreamTest, QueryReachesTheDriverWithItsDeviceContextWithoutAnOpen) {
  char record[16];
  std::memset(record, 'x', sizeof record);
  pf::SetLastError(99);
  EXPECT_EQ(pf::QueryDevice("tst1:", "QueryState", record, sizeof record), 1);
  EXPECT_EQ(pf::GetLastError(), pf::kErrorSuccess);
  EXPECT_STREQ(record, "TST1:");
  EXPECT_NE(Journal().find("QueryState TST1:\n"), std::string::npos);
  EXPECT_EQ(Journal().find("Open "), std::string::npos);
  // Cut to the record's size by the driver.
  EXPECT_EQ(pf::QueryDevice("TST1:", "QueryState", record, 3), 1);
  EXPECT_STREQ(record, "TS");

  // The minimal driver has no such entry; no device has that name.
  EXPECT_EQ(pf::QueryDevice("TST2:", "QueryState", record, sizeof record), 0);
  EXPECT_EQ(pf::GetLastError(), pf::kErrorProcNotFound);
  EXPECT_EQ(pf::QueryDevice("TST1:", "Missing", record, sizeof record), 0);
  EXPECT_EQ(pf::GetLastError(), pf::kErrorProcNotFound);
  EXPECT_EQ(pf::QueryDevice("TST9:", "QueryState", record, sizeof record), 0);
  EXPECT_EQ(pf::GetLastError(), pf::kErrorFileNotFound);
  // A device that has been stopped takes no more queries.
  pf::DeviceManagerStop();
  EXPECT_EQ(pf::QueryDevice("TST1:", "QueryState", record, sizeof record), 0);
  EXPECT_EQ(pf::GetLastError(), pf::kErrorFileNotFound);
}

TEST_F(StreamTest, PowerDownLastLoadedFirstAndUpInLoadOrder) {
  pf::DeviceManagerPowerDown();
  pf::DeviceManagerPowerUp();
  std::string journal = Journal();
  journal = journal.substr(journal.find("Power"));
  EXPECT_EQ(journal,
            "PowerDown TST4:\nPowerDown TST3:\nPowerDown TST1:\nPowerUp TST1:\nPowerUp TST3:\nPowerUp TST4:\n");
}

TEST_F(StreamTest, ShutdownClosesStreamsThenDeinitsAndRemovesActiveKeys) {
  pf::Handle first = Open("TST1:");
  pf::Handle second = Open("TST1:");
  ASSERT_NE(first, pf::kNullHandle);
  ASSERT_NE(second, pf::kNullHandle);
  const std::size_t journalBefore = Journal().size();
  std::vector<std::string> messages;
  EXPECT_EQ(pf::DeviceManagerStop(&messages), 0u);
  EXPECT_EQ(Journal().substr(journalBefore),
            "Close TST1:\nClose TST1:\nDeinit TST4:\nDeinit TST3:\nDeinit TST1:\n");
  EXPECT_TRUE(Contains(messages, "unloaded TST1:"));
  EXPECT_FALSE(pf::IsStreamHandle(first));
  EXPECT_FALSE(pf::DeviceIoControl(second, TST_IOCTL_ECHO, nullptr, 0, nullptr, 0, nullptr));
  EXPECT_EQ(pf::OpenHandleCount(), baseHandles_);
  EXPECT_TRUE(pf::ListActiveDevices().empty());
  for (const char* key : {"Drivers\\Active\\01", "Drivers\\Active\\02", "Drivers\\Active\\03"}) {
    EXPECT_FALSE(KeyExists(key)) << key;
  }
  EXPECT_TRUE(KeyExists("Drivers\\BuiltIn\\TST0"));
  EXPECT_FALSE(ModuleLoaded("libQioTestDrvMin.so"));
  EXPECT_EQ(Open("TST1:"), pf::kNullHandle);
  EXPECT_EQ(pf::GetLastError(), pf::kErrorFileNotFound);

  // A later start loads the same keys again into fresh active keys.
  messages_.clear();
  EXPECT_EQ(pf::DeviceManagerStart(&messages_), 4u);
  EXPECT_EQ(pf::ListActiveDevices().at(0).activeKey, "Drivers\\Active\\01");
}

TEST_F(StreamTest, CloseDuringARequestWaitsForItToReturn) {
  pf::Handle stream = Open("TST1:");
  pf::Handle release = pf::CreateEvent(true, false);
  ASSERT_NE(stream, pf::kNullHandle);
  ASSERT_NE(release, pf::kNullHandle);
  std::atomic<int> result{-1};
  std::thread request([&] {
    const std::uint32_t event = release;
    result = pf::DeviceIoControlResult(stream, TST_IOCTL_BLOCK, &event, sizeof event, nullptr, 0, nullptr);
  });
  const std::uint64_t deadline = pf::NowNs() + 10'000'000'000ull;
  while (Journal().find("IOControl TST1: 0x5") == std::string::npos && pf::NowNs() < deadline) pf::Sleep(1);
  ASSERT_NE(Journal().find("IOControl TST1: 0x5"), std::string::npos);

  EXPECT_TRUE(pf::CloseHandle(stream));
  EXPECT_FALSE(pf::DeviceIoControl(stream, TST_IOCTL_ECHO, nullptr, 0, nullptr, 0, nullptr));
  EXPECT_EQ(pf::GetLastError(), pf::kErrorInvalidHandle);
  EXPECT_EQ(Journal().find("Close TST1:"), std::string::npos);  // the driver is still in the request

  pf::SetEvent(release);
  request.join();
  EXPECT_EQ(result.load(), 1);
  const std::string journal = Journal();
  ASSERT_NE(journal.find("Close TST1:"), std::string::npos);
  EXPECT_LT(journal.find("Unblocked TST1:"), journal.find("Close TST1:"));
  EXPECT_TRUE(pf::CloseHandle(release));
}

TEST_F(StreamTest, ConcurrentRequestsOpensAndCloses) {
  pf::Handle shared = Open("TST1:");
  ASSERT_NE(shared, pf::kNullHandle);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 100; ++i) {
        const std::uint32_t value = static_cast<std::uint32_t>(t * 1000 + i);
        std::uint32_t echoed = 0;
        std::uint32_t bytes = 0;
        if (!pf::DeviceIoControl(shared, TST_IOCTL_ECHO, &value, 4, &echoed, 4, &bytes) || echoed != value ||
            bytes != 4) {
          ++failures;
        }
        pf::Handle own = Open(t % 2 == 0 ? "TST1:" : "tst2:");
        if (own == pf::kNullHandle || !pf::CloseHandle(own)) ++failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_TRUE(pf::CloseHandle(shared));
  EXPECT_EQ(pf::OpenHandleCount(), baseHandles_);
}

}  // namespace
