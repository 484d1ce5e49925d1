// Booting from registry text as bytes and from files, as people and regedit
// write them: UTF-16LE with its mark, UTF-8 with and without one, REGEDIT4 in
// code page 1252, several files with their own headers. A bad file boots
// nothing, and the message names the file and its line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include "qio/platform/registry.h"
#include "qio5162/target.h"

namespace pf = qio::platform;

namespace {

using Bytes = std::vector<std::uint8_t>;

// UTF-8 text as UTF-16LE with its byte-order mark.
std::string Utf16File(const std::string& utf8) {
  const Bytes wide = pf::Utf8ToUtf16Le(utf8, false);
  return "\xFF\xFE" + std::string(wide.begin(), wide.end());
}

std::string Board(int n, const char* base, const char* irq) {
  return "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S" + std::to_string(n) +
         "] \r\n\"Prefix\"=\"Q62\"\r\n\"Dll\"=\"Zqs5162s.dll\"\r\n\"Order\"=dword:0\r\n\"DeviceIndex\"=dword:" +
         std::to_string(n) + "\r\n\"IoBase\"=dword:" + base + "\r\n\"IoLen\"=dword:40\r\n\"Irq\"=dword:" + irq +
         "\r\n\"TimerClock\"=dword:14\r\n\"DigPortCfg\"=hex:00,00,00\r\n";
}

std::string Text(int (*get)(QioTarget*, char*, size_t, size_t*), QioTarget* target) {
  size_t needed = 0;
  if (get(target, nullptr, 0, &needed) != QIO_TARGET_E_SPACE) return "(no size)";
  std::vector<char> buffer(needed);
  if (get(target, buffer.data(), buffer.size(), &needed) != QIO_TARGET_OK) return "(failed)";
  return buffer.data();
}

// Type and bytes of a value of the running target's registry.
std::pair<std::uint32_t, Bytes> Value(const std::string& path, const std::string& name) {
  pf::RegKey key = pf::kNullHandle;
  if (pf::RegOpenKey(pf::kLocalMachine, path, &key) != 0) return {0xDEAD, {}};
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  Bytes data;
  if (pf::RegQueryValue(key, name, &type, nullptr, &size) == 0) {
    data.resize(size);
    pf::RegQueryValue(key, name, &type, data.data(), &size);
  } else {
    type = 0xDEAD;
  }
  pf::RegCloseKey(key);
  return {type, data};
}

Bytes Wide(const std::string& utf8) { return pf::Utf8ToUtf16Le(utf8, true); }

class BootFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "qioboot-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern + "/";
  }
  void TearDown() override {
    if (QioTarget* target = qio_target_current()) {
      EXPECT_EQ(qio_target_shutdown(target), QIO_TARGET_OK) << qio_target_last_message();
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string File(const std::string& name, const std::string& bytes) {
    const std::string path = dir_ + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  int BootFilesNamed(const std::vector<std::string>& paths, unsigned flags) {
    std::vector<const char*> names;
    for (const auto& path : paths) names.push_back(path.c_str());
    return qio_target_boot_files(names.data(), names.size(), flags, &target_);
  }

  std::string dir_;
  QioTarget* target_ = nullptr;
};

// The file as regedit exported it (UTF-16LE, version 5.00, values sorted,
// a long hex list wrapped), of a key whose values a boot had written out.
TEST_F(BootFiles, RegeditsOwnUnicodeExportBootsWithEveryValue) {
  ASSERT_EQ(BootFilesNamed({QIO_TEST_DATA "/regedit-unicode-export.reg"}, QIO_TARGET_BARE | QIO_TARGET_NO_BOARDS),
            QIO_TARGET_OK)
      << qio_target_last_message();
  const std::string key = "Drivers\\RoundTrip";
  EXPECT_EQ(Value(key, "Text"),
            std::make_pair(pf::kRegString,
                           Wide("Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80 \"quoted\" back\\slash")));
  EXPECT_EQ(Value(key, ""), std::make_pair(pf::kRegString, Wide("default")));
  EXPECT_EQ(Value(key, "Number"), std::make_pair(pf::kRegDword, Bytes{0xCD, 0xAB, 0, 0}));
  EXPECT_EQ(Value(key, "Bytes"), std::make_pair(pf::kRegBinary, Bytes{0, 1, 0xFE, 0xFF}));
  EXPECT_EQ(Value(key, "Expand"), std::make_pair(pf::kRegExpandString, Wide("%PATH%\xC3\xBC")));
  EXPECT_EQ(Value(key, "Multi"), std::make_pair(pf::kRegMultiString, Bytes{'a', 0, 0, 0, 0xAC, 0x20, 0, 0, 0, 0}));
  Bytes counting(42);
  for (std::size_t i = 0; i < counting.size(); ++i) counting[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(Value(key, "Long"), std::make_pair(pf::kRegBinary, counting));
}

// What the harness exports, stored as regedit stores .reg files, boots to
// the same registry: the header says version 5.00 and the data is that.
TEST_F(BootFiles, ExportStoredAsUtf16BootsToTheSameRegistry) {
  const std::string source =
      "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\Drivers\\Values]\r\n"
      "\"Name\"=\"\xE6\x98\xBE\xE7\xA4\xBA caf\xC3\xA9\"\r\n\"Expand\"=hex(2):25,00,41,00,25,00,00,00\r\n"
      "\"Multi\"=hex(7):e9,00,00,00,62,00,00,00,00,00\r\n\"Raw\"=hex:01,02\r\n\"N\"=dword:ffffffff\r\n";
  ASSERT_EQ(qio_target_boot_data(source.data(), source.size(), QIO_TARGET_BARE | QIO_TARGET_NO_BOARDS, &target_),
            QIO_TARGET_OK)
      << qio_target_last_message();
  const std::string exported = Text(qio_target_export_registry, target_);
  ASSERT_EQ(exported.rfind("Windows Registry Editor Version 5.00\r\n", 0), 0u) << exported;
  ASSERT_EQ(qio_target_shutdown(target_), QIO_TARGET_OK);

  const std::string stored = Utf16File(exported);
  ASSERT_EQ(qio_target_boot_data(stored.data(), stored.size(), QIO_TARGET_BARE | QIO_TARGET_NO_BOARDS, &target_),
            QIO_TARGET_OK)
      << qio_target_last_message();
  EXPECT_EQ(Text(qio_target_export_registry, target_), exported);
  EXPECT_EQ(Value("Drivers\\Values", "Multi").second, (Bytes{0xE9, 0, 0, 0, 'b', 0, 0, 0, 0, 0}));
}

TEST_F(BootFiles, Utf8WithAMarkAndAnsiRegedit4FilesBoot) {
  const std::string utf8 = File("utf8.reg", "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n" + Board(0, "300", "5") +
                                                "\"Comment\"=\"Gr\xC3\xBC\xC3\x9F" "e\"\r\n");
  const std::string ansi = File("ansi.reg", "REGEDIT4\r\n\r\n" + Board(1, "340", "9") +
                                                "\"Comment\"=\"Gr\xFC\xDF" "e \x80\"\r\n"
                                                "\"Names\"=hex(7):e9,00,62,00,00\r\n\"Path\"=hex(2):25,41,25,00\r\n");
  ASSERT_EQ(BootFilesNamed({utf8, ansi}, QIO_TARGET_BARE), QIO_TARGET_OK) << qio_target_last_message();
  const std::string report = Text(qio_target_boot_report, target_);
  EXPECT_NE(report.find("loaded Q621: Drivers\\BuiltIn\\ZQS5162S0"), std::string::npos) << report;
  EXPECT_NE(report.find("loaded Q622: Drivers\\BuiltIn\\ZQS5162S1"), std::string::npos) << report;
  EXPECT_NE(qio_target_board(target_, 0x340), nullptr);
  EXPECT_EQ(Value("Drivers\\BuiltIn\\ZQS5162S0", "Comment").second, Wide("Gr\xC3\xBC\xC3\x9F" "e"));
  EXPECT_EQ(Value("Drivers\\BuiltIn\\ZQS5162S1", "Comment").second, Wide("Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC"));
  // REGEDIT4 keeps string types in 8-bit characters: stored as UTF-16LE.
  EXPECT_EQ(Value("Drivers\\BuiltIn\\ZQS5162S1", "Names"),
            std::make_pair(pf::kRegMultiString, Bytes{0xE9, 0, 0, 0, 'b', 0, 0, 0, 0, 0}));
  EXPECT_EQ(Value("Drivers\\BuiltIn\\ZQS5162S1", "Path"),
            std::make_pair(pf::kRegExpandString, Bytes{'%', 0, 'A', 0, '%', 0, 0, 0}));
}

// Each file is read on its own: its header line is its first line, and a
// fault is counted in its own lines.
TEST_F(BootFiles, SeveralFilesWithTheirOwnHeadersAndErrorsNamingFileAndLine) {
  const std::string first = File("first.reg", "REGEDIT4\r\n" + Board(0, "300", "5"));
  const std::string second = File("second.reg", Utf16File("Windows Registry Editor Version 5.00\r\n" + Board(1, "200", "7")));
  ASSERT_EQ(BootFilesNamed({first, second}, QIO_TARGET_BARE), QIO_TARGET_OK) << qio_target_last_message();
  EXPECT_NE(qio_target_board(target_, 0x200), nullptr);
  EXPECT_NE(qio_target_board(target_, 0x300), nullptr);
  ASSERT_EQ(qio_target_shutdown(target_), QIO_TARGET_OK);

  const std::string bad = File("bad.reg", Utf16File("Windows Registry Editor Version 5.00\r\n\r\nIrq=5\r\n"));
  EXPECT_EQ(BootFilesNamed({first, bad}, QIO_TARGET_BARE), QIO_TARGET_E_REGISTRY);
  EXPECT_EQ(target_, nullptr);
  EXPECT_EQ(std::string(qio_target_last_message()),
            "qio_target_boot_files: " + bad + ": line 3: not a section or value line");
  EXPECT_EQ(qio_target_current(), nullptr);

  const std::string big = File("big.reg", std::string("\xFE\xFF\0[", 4));
  EXPECT_EQ(BootFilesNamed({big}, 0), QIO_TARGET_E_REGISTRY);
  EXPECT_NE(std::string(qio_target_last_message()).find(big + ": UTF-16 big-endian"), std::string::npos)
      << qio_target_last_message();
  const std::string bare = File("bare.reg", std::string("R\0E\0G\0", 6));
  EXPECT_EQ(BootFilesNamed({bare}, 0), QIO_TARGET_E_REGISTRY);
  EXPECT_NE(std::string(qio_target_last_message()).find("byte-order mark"), std::string::npos)
      << qio_target_last_message();
}

TEST_F(BootFiles, FilesThatCannotBeReadBootNothing) {
  const std::string good = File("good.reg", Board(0, "300", "5"));
  EXPECT_EQ(BootFilesNamed({good, dir_ + "missing.reg"}, 0), QIO_TARGET_E_FILE);
  EXPECT_EQ(std::string(qio_target_last_message()),
            "qio_target_boot_files: cannot read " + dir_ + "missing.reg: No such file or directory");
  EXPECT_EQ(BootFilesNamed({good, dir_}, 0), QIO_TARGET_E_FILE);
  EXPECT_NE(std::string(qio_target_last_message()).find("is a directory"), std::string::npos);
  EXPECT_EQ(BootFilesNamed({"/dev/null"}, 0), QIO_TARGET_E_FILE);
  EXPECT_NE(std::string(qio_target_last_message()).find("not a regular file"), std::string::npos);
  // A named pipe nobody writes to is refused at once, not waited on for ever.
  const std::string pipe = dir_ + "pipe.reg";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  auto refused = std::async(std::launch::async, [&] {
    QioTarget* target = nullptr;
    const char* const paths[] = {pipe.c_str()};
    const int status = qio_target_boot_files(paths, 1, 0, &target);
    return std::make_pair(status, std::string(qio_target_last_message()));
  });
  const bool prompt = refused.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  if (!prompt) {  // let the hanging boot go on, so that the test ends
    const int writer = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) ::close(writer);
  }
  EXPECT_TRUE(prompt) << "the boot waited for a writer on the pipe";
  const auto [status, message] = refused.get();
  EXPECT_EQ(status, QIO_TARGET_E_FILE);
  EXPECT_NE(message.find(pipe + ": is not a regular file"), std::string::npos) << message;
  if (::geteuid() != 0) {
    const std::string locked = File("locked.reg", Board(0, "300", "5"));
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    EXPECT_EQ(BootFilesNamed({locked}, 0), QIO_TARGET_E_FILE);
  }
  EXPECT_EQ(qio_target_current(), nullptr);
  EXPECT_EQ(target_, nullptr);

  const char* const empty[] = {""};
  EXPECT_EQ(qio_target_boot_files(empty, 1, 0, &target_), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_target_boot_files(nullptr, 1, 0, &target_), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_target_boot_files(nullptr, 0, 0x80, &target_), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_target_boot_files(nullptr, 0, 0, nullptr), QIO_TARGET_E_ARGUMENT);
  // No files: the shipped registry alone.
  ASSERT_EQ(qio_target_boot_files(nullptr, 0, 0, &target_), QIO_TARGET_OK);
  EXPECT_NE(qio_target_board(target_, 0x300), nullptr);
}

TEST_F(BootFiles, BytesWithNulsBootAndBadArgumentsAreRefused) {
  const std::string wide = Utf16File("Windows Registry Editor Version 5.00\r\n" + Board(0, "280", "b"));
  ASSERT_EQ(qio_target_boot_data(wide.data(), wide.size(), QIO_TARGET_BARE, &target_), QIO_TARGET_OK)
      << qio_target_last_message();
  EXPECT_NE(qio_target_board(target_, 0x280), nullptr);
  ASSERT_EQ(qio_target_shutdown(target_), QIO_TARGET_OK);

  EXPECT_EQ(qio_target_boot_data(nullptr, 5, 0, &target_), QIO_TARGET_E_ARGUMENT);
  EXPECT_EQ(qio_target_boot_data(wide.data(), wide.size(), 0, nullptr), QIO_TARGET_E_ARGUMENT);
  // Half a UTF-16 character at the end is no text.
  EXPECT_EQ(qio_target_boot_data(wide.data(), wide.size() - 1, 0, &target_), QIO_TARGET_E_REGISTRY);
  EXPECT_NE(std::string(qio_target_last_message()).find("qio_target_boot_data: registry text: the UTF-16 text ends"),
            std::string::npos)
      << qio_target_last_message();
  ASSERT_EQ(qio_target_boot_data(nullptr, 0, 0, &target_), QIO_TARGET_OK);
  EXPECT_NE(qio_target_board(target_, 0x300), nullptr);
}

}  // namespace
