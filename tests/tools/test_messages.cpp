// What a test engineer meets at the edges: the version, value names in help,
// unknown commands, usage errors in JSON, both notations of a DIO line, the
// messages that say what was wrong and what is allowed, and the boards that
// did not load.
#include "ToolRunner.h"

namespace qio::tool::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class MessagesTest : public ToolTest {};

TEST_F(MessagesTest, VersionAndValueNamesInHelp) {
  const ToolResult version = Run({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_THAT(version.out, HasSubstr("qio5162 2.1.0"));

  const ToolResult help = Run({"pwm", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_THAT(help.out, Not(HasSubstr("TEXT")));
  for (const char* name : {"--period TIME", "--count N", "--registry FILE", "--vcd FILE", "--device N",
                           "--input COUNTER=FREQ[,duty=PERCENT]", "--di-square LINE=FREQ", "--loopback FROM:TO"}) {
    EXPECT_THAT(help.out, HasSubstr(name)) << name;
  }
  const ToolResult top = Run({"--help"});
  EXPECT_THAT(top.out, HasSubstr("3 events: the time-out passed without any event"));
  EXPECT_THAT(top.out, HasSubstr("channel 0 to 23"));
  // "help WORDS" is the same as WORDS --help.
  const ToolResult word = Run({"help", "dio", "bit"});
  EXPECT_EQ(word.exitCode, 0);
  EXPECT_THAT(word.out, HasSubstr("LINE|PORT"));
}

TEST_F(MessagesTest, UnknownCommandsSayWhatThereIs) {
  ToolResult result = Run({"dio", "red", "A"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_THAT(result.err, HasSubstr("unknown command 'red' for 'dio': expected read, write, bit, mode or config "
                                    "(did you mean 'read'?)"));
  EXPECT_THAT(result.err, Not(HasSubstr("A subcommand is required")));
  result = Run({"--json", "frequ", "0"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_THAT(result.err, HasSubstr("unknown command 'frequ'"));
  EXPECT_THAT(result.err, HasSubstr("did you mean 'freq'?"));
  // Options before the command and their values are no commands.
  result = Run({"--registry", WriteFile("one.reg", BoardRegistry(0x300, 5, "00,00,00")), "lst"});
  EXPECT_THAT(result.err, HasSubstr("unknown command 'lst': expected list, info,"));
  result = Run({"count"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_THAT(result.err, HasSubstr("a command is needed: start, read or watch"));
}

TEST_F(MessagesTest, UsageErrorsHonourJson) {
  ToolResult result = Run({"dio", "read", "D", "--json"});
  EXPECT_EQ(result.exitCode, 2);
  nlohmann::json error = result.Json()["error"];
  EXPECT_EQ(error["kind"], "usage");
  EXPECT_EQ(error["exitCode"], 2);
  EXPECT_EQ(error["message"], "port 'D': expected A, B or C (or 0, 1, 2)");
  EXPECT_THAT(error["usage"].get<std::string>(), HasSubstr("qio5162 dio read [PORT...]"));
  EXPECT_EQ(error["help"], "qio5162 dio read --help");
  // The parser's own errors too, and unknown commands.
  result = Run({"--json", "pwm", "1", "--period", "10ms"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.Json()["error"]["kind"], "usage");
  result = Run({"--json", "dio", "red"});
  EXPECT_EQ(result.Json()["error"]["kind"], "usage");
  // A device error names its kind as well.
  result = Run({"dio", "mode", "A", "in/out", "--json"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.Json()["error"]["kind"], "device");
  EXPECT_EQ(result.Json()["error"]["exitCode"], 1);
  // In the shell, the shell's --json covers every line.
  result = Run({"shell", "--json"}, "dio read 3\n");
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.Json()["error"]["message"], "port '3': expected A, B or C (or 0, 1, 2)");
}

TEST_F(MessagesTest, JsonErrorsQuoteBytesThatAreNotUtf8) {
  // A Latin-1 argument or file name goes into the message as it was typed:
  // the document must still be JSON, with the bad bytes replaced.
  ToolResult result = Run({"dio", "read", "B\xff\xfe", "--json"});
  EXPECT_EQ(result.exitCode, 2) << result.err;
  nlohmann::json error = result.Json()["error"];
  EXPECT_EQ(error["kind"], "usage");
  EXPECT_THAT(error["message"].get<std::string>(), HasSubstr("port 'B\xEF\xBF\xBD\xEF\xBF\xBD'"));

  result = Run({"list", "--registry", dir_ + "/caf\xe9.reg", "--json"});
  EXPECT_NE(result.exitCode, 0);
  EXPECT_LT(result.exitCode, 3) << result.err;
  error = result.Json()["error"];
  EXPECT_THAT(error["message"].get<std::string>(), HasSubstr("caf\xEF\xBF\xBD.reg"));

  result = Run({"shell", "--json"}, "dio read A\xe4\n");
  EXPECT_EQ(result.exitCode, 2) << result.err;
  EXPECT_EQ(result.Json()["error"]["kind"], "usage");
}

TEST_F(MessagesTest, PortsAreUsageErrorsInEveryNotation) {
  for (const char* port : {"3", "D", "B1"}) {
    const ToolResult result = Run({"dio", "read", port});
    EXPECT_EQ(result.exitCode, 2) << port;
    EXPECT_THAT(result.err, HasSubstr("expected A, B or C (or 0, 1, 2)")) << port;
  }
  EXPECT_EQ(Run({"dio", "write", "4", "1"}).exitCode, 2);
  EXPECT_EQ(Run({"dio", "read", "A", "--di", "D=0x01"}).exitCode, 2);
}

TEST_F(MessagesTest, ReadSeveralPortsInOneRequest) {
  ToolResult result = Run({"dio", "read", "A", "c", "--di", "A=0x11", "--di", "C=0x33", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  nlohmann::json ports = result.Json()["ports"];
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0]["port"], "A");
  EXPECT_EQ(ports[0]["value"], 0x11);
  EXPECT_EQ(ports[1]["port"], "C");
  EXPECT_EQ(ports[1]["value"], 0x33);

  result = Run({"dio", "read", "--di", "B=0x22"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_THAT(result.out, HasSubstr("port A: 0x00"));
  EXPECT_THAT(result.out, HasSubstr("port B: 0x22  0010 0010 (in)"));
  EXPECT_THAT(result.out, HasSubstr("port C: 0x00"));

  result = Run({"dio", "read", "B:C", "B", "--di", "C=0x80", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  ports = result.Json()["ports"];
  ASSERT_EQ(ports.size(), 2u);  // each port once
  EXPECT_EQ(ports[1]["value"], 0x80);
  EXPECT_EQ(Run({"dio", "read", "C:A"}).exitCode, 2);
}

TEST_F(MessagesTest, LinesInEitherNotation) {
  // B1 is channel 9: the three ways to name it read the same pin.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"dio", "bit", "B", "1"}, {"dio", "bit", "B1"}, {"dio", "bit", "9"},
        {"dio", "bit", "1", "1"}}) {
    std::vector<std::string> full = args;
    for (const char* extra : {"--di", "B=0x02", "--json"}) full.push_back(extra);
    const ToolResult result = Run(full);
    ASSERT_EQ(result.exitCode, 0) << ::testing::PrintToString(args) << result.err;
    EXPECT_EQ(result.Json()["value"], 1) << ::testing::PrintToString(args);
    EXPECT_EQ(result.Json()["line"], "B1");
    EXPECT_EQ(result.Json()["channel"], 9);
  }
  // A line and a state: written.
  ToolResult result = Run({"dio", "bit", "c6", "1", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.Json()["output"], 0x40);
  result = Run({"dio", "bit", "22", "1", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.Json()["output"], 0x40);
  // What is not a line, or too much after one.
  result = Run({"dio", "bit", "A", "8", "1"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_THAT(result.err, HasSubstr("bit '8': expected 0 to 7"));
  result = Run({"dio", "bit", "24"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_THAT(result.err, HasSubstr("line '24': expected a line as port and bit"));
  result = Run({"dio", "bit", "B"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_THAT(result.err, HasSubstr("give the bit too, e.g. 'dio bit B 3' or 'dio bit B3'"));
  result = Run({"dio", "bit", "B1", "1", "0"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_THAT(result.err, HasSubstr("too many arguments after line B1"));

  // A square wave on a line named either way raises DI events of channel 9.
  for (const char* square : {"B1=200Hz", "9=200Hz"}) {
    for (const char* source : {"diB1", "di9", "b1"}) {
      const ToolResult events = Run({"--virtual-time", "events", "--enable", source, "--count", "1", "--timeout",
                                     "5s", "--di-square", square, "--json"});
      ASSERT_EQ(events.exitCode, 0) << square << " " << source << events.err;
      EXPECT_EQ(events.Json()["events"][0]["type"], 0x3409);
      EXPECT_EQ(events.Json()["events"][0]["line"], "B1");
    }
  }
}

TEST_F(MessagesTest, ShellLinesAsPeopleTypeThem) {
  // Odd spacing, tabs, upper and lower case, both notations of a line, and a
  // wrong word in the middle that does not end the session.
  const ToolResult result = Run({"shell"},
                                "  dio   mode   a   OUT  \n"
                                "\tdio bit\ta5   1\n"
                                "dio  write b 0x0F   --loopback   A:C\n"
                                "dio red c\n"
                                "dio read   C   --json\n"
                                "dio bit 5\n");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_THAT(result.err, HasSubstr("unknown command 'red' for 'dio'"));
  EXPECT_THAT(result.out, HasSubstr("port A bit 5 (line A5, channel 5) <- 1: output 0x20"));
  EXPECT_THAT(result.out, HasSubstr("\"value\": 32"));  // port A's latch looped to C
  EXPECT_THAT(result.out, HasSubstr("port A bit 5 (line A5, channel 5): 1"));
}

TEST_F(MessagesTest, CounterRulesAreExplained) {
  ToolResult result = Run({"pwm", "0", "--period", "10ms", "--high", "2ms", "--count", "3"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.err, HasSubstr("CounterPWMSetting failed: 0x1007: a pulse count (--count) works on counter 1 "
                                    "only"));
  EXPECT_THAT(result.err, HasSubstr("'pwm 1 ... --count 3'"));
  EXPECT_THAT(result.err, Not(HasSubstr("counter out of range")));
  result = Run({"freq", "1", "--json"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.Json()["error"]["code"], 0x1007);
  EXPECT_THAT(result.Json()["error"]["meaning"].get<std::string>(), HasSubstr("only counter 0 measures frequency"));
  result = Run({"pwm-measure", "1"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.err, HasSubstr("PWM measurement runs on counter 0"));
  result = Run({"reset", "2"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_THAT(result.err, HasSubstr("counter '2': expected 0 or 1"));
  result = Run({"freqout", "0", "--source", "2MHz"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_THAT(result.err, HasSubstr("source '2MHz': expected 10MHz, 1MHz, 100kHz, 10kHz or 1kHz"));
  EXPECT_THAT(result.err, Not(HasSubstr("hexadecimal")));
}

TEST_F(MessagesTest, OneShotDirectionSaysItEndsWithTheCommand) {
  ToolResult result = Run({"dio", "mode", "A", "out"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_THAT(result.out, HasSubstr("note: the direction lasts until this command closes the device"));
  // And it does: the next command starts from the registry's directions.
  result = Run({"dio", "config", "--json"});
  EXPECT_EQ(result.Json()["ports"][0]["direction"], "in");
  // In a run file it stays, and nothing is said.
  result = Run({"run", WriteFile("mode.txt", "dio mode A out\ndio config\n")});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_THAT(result.out, Not(HasSubstr("note:")));
  EXPECT_THAT(result.out, HasSubstr("port A: out"));
}

TEST_F(MessagesTest, InfoLabelsReservedValues) {
  ToolResult result = Run({"info"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_THAT(result.out, Not(HasSubstr("DI property 0x3C85")));
  EXPECT_THAT(result.out, Not(HasSubstr("counter property")));
  EXPECT_THAT(result.out, HasSubstr("0x3C85  reserved (a constant of the board family)"));
  EXPECT_THAT(result.out, HasSubstr("reserved fields at offsets 62, 64, 92: 1, 2, 0x2026"));
  EXPECT_THAT(result.out, HasSubstr("0x5008  PWM limits (s)"));
  result = Run({"info", "--json"});
  const nlohmann::json info = result.Json();
  unsigned reserved = 0;
  for (const nlohmann::json& property : info["properties"]) {
    if (property["reserved"].get<bool>()) {
      ++reserved;
      EXPECT_EQ(property["name"], "reserved");
    }
  }
  EXPECT_EQ(reserved, 14u);
}

TEST_F(MessagesTest, BoardsThatDidNotLoadAreNamed) {
  // A board key without "Irq": the driver refuses it, the list is empty.
  std::string text = BoardRegistry(0x300, 5, "00,00,00");
  text.erase(text.find("\"Irq\""), text.find("\"TimerClock\"") - text.find("\"Irq\""));
  const std::string path = WriteFile("bad.reg", text);
  ToolResult result = Run({"--registry", path, "list"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.out, HasSubstr("(no boards in the device list)"));
  EXPECT_THAT(result.err, HasSubstr("not every board configured in '" + path + "' loaded"));
  EXPECT_THAT(result.err, HasSubstr("no board for Drivers\\BuiltIn\\ZQS5162S0: it has no \"Irq\" dword"));
  EXPECT_THAT(result.err, Not(HasSubstr("no \"IoBase\"")));
  EXPECT_THAT(result.err, HasSubstr("failed Drivers\\BuiltIn\\ZQS5162S0"));
  result = Run({"--registry", path, "list", "--json"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.Json()["devices"].empty());
  EXPECT_EQ(result.Json()["bootProblems"].size(), 2u);
  // Opening the device says the same.
  result = Run({"--registry", path, "info"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.err, HasSubstr("DeviceOpen failed: 2:"));
  EXPECT_THAT(result.err, HasSubstr("the boot report tells what did not load:"));
  EXPECT_THAT(result.err, HasSubstr("it has no \"Irq\" dword"));
  // Next to a board that loads, the list shows it and still fails.
  const std::string mixed = WriteFile("mixed.reg", BoardRegistry(0x340, 9, "00,00,00", 1) + "\r\n" + text.substr(10));
  result = Run({"--registry", mixed, "list", "--json"});
  EXPECT_EQ(result.exitCode, 1);
  ASSERT_EQ(result.Json()["devices"].size(), 1u);
  EXPECT_EQ(result.Json()["devices"][0]["base"], 0x340);
}

TEST_F(MessagesTest, BoardKeyTheDeviceManagerSkipsIsNamedToo) {
  // A hand edit that leaves the prefix two letters long: the device manager
  // skips the key before any driver sees it, so no "failed" line comes.
  std::string text = BoardRegistry(0x300, 5, "00,00,00");
  text.replace(text.find("\"Q62\""), 5, "\"Q6\"");
  const std::string path = WriteFile("prefix.reg", text + "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\Other]\r\n\"X\"=dword:1\r\n");
  ToolResult result = Run({"--registry", path, "list"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.err, HasSubstr("not every board configured in '" + path + "' loaded"));
  EXPECT_THAT(result.err, HasSubstr("skipped Drivers\\BuiltIn\\ZQS5162S0: \"Prefix\" \"Q6\""));
  // A key of no board (not ours, no "Dll") is no problem of the list.
  EXPECT_THAT(result.err, Not(HasSubstr("Other")));
  result = Run({"--registry", path, "list", "--json"});
  EXPECT_EQ(result.exitCode, 1);
  ASSERT_EQ(result.Json()["bootProblems"].size(), 1u);

  // Beside a board that loads, only the skipped board is named.
  const std::string mixed = WriteFile("mixed.reg", BoardRegistry(0x340, 9, "00,00,00", 1) + "\r\n" + text.substr(10));
  result = Run({"--registry", mixed, "list", "--json"});
  EXPECT_EQ(result.exitCode, 1);
  ASSERT_EQ(result.Json()["devices"].size(), 1u);
  ASSERT_EQ(result.Json()["bootProblems"].size(), 1u);
  EXPECT_THAT(result.Json()["bootProblems"][0].get<std::string>(), HasSubstr("ZQS5162S0"));
}

TEST_F(MessagesTest, EventsCountWordsAndTheTimeOutCode) {
  ToolResult result = Run({"events", "--enable", "di0", "--count", "1", "--timeout", "5s", "--di-square", "A0=100Hz"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_THAT(result.out, HasSubstr("waiting for events (1 event or 5 s, Ctrl-C stops)"));
  EXPECT_THAT(result.out, Not(HasSubstr("1 events")));
  result = Run({"events", "--enable", "di0", "--timeout", "0.2s"});
  EXPECT_EQ(result.exitCode, 3);
  EXPECT_THAT(result.out, HasSubstr("0 events; time-out"));
}

TEST_F(MessagesTest, TerminalCountOfAnIdleCounterIsFlagged) {
  ToolResult result = Run({"events", "--enable", "tc0", "--count", "2", "--timeout", "0.2s"});
  EXPECT_EQ(result.exitCode, 3);
  EXPECT_THAT(result.out, HasSubstr("note: counter 0 is idle, so TC0 never fires: start it first"));
  EXPECT_THAT(result.out, HasSubstr("use 'qio5162 shell' or 'run'"));
  // Counting without an input signal: a different reason.
  result = Run({"run", WriteFile("count.txt", "count start 1\nevents --enable tc1 --timeout 0.2s --json\n")});
  EXPECT_EQ(result.exitCode, 3);
  EXPECT_THAT(result.out, HasSubstr("counter 1 counts, but nothing reaches it"));
  // Counting a signal: no note, and the events come.
  result = Run({"run", WriteFile("busy.txt", "count start 1 --input 1=2MHz\nevents --enable tc1 --count 2 --timeout 5s\n")});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_THAT(result.out, Not(HasSubstr("note:")));
  EXPECT_THAT(result.out, HasSubstr("2 events; count reached"));
}

}  // namespace
}  // namespace qio::tool::test
