// qio5162-boot run as a process: several files, --export with nothing but
// the registry on standard output (so it can be redirected into a file that
// boots again), errors that name the file and line, --help for every option.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

struct ToolRun {
  int code;
  std::string out;
  std::string err;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// An ASCII text as UTF-16LE with its mark.
std::string Utf16(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (const char c : ascii) out += std::string{c, '\0'};
  return out;
}

std::string Board(int n, const char* base, const char* irq) {
  return "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S" + std::to_string(n) +
         "]\r\n\"Prefix\"=\"Q62\"\r\n\"Dll\"=\"Zqs5162s.dll\"\r\n\"Order\"=dword:0\r\n\"DeviceIndex\"=dword:" +
         std::to_string(n) + "\r\n\"IoBase\"=dword:" + base + "\r\n\"IoLen\"=dword:40\r\n\"Irq\"=dword:" + irq +
         "\r\n\"TimerClock\"=dword:14\r\n\"DigPortCfg\"=hex:00,00,00\r\n";
}

class BootTool : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "qiobootool-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern + "/";
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string File(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ + name, std::ios::binary) << bytes;
    return dir_ + name;
  }

  ToolRun Tool(const std::string& args) {
    const std::string out = dir_ + "stdout";
    const std::string err = dir_ + "stderr";
    const int status = std::system((std::string(QIO_BOOT_TOOL) + " " + args + " >" + out + " 2>" + err).c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
  }

  std::string dir_;
};

TEST_F(BootTool, HelpDescribesEveryOption) {
  const ToolRun run = Tool("--help");
  EXPECT_EQ(run.code, 0);
  for (const char* word : {"--bare", "--no-boards", "--export", "utf16", "utf8", "--help", "--  ", "REGEDIT4",
                           "UTF-16LE", "Exit status"}) {
    EXPECT_NE(run.out.find(word), std::string::npos) << word;
  }
  EXPECT_EQ(Tool("-h").out, run.out);
}

TEST_F(BootTool, SeveralFilesInTheirOwnEncodingsBootTogether) {
  const std::string first = File("first.reg", "REGEDIT4\r\n" + Board(0, "300", "5"));
  const std::string second = File("second.reg", Utf16("Windows Registry Editor Version 5.00\r\n" + Board(1, "200", "7")));
  const ToolRun run = Tool("--bare " + first + " " + second);
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("board at 0x300 IRQ 5 for Drivers\\BuiltIn\\ZQS5162S0"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("board at 0x200 IRQ 7 for Drivers\\BuiltIn\\ZQS5162S1"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Target shut down cleanly."), std::string::npos);
  EXPECT_EQ(run.err, "");
}

// The export goes to standard output alone, in regedit's own form; redirected
// into a file it boots to the same registry.
TEST_F(BootTool, ExportIsTheRegistryAloneAndBootsAgain) {
  const std::string board = File("board.reg", Board(2, "280", "b"));
  const ToolRun run = Tool("--bare --no-boards --export " + board);
  ASSERT_EQ(run.code, 0) << run.err;
  ASSERT_EQ(run.out.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(run.out.substr(0, 16), Utf16("Windows"));
  EXPECT_EQ(run.out.find(Utf16("Hosted").substr(2)), std::string::npos);
  EXPECT_NE(run.err.find("Hosted QIO-5162 target booted."), std::string::npos);
  EXPECT_NE(run.err.find("Target shut down cleanly."), std::string::npos);

  const ToolRun utf8 = Tool("--bare --no-boards --export=utf8 " + board);
  ASSERT_EQ(utf8.code, 0) << utf8.err;
  ASSERT_EQ(utf8.out.rfind("Windows Registry Editor Version 5.00\r\n", 0), 0u) << utf8.out;
  EXPECT_NE(utf8.out.find("[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S2]\r\n\"Prefix\"=\"Q62\""),
            std::string::npos);
  EXPECT_EQ(run.out, Utf16(utf8.out));

  const std::string saved = File("saved.reg", run.out);
  const ToolRun again = Tool("--bare --no-boards --export=utf8 " + saved);
  ASSERT_EQ(again.code, 0) << again.err;
  // Everything comes back; the device manager of the second boot adds an
  // active key of its own beside the first boot's.
  std::string expected = utf8.out;
  expected.insert(expected.find("\r\n[HKEY_LOCAL_MACHINE\\SYSTEM]"),
                  "\r\n[HKEY_LOCAL_MACHINE\\Drivers\\Active\\02]\r\n\"Name\"=\"Q621:\"\r\n"
                  "\"Key\"=\"Drivers\\\\BuiltIn\\\\ZQS5162S2\"\r\n");
  EXPECT_EQ(again.out, expected);
}

TEST_F(BootTool, ErrorsNameTheFileAndItsLine) {
  const std::string good = File("good.reg", Board(0, "300", "5"));
  const std::string bad = File("bad.reg", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"a\"=zzz\r\n");
  ToolRun run = Tool(good + " " + bad);
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "qio5162-boot: qio_target_boot_files: " + bad + ": line 3: unknown value data\n");

  run = Tool(good + " " + dir_);
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.err, "qio5162-boot: qio_target_boot_files: cannot read " + dir_ + ": is a directory\n");

  run = Tool("--export=latin1 " + good);
  EXPECT_EQ(run.code, 2);
  EXPECT_NE(run.err.find("usage: qio5162-boot"), std::string::npos);
  EXPECT_EQ(Tool("--frobnicate").code, 2);
  // After "--" a name that starts with "-" is a file.
  run = Tool("-- --frobnicate");
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("cannot read --frobnicate"), std::string::npos) << run.err;
}

}  // namespace
