// qio5162-cfg on scripts as people and other tools leave them: comments that
// name keys and values, look-alike values, brackets in strings, no final line
// break, UTF-16 from regedit, temporary files of a run that was killed. Every
// command changes only the template's own lines and says when it fails.
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <ctime>

#include "CfgToolRun.h"

namespace qio::config {
namespace {

using testing::Header;
using testing::NewSection;
using testing::ToolRun;

class CfgHandEdits : public ::testing::Test {
 protected:
  ToolRun Tool(const std::string& args) { return testing::RunCfgTool(tree_, args); }

  testing::ScriptTree tree_;
};

const std::string kDisplay = "[HKEY_LOCAL_MACHINE\\Drivers\\Display]\r\n\"Width\"=dword:280\r\n"
                             "\"Height\"=dword:1e0\r\n\"Depth\"=dword:10\r\n";

TEST_F(CfgHandEdits, CommentsThatNameKeysCutNothing) {
  const std::string start = "REGEDIT4\r\n; ZQS5162S4] was moved to the carrier board\r\n"
                            "; [HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S1]\r\n" +
                            NewSection(0, "100", "3") + kDisplay;
  tree_.Write(start);
  ToolRun run = Tool("add");
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "Added Template1: base 0x140, IRQ 4, port A in, port B in, port C in\n");
  EXPECT_EQ(tree_.Read(), start + NewSection(1, "140", "4"));
  ASSERT_EQ(Tool("set 1 --irq 9 --base 0x200").code, 0);
  EXPECT_EQ(tree_.Read(), start + NewSection(1, "200", "9"));
  ASSERT_EQ(Tool("remove 1").code, 0);
  EXPECT_EQ(tree_.Read(), start);
  ASSERT_EQ(Tool("remove 0").code, 0);
  EXPECT_EQ(tree_.Read(), "REGEDIT4\r\n; ZQS5162S4] was moved to the carrier board\r\n"
                          "; [HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S1]\r\n" + kDisplay);
}

TEST_F(CfgHandEdits, SetChangesTheValueAndNotWhatLooksLikeIt) {
  const std::string section = NewSection(0, "300", "5");
  const std::string head = "REGEDIT4\r\n" + section.substr(0, section.find("\"Irq\"")) +
                           "; Irq 5 is wired on the carrier\r\n\"IrqShare\"=dword:1\r\n";
  const std::string tail = section.substr(section.find("\"TimerClock\""));
  tree_.Write(head + "\"Irq\"=dword:5\r\n" + tail);
  ToolRun run = Tool("set 0 --irq 7");
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "Template0: base 0x300, IRQ 7, port A in, port B in, port C in\n");
  EXPECT_EQ(tree_.Read(), head + "\"Irq\"=dword:7\r\n" + tail);
  EXPECT_NE(Tool("list").out.find("0     0x300  7"), std::string::npos);
}

// A string with brackets in the section, the section last in the file
// without a final line break, and values missing from it: each added value
// is a line of its own after the string, and nothing is lost on a rewrite.
TEST_F(CfgHandEdits, BracketsInStringsAndNoFinalLineBreak) {
  const std::string start = kDisplay + Header(0) + "\"FriendlyName\"=\"QIO board [slot 2]\"\r\n"
                            "\"IoBase\"=dword:300\r\n\"Irq\"=dword:5\r\n\"Prefix\"=\"Q62\"";
  tree_.Write(start);
  ASSERT_EQ(Tool("set 0 --port-a out").code, 0);
  const std::string expected = start + "\r\n\"Dll\"=\"Zqs5162s.dll\"\r\n\"Order\"=dword:0\r\n\"DeviceIndex\"=dword:0\r\n"
                                       "\"IoLen\"=dword:40\r\n\"TimerClock\"=dword:14\r\n\"DigPortCfg\"=hex:01,00,00\r\n";
  EXPECT_EQ(tree_.Read(), expected);
  ASSERT_EQ(Tool("set 0 --port-a in").code, 0);
  ASSERT_EQ(Tool("set 0 --port-a out").code, 0);
  EXPECT_EQ(tree_.Read(), expected);
}

TEST_F(CfgHandEdits, HeaderWithACommentIsNotAppendedAgain) {
  const std::string start = "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S0] ; the first board\r\n"
                            "\"IoBase\"=dword:100\r\n\"Irq\"=dword:3\r\n";
  tree_.Write(start);
  ASSERT_EQ(Tool("set 0 --irq 4").code, 0);
  const std::string text = tree_.Read();
  EXPECT_EQ(text.find("ZQS5162S0]", text.find("ZQS5162S0]") + 1), std::string::npos) << text;
  EXPECT_EQ(text.substr(0, text.find("\"Prefix\"")),
            "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S0] ; the first board\r\n"
            "\"IoBase\"=dword:100\r\n\"Irq\"=dword:4\r\n");
}

// UTF-16LE, as regedit saves a script: the templates are listed, and a new
// one is written in UTF-16LE too.
TEST_F(CfgHandEdits, Utf16ScriptIsListedAndStaysUtf16) {
  auto utf16 = [](const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (const char c : ascii) out += std::string{c, '\0'};
    return out;
  };
  const std::string start = "Windows Registry Editor Version 5.00\r\n\r\n" + NewSection(0, "280", "b");
  tree_.Write(utf16(start));
  EXPECT_EQ(Tool("list").out, "Slot  Base   IRQ  PortA   PortB   PortC\n0     0x280  11   in      in      in\n");
  ASSERT_EQ(Tool("add").code, 0);
  EXPECT_EQ(tree_.Read(), utf16(start + NewSection(1, "100", "3")));
}

TEST_F(CfgHandEdits, ScriptItCannotHoldIsRefusedAndKept) {
  const std::string start = std::string("\xFE\xFF\0[", 4);
  tree_.Write(start);
  for (const char* command : {"list", "add", "remove 0", "set 0 --irq 5"}) {
    const ToolRun run = Tool(command);
    EXPECT_EQ(run.code, 1) << command;
    EXPECT_NE(run.err.find("UTF-16 big-endian"), std::string::npos) << run.err;
    EXPECT_EQ(tree_.Read(), start) << command;
  }
}

// A run killed before its rename leaves ".QIO5162.reg.tmp-<pid>-<n>": the
// next save removes it once its process is gone or it is an hour old, and
// leaves alone what a running save may still be writing.
TEST_F(CfgHandEdits, LeftoverTemporaryFilesAreRemovedAtTheNextSave) {
  tree_.Write("");
  const std::string dir = tree_.dir() + "/";
  // No process has a number this high (the kernel's limit is 2^22).
  const std::string dead = dir + ".QIO5162.reg.tmp-99999999-0";
  const std::string running = dir + ".QIO5162.reg.tmp-" + std::to_string(::getpid()) + "-7";
  const std::string old = dir + ".QIO5162.reg.tmp-" + std::to_string(::getpid()) + "-8";
  const std::string other = dir + ".Other.reg.tmp-99999999-0";
  for (const auto& path : {dead, running, old, other}) testing::WriteFile(path, "half a script");
  const timeval twoHoursAgo[2] = {{std::time(nullptr) - 7200, 0}, {std::time(nullptr) - 7200, 0}};
  ASSERT_EQ(::utimes(old.c_str(), twoHoursAgo), 0);

  ASSERT_EQ(Tool("add").code, 0);
  EXPECT_FALSE(std::filesystem::exists(dead));
  EXPECT_TRUE(std::filesystem::exists(running));
  EXPECT_FALSE(std::filesystem::exists(old));
  EXPECT_TRUE(std::filesystem::exists(other));
  EXPECT_EQ(tree_.Read(), NewSection(0, "100", "3"));
}

}  // namespace
}  // namespace qio::config
