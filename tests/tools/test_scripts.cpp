// run FILE and the shell through a pipe: one target and one open device
// across the commands.
#include "ToolRunner.h"

namespace qio::tool::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class ScriptTest : public ToolTest {};

TEST_F(ScriptTest, RunKeepsTheDeviceAcrossLines) {
  const std::string file = WriteFile("dio.txt",
                                     "# port A drives port B\n"
                                     "dio mode A out\n"
                                     "\n"
                                     "dio write A 0x5A --loopback A:B\n"
                                     "dio read B\n"
                                     "count start 0 --input 0=1MHz\n"
                                     "count read 0\n");
  const ToolResult result = Run({"run", file});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_THAT(result.out, HasSubstr("> dio read B"));
  EXPECT_THAT(result.out, HasSubstr("port B: 0x5A"));
  EXPECT_THAT(result.out, Not(HasSubstr("note: ")));
  EXPECT_THAT(result.out, Not(HasSubstr("total 0 ")));
}

TEST_F(ScriptTest, RunFilesAsEditorsSaveThem) {
  // Notepad: a UTF-8 byte-order mark before the first command, CR LF line
  // ends, tabs, trailing blanks and no final line break.
  const std::string file = WriteFile("notepad.txt",
                                     "\xEF\xBB\xBF"
                                     "dio mode A out\r\n"
                                     "\t# port A drives port B\r\n"
                                     "\r\n"
                                     "dio write A 0x5A\t--loopback A:B  \r\n"
                                     "dio read B --json");
  ToolResult result = Run({"run", file});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_THAT(result.out, HasSubstr("port A set to out"));
  EXPECT_THAT(result.out, HasSubstr("\"value\": 90"));

  // The mark before a comment, and through the shell's pipe.
  const std::string comment = WriteFile("comment.txt", "\xEF\xBB\xBF# first line\ndio read A --di A=0x11\n");
  result = Run({"run", comment});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_THAT(result.out, HasSubstr("port A: 0x11"));
  result = Run({"shell"}, "\xEF\xBB\xBF" "dio read C --di C=0x22\r\n");
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_THAT(result.out, HasSubstr("port C: 0x22"));

  // Only a mark at the very start is one: a later one is a bad word.
  const std::string later = WriteFile("later.txt", "dio read A\n\xEF\xBB\xBF" "dio read B\n");
  result = Run({"run", later});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_THAT(result.err, HasSubstr("later.txt:2:"));
}

// Windows PowerShell writes 'echo ... > cmds.txt' as UTF-16LE with its mark.
std::string Utf16(const std::string& ascii) {
  std::string bytes = "\xFF\xFE";
  for (const char c : ascii) {
    bytes.push_back(c);
    bytes.push_back('\0');
  }
  return bytes;
}

TEST_F(ScriptTest, RunFileInUtf16FromPowerShell) {
  const std::string file = WriteFile("ps.txt", Utf16("# from PowerShell\r\ndio mode A out\r\n"
                                                     "dio write A 0x3C --loopback A:B\r\ndio read B\r\n"));
  ToolResult result = Run({"run", file});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_THAT(result.out, HasSubstr("> dio read B"));
  EXPECT_THAT(result.out, HasSubstr("port B: 0x3C"));

  // Line numbers count as in the editor; text beyond ASCII arrives as UTF-8.
  std::string bad = Utf16("dio read A\r\ndio read ");
  bad += std::string("\xE4\0", 2);  // U+00E4
  bad += Utf16("\r\n").substr(2);
  result = Run({"run", WriteFile("bad16.txt", bad), "--json"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_THAT(result.err, HasSubstr("bad16.txt:2: 'dio read \xC3\xA4' failed"));
}

TEST_F(ScriptTest, RunStopsAtTheFirstFailureWithItsLineNumber) {
  const std::string file = WriteFile("bad.txt",
                                     "dio mode A out\n"
                                     "# a comment\n"
                                     "dio mode A in/out\n"
                                     "dio read A\n");
  ToolResult result = Run({"run", file});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.err, HasSubstr("bad.txt:3: 'dio mode A in/out' failed (exit code 1)"));
  EXPECT_THAT(result.err, HasSubstr("0x100A"));
  EXPECT_THAT(result.out, Not(HasSubstr("> dio read A")));

  const std::string usage = WriteFile("usage.txt", "list\ndio write A\n");
  result = Run({"run", usage});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_THAT(result.err, HasSubstr("usage.txt:2:"));

  EXPECT_EQ(Run({"run", dir_ + "/missing.txt"}).exitCode, 2);
}

TEST_F(ScriptTest, CommandFileThatCannotBeReadFailsInEveryForm) {
  // A folder given for the file ran nothing and reported success.
  ToolResult result = Run({"run", dir_});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_THAT(result.err, HasSubstr("cannot read command file '" + dir_ + "'"));

  result = Run({"run", dir_, "--json"});
  EXPECT_EQ(result.exitCode, 2);
  nlohmann::json error = result.Json()["error"];
  EXPECT_EQ(error["kind"], "usage");
  EXPECT_THAT(error["message"].get<std::string>(), HasSubstr("cannot read command file"));

  result = Run({"--json", "run", dir_ + "/missing.txt"});
  EXPECT_EQ(result.exitCode, 2);
  error = result.Json()["error"];
  EXPECT_EQ(error["exitCode"], 2);
  EXPECT_THAT(error["message"].get<std::string>(), HasSubstr("missing.txt"));

  // Nested inside a run file, the outer file stops at that line.
  const std::string outer = WriteFile("outer.txt", "dio read A\nrun " + dir_ + "\ndio read B\n");
  result = Run({"run", outer});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_THAT(result.err, HasSubstr("outer.txt:2:"));
  EXPECT_THAT(result.out, Not(HasSubstr("> dio read B")));

  // A pipe is a file like any other.
  result = Run({"run", "/dev/stdin"}, "dio read C --di C=0x42\n");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_THAT(result.out, HasSubstr("port C: 0x42"));
}

TEST_F(ScriptTest, ShellThroughAPipe) {
  const ToolResult result = Run({"shell"},
                                "help\n"
                                "dio mode A out\n"
                                "dio write A 0x33 --loopback A:B\n"
                                "dio read B\n"
                                "dio mode A in/out\n"
                                "help dio write\n"
                                "tour\n"
                                "dio read B --json\n"
                                "exit\n"
                                "dio read A\n");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_THAT(result.out, HasSubstr("Commands (as on the command line"));
  EXPECT_THAT(result.out, HasSubstr("port B: 0x33"));
  EXPECT_THAT(result.out, HasSubstr("--mask"));
  EXPECT_THAT(result.out, HasSubstr("\"value\": 51"));
  // A failing line is reported and the shell goes on.
  EXPECT_THAT(result.err, HasSubstr("0x100A"));
  EXPECT_THAT(result.err, HasSubstr("the tour boots a target of its own"));
  EXPECT_THAT(result.out, Not(HasSubstr("port A:")));
}

TEST_F(ScriptTest, ShellReturnsTheLastStatus) {
  const ToolResult result = Run({"shell"}, "list\nfreq 1\n");
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.out, HasSubstr("QIO-5162 IO=300H IRQ=5"));
}

}  // namespace
}  // namespace qio::tool::test
