// The hosted registry through its public calls: key handles, typed values,
// the target's buffer rules, enumeration, deletion and concurrent use.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "qio/platform/errors.h"
#include "qio/platform/registry.h"

namespace qio::platform {
namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { RegClearAll(); }
  void TearDown() override { RegClearAll(); }

  static RegKey Create(std::string_view path) {
    RegKey key = kNullHandle;
    EXPECT_EQ(RegCreateKey(kLocalMachine, path, &key, nullptr), kErrorSuccess) << path;
    return key;
  }

  static std::vector<std::string> SubKeys(RegKey key) {
    std::vector<std::string> names;
    for (std::uint32_t i = 0;; ++i) {
      char name[256];
      std::uint32_t chars = sizeof name;
      const std::uint32_t status = RegEnumKey(key, i, name, &chars);
      if (status == kErrorNoMoreItems) break;
      EXPECT_EQ(status, kErrorSuccess);
      names.emplace_back(name, chars);
    }
    return names;
  }
};

TEST_F(RegistryTest, BadHandlesAreRefusedByEveryCall) {
  RegKey key = Create("Drivers");
  ASSERT_EQ(RegCloseKey(key), kErrorSuccess);
  const std::array<RegKey, 6> bad = {key, kNullHandle, 0x40000005u, 0x4FFFFFFFu, 0x10000001u, kCurrentThread};
  for (RegKey handle : bad) {
    SCOPED_TRACE(handle);
    RegKey out = 1;
    std::uint32_t size = 4;
    std::uint32_t dword = 0;
    char name[16];
    std::uint32_t chars = sizeof name;
    EXPECT_EQ(RegOpenKey(handle, "", &out), kErrorInvalidHandle);
    EXPECT_EQ(out, kNullHandle);
    EXPECT_EQ(RegCreateKey(handle, "X", &out, nullptr), kErrorInvalidHandle);
    EXPECT_EQ(RegQueryValue(handle, "v", nullptr, &dword, &size), kErrorInvalidHandle);
    EXPECT_EQ(RegSetDword(handle, "v", 1), kErrorInvalidHandle);
    EXPECT_EQ(RegDeleteValue(handle, "v"), kErrorInvalidHandle);
    EXPECT_EQ(RegEnumKey(handle, 0, name, &chars), kErrorInvalidHandle);
    EXPECT_EQ(RegDeleteKey(handle, "X"), kErrorInvalidHandle);
    EXPECT_EQ(RegCloseKey(handle), kErrorInvalidHandle);
  }
  // Nothing was created through a bad parent; the root itself never closes.
  EXPECT_EQ(SubKeys(kLocalMachine), std::vector<std::string>{"Drivers"});
  EXPECT_EQ(RegCloseKey(kLocalMachine), kErrorSuccess);
  EXPECT_EQ(RegSetDword(kLocalMachine, "Root", 7), kErrorSuccess);
}

TEST_F(RegistryTest, ClosedHandleStaysInvalidWhenItsSlotIsReused) {
  std::vector<RegKey> old;
  for (int i = 0; i < 300; ++i) old.push_back(Create("A"));
  ASSERT_EQ(old[0] & 0xF0000000u, 0x40000000u);
  for (RegKey key : old) ASSERT_EQ(RegCloseKey(key), kErrorSuccess);
  std::vector<RegKey> later;
  for (int i = 0; i < 300; ++i) later.push_back(Create("A"));
  // The slot of the first handle was reused (same low bits), under a new value.
  EXPECT_TRUE(std::any_of(later.begin(), later.end(),
                          [&](RegKey key) { return (key & 0xFFFFu) == (old[0] & 0xFFFFu); }));
  for (RegKey key : later) EXPECT_EQ(std::count(old.begin(), old.end(), key), 0);
  EXPECT_EQ(RegSetDword(old[0], "v", 1), kErrorInvalidHandle);
  EXPECT_EQ(RegCloseKey(old[0]), kErrorInvalidHandle);
  for (RegKey key : later) EXPECT_EQ(RegCloseKey(key), kErrorSuccess);
}

TEST_F(RegistryTest, FullHandleTableIsAnErrorNotACrash) {
  std::vector<RegKey> keys;
  RegKey key = kNullHandle;
  std::uint32_t status = kErrorSuccess;
  while ((status = RegOpenKey(kLocalMachine, "", &key)) == kErrorSuccess) keys.push_back(key);
  EXPECT_EQ(status, kErrorNotEnoughMemory);
  EXPECT_EQ(key, kNullHandle);
  EXPECT_EQ(keys.size(), 0x10000u);
  // A failed create leaves no half-made key behind.
  EXPECT_EQ(RegCreateKey(kLocalMachine, "New", &key, nullptr), kErrorNotEnoughMemory);
  EXPECT_EQ(RegOpenKey(kLocalMachine, "", &key), kErrorNotEnoughMemory);
  ASSERT_EQ(RegCloseKey(keys.back()), kErrorSuccess);
  keys.pop_back();
  EXPECT_EQ(RegOpenKey(kLocalMachine, "", &key), kErrorSuccess);
  EXPECT_TRUE(SubKeys(kLocalMachine).empty());
}

TEST_F(RegistryTest, CreateReportsCreatedOrOpenedAndMakesParents) {
  RegKey key = kNullHandle;
  bool created = false;
  ASSERT_EQ(RegCreateKey(kLocalMachine, "Drivers\\BuiltIn\\Board0", &key, &created), kErrorSuccess);
  EXPECT_TRUE(created);
  RegKey again = kNullHandle;
  ASSERT_EQ(RegCreateKey(kLocalMachine, "DRIVERS\\builtin\\BOARD0", &again, &created), kErrorSuccess);
  EXPECT_FALSE(created);
  EXPECT_NE(again, key);
  ASSERT_EQ(RegSetDword(key, "Irq", 5), kErrorSuccess);
  std::uint32_t irq = 0;
  EXPECT_EQ(RegQueryDword(again, "IRQ", &irq), kErrorSuccess);
  EXPECT_EQ(irq, 5u);
  RegKey parent = kNullHandle;
  ASSERT_EQ(RegOpenKey(kLocalMachine, "drivers", &parent), kErrorSuccess);
  EXPECT_EQ(SubKeys(parent), std::vector<std::string>{"BuiltIn"});
  EXPECT_EQ(SubKeys(kLocalMachine), std::vector<std::string>{"Drivers"});
}

TEST_F(RegistryTest, OpenOfAMissingKeyIsFileNotFound) {
  Create("Drivers");
  RegKey key = 123;
  EXPECT_EQ(RegOpenKey(kLocalMachine, "Drivers\\Missing", &key), kErrorFileNotFound);
  EXPECT_EQ(key, kNullHandle);
  EXPECT_EQ(RegOpenKey(kLocalMachine, "Drivers", nullptr), kErrorInvalidParameter);
  EXPECT_EQ(SubKeys(kLocalMachine), std::vector<std::string>{"Drivers"});
}

TEST_F(RegistryTest, PathRules) {
  RegKey key = kNullHandle;
  EXPECT_EQ(RegCreateKey(kLocalMachine, "\\Drivers\\Active\\", &key, nullptr), kErrorSuccess);
  EXPECT_EQ(RegOpenKey(kLocalMachine, "Drivers\\Active", &key), kErrorSuccess);
  const std::array<std::string_view, 5> bad = {"Drivers\\\\Active", "\\\\", "A\\\\", "A\nB",
                                                std::string_view("A\0B", 3)};
  for (std::string_view path : bad) {
    EXPECT_EQ(RegCreateKey(kLocalMachine, path, &key, nullptr), kErrorInvalidParameter) << path;
    EXPECT_EQ(RegOpenKey(kLocalMachine, path, &key), kErrorInvalidParameter) << path;
  }
  EXPECT_EQ(RegCreateKey(kLocalMachine, std::string(256, 'k'), &key, nullptr), kErrorInvalidParameter);
  EXPECT_EQ(RegCreateKey(kLocalMachine, std::string(255, 'k'), &key, nullptr), kErrorSuccess);
  std::string deep = "D";
  for (int i = 1; i < 512; ++i) deep += "\\D";
  EXPECT_EQ(RegCreateKey(kLocalMachine, deep, &key, nullptr), kErrorSuccess);
  EXPECT_EQ(RegCreateKey(key, "OneTooMany", &key, nullptr), kErrorInvalidParameter);
  EXPECT_EQ(SubKeys(kLocalMachine), (std::vector<std::string>{"Drivers", std::string(255, 'k'), "D"}));
}

TEST_F(RegistryTest, QueryFollowsTheBufferSizeRule) {
  RegKey key = Create("K");
  const std::uint8_t bytes[5] = {1, 2, 3, 4, 5};
  ASSERT_EQ(RegSetValue(key, "Blob", kRegBinary, bytes, sizeof bytes), kErrorSuccess);
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  EXPECT_EQ(RegQueryValue(key, "blob", &type, nullptr, &size), kErrorSuccess);
  EXPECT_EQ(type, kRegBinary);
  EXPECT_EQ(size, 5u);
  std::array<std::uint8_t, 8> buffer;
  buffer.fill(0xAA);
  size = 4;
  EXPECT_EQ(RegQueryValue(key, "Blob", &type, buffer.data(), &size), kErrorMoreData);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(buffer[0], 0xAA);
  size = 5;
  EXPECT_EQ(RegQueryValue(key, "Blob", nullptr, buffer.data(), &size), kErrorSuccess);
  EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 6),
            (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 0xAA}));
  EXPECT_EQ(RegQueryValue(key, "Blob", &type, buffer.data(), nullptr), kErrorInvalidParameter);
  EXPECT_EQ(RegQueryValue(key, "Blob", &type, nullptr, nullptr), kErrorSuccess);
  size = 8;
  EXPECT_EQ(RegQueryValue(key, "Missing", &type, buffer.data(), &size), kErrorFileNotFound);
}

TEST_F(RegistryTest, SetStoresExactlyTheGivenBytesAndType) {
  RegKey key = Create("K");
  const std::uint8_t three[3] = {1, 2, 3};
  EXPECT_EQ(RegSetValue(key, "D", kRegDword, three, 3), kErrorInvalidParameter);
  EXPECT_EQ(RegSetValue(key, "D", kRegBinary, nullptr, 3), kErrorInvalidParameter);
  EXPECT_EQ(RegSetValue(key, "Bad\nName", kRegBinary, three, 3), kErrorInvalidParameter);
  std::uint32_t size = 0;
  EXPECT_EQ(RegQueryValue(key, "D", nullptr, nullptr, &size), kErrorFileNotFound);
  // An odd-sized "string" is stored as given; replacing changes type and bytes.
  ASSERT_EQ(RegSetValue(key, "D", kRegString, three, 3), kErrorSuccess);
  ASSERT_EQ(RegSetValue(key, "d", 11, three, 2), kErrorSuccess);
  std::uint32_t type = 0;
  std::uint8_t out[4] = {};
  size = sizeof out;
  EXPECT_EQ(RegQueryValue(key, "D", &type, out, &size), kErrorSuccess);
  EXPECT_EQ(type, 11u);
  EXPECT_EQ(size, 2u);
  ASSERT_EQ(RegSetValue(key, "", kRegBinary, nullptr, 0), kErrorSuccess);
  EXPECT_EQ(RegQueryValue(key, "", &type, nullptr, &size), kErrorSuccess);
  EXPECT_EQ(size, 0u);
}

TEST_F(RegistryTest, StringsAndDwordsAreStoredAsTheTargetStoresThem) {
  RegKey key = Create("K");
  ASSERT_EQ(RegSetString(key, "Prefix", "Q62"), kErrorSuccess);
  ASSERT_EQ(RegSetDword(key, "IoBase", 0x12345678), kErrorSuccess);
  std::uint8_t raw[16] = {};
  std::uint32_t type = 0;
  std::uint32_t size = sizeof raw;
  ASSERT_EQ(RegQueryValue(key, "Prefix", &type, raw, &size), kErrorSuccess);
  EXPECT_EQ(type, kRegString);
  EXPECT_EQ(std::vector<std::uint8_t>(raw, raw + size), (std::vector<std::uint8_t>{'Q', 0, '6', 0, '2', 0, 0, 0}));
  size = sizeof raw;
  ASSERT_EQ(RegQueryValue(key, "IoBase", &type, raw, &size), kErrorSuccess);
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(std::vector<std::uint8_t>(raw, raw + size), (std::vector<std::uint8_t>{0x78, 0x56, 0x34, 0x12}));

  const std::string text = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80";
  ASSERT_EQ(RegSetString(key, "Text", text), kErrorSuccess);
  std::string back;
  EXPECT_EQ(RegQueryString(key, "TEXT", &back), kErrorSuccess);
  EXPECT_EQ(back, text);
  std::uint32_t dword = 0;
  EXPECT_EQ(RegQueryDword(key, "Text", &dword), kErrorInvalidData);
  EXPECT_EQ(RegQueryString(key, "IoBase", &back), kErrorInvalidData);
  EXPECT_EQ(RegQueryDword(key, "Missing", &dword), kErrorFileNotFound);
  EXPECT_EQ(RegQueryString(key, "Text", nullptr), kErrorInvalidParameter);
  // A string is read up to its first terminator.
  const std::uint8_t twoStrings[] = {'a', 0, 0, 0, 'b', 0, 0, 0};
  ASSERT_EQ(RegSetValue(key, "Two", kRegString, twoStrings, sizeof twoStrings), kErrorSuccess);
  EXPECT_EQ(RegQueryString(key, "Two", &back), kErrorSuccess);
  EXPECT_EQ(back, "a");
}

TEST_F(RegistryTest, EnumerationKeepsCreationOrderAndCaseAndSkipsWhatDoesNotFit) {
  RegKey key = Create("Root");
  for (std::string_view name : {"Zeta", "alpha", "LongerName"}) {
    RegKey child = kNullHandle;
    ASSERT_EQ(RegCreateKey(key, name, &child, nullptr), kErrorSuccess);
  }
  EXPECT_EQ(SubKeys(key), (std::vector<std::string>{"Zeta", "alpha", "LongerName"}));
  char name[6];
  std::fill(std::begin(name), std::end(name), '#');
  std::uint32_t chars = sizeof name;
  EXPECT_EQ(RegEnumKey(key, 0, name, &chars), kErrorSuccess);
  EXPECT_EQ(std::string(name), "Zeta");
  EXPECT_EQ(chars, 4u);
  chars = sizeof name;
  EXPECT_EQ(RegEnumKey(key, 2, name, &chars), kErrorMoreData);
  EXPECT_EQ(chars, 11u);  // the capacity needed, terminator included
  EXPECT_EQ(std::string(name), "Zeta");
  chars = 5;  // "alpha" needs 6
  EXPECT_EQ(RegEnumKey(key, 1, name, &chars), kErrorMoreData);
  chars = sizeof name;
  EXPECT_EQ(RegEnumKey(key, 1, name, &chars), kErrorSuccess);
  EXPECT_EQ(std::string(name), "alpha");
  chars = sizeof name;
  EXPECT_EQ(RegEnumKey(key, 3, name, &chars), kErrorNoMoreItems);
  EXPECT_EQ(RegEnumKey(key, 0, nullptr, &chars), kErrorInvalidParameter);
  EXPECT_EQ(RegEnumKey(key, 0, name, nullptr), kErrorInvalidParameter);
}

TEST_F(RegistryTest, DeleteKeyRemovesTheSubtreeAndInvalidatesItsHandles) {
  RegKey board = Create("Drivers\\BuiltIn\\Board0");
  RegKey inner = Create("Drivers\\BuiltIn\\Board0\\Inner");
  RegKey builtIn = Create("Drivers\\BuiltIn");
  Create("Drivers\\Active");
  ASSERT_EQ(RegSetDword(board, "Irq", 5), kErrorSuccess);
  EXPECT_EQ(RegDeleteKey(kLocalMachine, "drivers\\builtin"), kErrorSuccess);
  RegKey key = kNullHandle;
  EXPECT_EQ(RegOpenKey(kLocalMachine, "Drivers\\BuiltIn\\Board0", &key), kErrorFileNotFound);
  EXPECT_EQ(SubKeys(kLocalMachine), std::vector<std::string>{"Drivers"});
  RegKey drivers = kNullHandle;
  ASSERT_EQ(RegOpenKey(kLocalMachine, "Drivers", &drivers), kErrorSuccess);
  EXPECT_EQ(SubKeys(drivers), std::vector<std::string>{"Active"});
  for (RegKey stale : {board, inner, builtIn}) {
    std::uint32_t irq = 0;
    EXPECT_EQ(RegQueryDword(stale, "Irq", &irq), kErrorInvalidHandle);
    EXPECT_EQ(RegSetDword(stale, "Irq", 1), kErrorInvalidHandle);
    EXPECT_EQ(RegCreateKey(stale, "X", &key, nullptr), kErrorInvalidHandle);
  }
  // A key made again under the old name is a new, empty key.
  RegKey fresh = Create("Drivers\\BuiltIn\\Board0");
  std::uint32_t irq = 0;
  EXPECT_EQ(RegQueryDword(fresh, "Irq", &irq), kErrorFileNotFound);
  EXPECT_EQ(RegQueryDword(board, "Irq", &irq), kErrorInvalidHandle);
  EXPECT_EQ(RegCloseKey(board), kErrorSuccess);
  EXPECT_EQ(RegDeleteKey(kLocalMachine, "Drivers\\Missing"), kErrorFileNotFound);
  EXPECT_EQ(RegDeleteKey(kLocalMachine, ""), kErrorAccessDenied);
  EXPECT_EQ(RegDeleteKey(fresh, ""), kErrorSuccess);
  EXPECT_EQ(RegOpenKey(kLocalMachine, "Drivers\\BuiltIn\\Board0", &key), kErrorFileNotFound);
}

TEST_F(RegistryTest, DeleteValue) {
  RegKey key = Create("K");
  ASSERT_EQ(RegSetDword(key, "Irq", 5), kErrorSuccess);
  ASSERT_EQ(RegSetDword(key, "Order", 0), kErrorSuccess);
  EXPECT_EQ(RegDeleteValue(key, "IRQ"), kErrorSuccess);
  EXPECT_EQ(RegDeleteValue(key, "Irq"), kErrorFileNotFound);
  std::uint32_t value = 1;
  EXPECT_EQ(RegQueryDword(key, "Irq", &value), kErrorFileNotFound);
  EXPECT_EQ(RegQueryDword(key, "Order", &value), kErrorSuccess);
  EXPECT_EQ(value, 0u);
}

TEST_F(RegistryTest, ClearAllEmptiesTheRegistryAndInvalidatesHandles) {
  RegKey key = Create("Drivers\\BuiltIn");
  ASSERT_EQ(RegSetDword(kLocalMachine, "Top", 1), kErrorSuccess);
  RegClearAll();
  EXPECT_TRUE(SubKeys(kLocalMachine).empty());
  std::uint32_t value = 0;
  EXPECT_EQ(RegQueryDword(kLocalMachine, "Top", &value), kErrorFileNotFound);
  EXPECT_EQ(RegSetDword(key, "v", 1), kErrorInvalidHandle);
  EXPECT_EQ(RegCloseKey(key), kErrorInvalidHandle);
}

TEST_F(RegistryTest, ConcurrentWritersAndReadersLeaveAConsistentTree) {
  constexpr int kWriters = 4;
  constexpr std::uint32_t kKeysEach = 40;
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([w] {
      for (std::uint32_t j = 0; j < kKeysEach; ++j) {
        RegKey key = kNullHandle;
        const std::string path = "Stress\\T" + std::to_string(w) + "\\K" + std::to_string(j);
        if (RegCreateKey(kLocalMachine, path, &key, nullptr) != kErrorSuccess) return;
        RegSetDword(key, "Value", j);
        RegSetString(key, "Name", path);
        RegCloseKey(key);
        RegDeleteKey(kLocalMachine, "Stress\\Scratch" + std::to_string(w));
        RegCreateKey(kLocalMachine, "Stress\\Scratch" + std::to_string(w), &key, nullptr);
        RegCloseKey(key);
      }
    });
  }
  for (int r = 0; r < 2; ++r) {
    threads.emplace_back([] {
      for (int round = 0; round < 60; ++round) {
        RegKey stress = kNullHandle;
        if (RegOpenKey(kLocalMachine, "Stress", &stress) != kErrorSuccess) continue;
        for (std::uint32_t i = 0;; ++i) {
          char name[32];
          std::uint32_t chars = sizeof name;
          if (RegEnumKey(stress, i, name, &chars) == kErrorNoMoreItems) break;
        }
        RegKey key = kNullHandle;
        if (RegOpenKey(stress, "T0\\K0", &key) == kErrorSuccess) {
          std::uint32_t value = 0;
          const std::uint32_t status = RegQueryDword(key, "Value", &value);
          EXPECT_TRUE(status == kErrorSuccess || status == kErrorFileNotFound) << status;
          EXPECT_EQ(value, 0u);
          RegCloseKey(key);
        }
        RegCloseKey(stress);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int w = 0; w < kWriters; ++w) {
    RegKey writer = kNullHandle;
    ASSERT_EQ(RegOpenKey(kLocalMachine, "Stress\\T" + std::to_string(w), &writer), kErrorSuccess);
    const std::vector<std::string> names = SubKeys(writer);
    ASSERT_EQ(names.size(), kKeysEach);
    for (std::uint32_t j = 0; j < kKeysEach; ++j) {
      EXPECT_EQ(names[j], std::string("K").append(std::to_string(j)));
      RegKey key = kNullHandle;
      ASSERT_EQ(RegOpenKey(writer, names[j], &key), kErrorSuccess);
      std::uint32_t value = 0;
      std::string text;
      EXPECT_EQ(RegQueryDword(key, "Value", &value), kErrorSuccess);
      EXPECT_EQ(value, j);
      EXPECT_EQ(RegQueryString(key, "Name", &text), kErrorSuccess);
      EXPECT_EQ(text, "Stress\\T" + std::to_string(w) + "\\K" + std::to_string(j));
    }
  }
}

// ---- UTF-8 <-> UTF-16LE ---------------------------------------------------

std::vector<std::uint8_t> Units(std::initializer_list<std::uint16_t> units) {
  std::vector<std::uint8_t> bytes;
  for (std::uint16_t unit : units) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return bytes;
}

TEST(Utf16Test, SupplementaryCharactersUseSurrogatePairs) {
  EXPECT_EQ(Utf8ToUtf16Le("A\xF0\x9F\x98\x80", true), Units({'A', 0xD83D, 0xDE00, 0}));
  EXPECT_EQ(Utf8ToUtf16Le("\xE2\x82\xAC", false), Units({0x20AC}));
  const auto pair = Units({0xD83D, 0xDE00});
  EXPECT_EQ(Utf16LeToUtf8(pair.data(), pair.size()), "\xF0\x9F\x98\x80");
}

TEST(Utf16Test, IllFormedInputBecomesReplacementCharacters) {
  // Overlong, stray continuation, encoded surrogate, beyond U+10FFFF, truncated.
  EXPECT_EQ(Utf8ToUtf16Le("\xC0\x80", false), Units({0xFFFD, 0xFFFD}));
  EXPECT_EQ(Utf8ToUtf16Le("a\x80" "b", false), Units({'a', 0xFFFD, 'b'}));
  EXPECT_EQ(Utf8ToUtf16Le("\xED\xA0\x80", false), Units({0xFFFD, 0xFFFD, 0xFFFD}));
  EXPECT_EQ(Utf8ToUtf16Le("\xF4\x90\x80\x80", false), Units({0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}));
  EXPECT_EQ(Utf8ToUtf16Le("\xE2\x82", true), Units({0xFFFD, 0}));
  EXPECT_EQ(Utf8ToUtf16Le("\xE2\x82x", false), Units({0xFFFD, 'x'}));
  const auto lone = Units({0xDC00, 'a', 0xD800});
  EXPECT_EQ(Utf16LeToUtf8(lone.data(), lone.size()), "\xEF\xBF\xBD" "a\xEF\xBF\xBD");
  const std::uint8_t odd[] = {'a', 0, 'b'};
  EXPECT_EQ(Utf16LeToUtf8(odd, sizeof odd), "a\xEF\xBF\xBD");
  EXPECT_EQ(Utf16LeToUtf8(nullptr, 4), "");
}

}  // namespace
}  // namespace qio::platform
