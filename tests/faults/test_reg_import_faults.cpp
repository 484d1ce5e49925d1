// A registry text import that runs out of memory part-way changes nothing:
// each allocation of an import that creates, replaces and deletes keys and
// values fails in turn, and every failed run leaves the registry (and a key
// handle opened into a subtree the text deletes) exactly as before.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fault_sweep.h"
#include "qio/platform/errors.h"
#include "qio/platform/faults.h"
#include "qio/platform/registry.h"

namespace pf = qio::platform;

namespace {

constexpr std::string_view kExisting =
    "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S0]\r\n"
    "\"Prefix\"=\"Q62\"\r\n"
    "\"IoBase\"=dword:300\r\n"
    "\"Keep\"=\"as it was\"\r\n"
    "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S1]\r\n"
    "\"IoBase\"=dword:140\r\n"
    "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S1\\Sub]\r\n"
    "\"Deep\"=hex:01,02,03\r\n"
    "[HKEY_LOCAL_MACHINE\\Other]\r\n"
    "\"List\"=multi_sz:\"a\",\"b\"\r\n";

// Every kind of change: a subtree deleted and made again, values replaced
// (one by another type), deleted and added, keys added at several depths.
constexpr std::string_view kChanges =
    "Windows Registry Editor Version 5.00\r\n"
    "[-HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S1]\r\n"
    "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S0]\r\n"
    "\"IoBase\"=dword:340\r\n"
    "\"Prefix\"=hex:51,36,32\r\n"
    "\"Keep\"=-\r\n"
    "\"Irq\"=dword:5\r\n"
    "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S1\\Sub\\Deeper]\r\n"
    "\"New\"=\"made again\"\r\n"
    "[-HKEY_LOCAL_MACHINE\\Other]\r\n"
    "[HKEY_LOCAL_MACHINE\\Other]\r\n"
    "@=\"default\"\r\n";

class RegImportFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    pf::RegClearAll();
    std::string error;
    ASSERT_TRUE(pf::RegImportText(kExisting, &error)) << error;
  }
  void TearDown() override {
    pf::DisarmFaults();
    pf::RegClearAll();
  }
};

TEST_F(RegImportFaults, EveryFailedAllocationLeavesTheRegistryAsItWas) {
  const std::string before = pf::RegExportText();
  pf::RegKey deep = pf::kNullHandle;
  ASSERT_EQ(pf::RegOpenKey(pf::kLocalMachine, "Drivers\\BuiltIn\\ZQS5162S1\\Sub", &deep), pf::kErrorSuccess);

  std::string error;
  const std::uint64_t failed = qio::test::SweepFaults(
      pf::FaultKind::Allocation, [&] { return pf::RegImportText(kChanges, &error); },
      [&](std::uint64_t n, bool imported, bool fired) {
        if (!fired) {
          EXPECT_TRUE(imported) << error;
          return;
        }
        ASSERT_FALSE(imported) << "allocation " << n;
        EXPECT_EQ(error, "out of memory") << "allocation " << n;
        ASSERT_EQ(pf::RegExportText(), before) << "allocation " << n;
        // A handle into the subtree the text deletes still works.
        std::uint32_t type = 0;
        std::uint32_t size = 0;
        EXPECT_EQ(pf::RegQueryValue(deep, "Deep", &type, nullptr, &size), pf::kErrorSuccess) << "allocation " << n;
      });
  EXPECT_GT(failed, 20u);

  // The run in which nothing failed made every change, and the deleted
  // subtree's handle now sees its key gone.
  EXPECT_EQ(pf::RegExportText(),
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Drivers]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S0]\r\n"
            "\"Prefix\"=hex:51,36,32\r\n"
            "\"IoBase\"=dword:00000340\r\n"
            "\"Irq\"=dword:00000005\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S1]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S1\\Sub]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S1\\Sub\\Deeper]\r\n"
            "\"New\"=\"made again\"\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Other]\r\n"
            "@=\"default\"\r\n");
  std::uint32_t size = 0;
  EXPECT_EQ(pf::RegQueryValue(deep, "Deep", nullptr, nullptr, &size), pf::kErrorInvalidHandle);
  EXPECT_EQ(pf::RegCloseKey(deep), pf::kErrorSuccess);
}

TEST_F(RegImportFaults, ClosingKeysNeedsNoMemory) {
  // Drivers close keys in destructors: a close that runs short of memory
  // must still close the key and report success, not throw.
  std::vector<pf::RegKey> keys(600);
  for (pf::RegKey& key : keys) {
    ASSERT_EQ(pf::RegOpenKey(pf::kLocalMachine, "Drivers\\BuiltIn\\ZQS5162S0", &key), pf::kErrorSuccess);
  }
  pf::ArmFault(pf::FaultKind::Allocation, 1, pf::FaultScope::CallingThread, true);
  std::size_t closed = 0;
  for (pf::RegKey key : keys) closed += pf::RegCloseKey(key) == pf::kErrorSuccess ? 1 : 0;
  pf::DisarmFaults();
  EXPECT_EQ(closed, keys.size());
  std::uint32_t size = 0;
  EXPECT_EQ(pf::RegQueryValue(keys.back(), "IoBase", nullptr, nullptr, &size), pf::kErrorInvalidHandle);
  // The table goes on: keys open and close as before.
  pf::RegKey again = pf::kNullHandle;
  ASSERT_EQ(pf::RegOpenKey(pf::kLocalMachine, "Drivers\\BuiltIn\\ZQS5162S0", &again), pf::kErrorSuccess);
  EXPECT_EQ(pf::RegQueryValue(again, "IoBase", nullptr, nullptr, &size), pf::kErrorSuccess);
  EXPECT_EQ(pf::RegCloseKey(again), pf::kErrorSuccess);
}

}  // namespace
