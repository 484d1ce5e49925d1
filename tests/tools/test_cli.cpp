// Help, usage errors, device errors, target selection, list and info.
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "ToolRunner.h"

namespace qio::tool::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class CliTest : public ToolTest {};

TEST_F(CliTest, HelpListsEveryCommandAndExitsZero) {
  const ToolResult result = Run({"--help"});
  EXPECT_EQ(result.exitCode, 0);
  for (const char* command : {"list", "info", "dio", "port", "count", "freq", "pulse", "freqout", "pwm",
                              "pwm-measure", "reset", "events", "shell", "run", "tour"}) {
    EXPECT_THAT(result.out, HasSubstr(command)) << command;
  }
  EXPECT_THAT(result.out, HasSubstr("exit codes"));
}

TEST_F(CliTest, CommandHelpShowsItsOptionsAndTheCommonOnes) {
  const ToolResult result = Run({"dio", "write", "--help"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_THAT(result.out, HasSubstr("--mask"));
  EXPECT_THAT(result.out, HasSubstr("--loopback"));
  EXPECT_THAT(result.out, HasSubstr("--registry"));
}

TEST_F(CliTest, UsageErrorsExitTwoWithAShortUsageLine) {
  struct Case {
    std::vector<std::string> args;
    const char* usage;
  };
  const Case cases[] = {
      {{}, "usage: qio5162 COMMAND"},
      {{"frobnicate"}, "usage: qio5162 COMMAND"},
      {{"dio", "write", "A"}, "usage: qio5162 dio write PORT VALUE [--mask M]"},
      {{"dio", "write", "A", "0x100"}, "usage: qio5162 dio write"},
      {{"dio", "read", "D"}, "usage: qio5162 dio read [PORT...]"},
      {{"freq", "0", "--gate", "2001"}, "usage: qio5162 freq"},
      {{"freq", "0", "--input", "0=1kXz"}, "usage: qio5162 freq"},
      {{"port", "read", "0x300", "--width", "12"}, "usage: qio5162 port read"},
      {{"events", "--enable", "di24", "--count", "1"}, "usage: qio5162 events"},
      {{"pwm", "1", "--period", "10ms"}, "usage: qio5162 pwm"},
  };
  for (const Case& c : cases) {
    const ToolResult result = Run(c.args);
    EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(c.args) << result.err;
    EXPECT_THAT(result.err, HasSubstr(c.usage)) << ::testing::PrintToString(c.args);
  }
}

TEST_F(CliTest, LibraryErrorsExitOneWithTheCodeAndItsMeaning) {
  ToolResult result = Run({"dio", "mode", "A", "in/out"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.err, HasSubstr("DioSetPortMode failed: 0x100A: invalid argument"));

  result = Run({"freqout", "0", "--divisor", "17"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.err, HasSubstr("FreqOutStart failed: 0x1020: counter parameter out of range"));

  result = Run({"info", "--device", "7"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.err, HasSubstr("DeviceOpen failed: 2: "));

  result = Run({"port", "read", "0x341"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_THAT(result.err, HasSubstr("10: port address outside the board's port window"));
}

TEST_F(CliTest, JsonErrorCarriesTheCode) {
  const ToolResult result = Run({"pulse", "0", "--period", "60s", "--json"});
  EXPECT_EQ(result.exitCode, 1);
  const nlohmann::json error = result.Json()["error"];
  EXPECT_EQ(error["code"], 0x1020);
  EXPECT_EQ(error["codeText"], "0x1020");
  EXPECT_EQ(error["call"], "CounterPulseStart");
  EXPECT_EQ(error["meaning"], "counter parameter out of range");
}

TEST_F(CliTest, ListShowsTheDefaultBoard) {
  const ToolResult result = Run({"list", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const nlohmann::json devices = result.Json()["devices"];
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0]["number"], 0);
  EXPECT_EQ(devices[0]["name"], "QIO-5162 IO=300H IRQ=5");
  EXPECT_EQ(devices[0]["base"], 0x300);
  EXPECT_EQ(devices[0]["irq"], 5);
  EXPECT_EQ(devices[0]["boardId"], 166);
  EXPECT_FALSE(devices[0]["stream"].get<std::string>().empty());

  const ToolResult text = Run({"list"});
  EXPECT_EQ(text.exitCode, 0);
  EXPECT_THAT(text.out, HasSubstr("QIO-5162 IO=300H IRQ=5"));
}

TEST_F(CliTest, RegistryFileBootsItsOwnBoard) {
  const std::string path = WriteFile("board.reg", BoardRegistry(0x200, 7, "01,00,03"));
  const ToolResult list = Run({"list", "--registry", path, "--json"});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  const nlohmann::json devices = list.Json()["devices"];
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0]["base"], 0x200);
  EXPECT_EQ(devices[0]["irq"], 7);
  EXPECT_EQ(devices[0]["ports"], nlohmann::json::array({"out", "in", "in/out"}));

  // The board's directions come from the script: port A drives port B.
  const ToolResult write = Run({"dio", "write", "A", "0x5A", "--loopback", "A:B", "--registry", path, "--json"});
  ASSERT_EQ(write.exitCode, 0) << write.err;
  EXPECT_EQ(write.Json()["pins"], 0x5A);
  EXPECT_EQ(write.Json()["direction"], "out");

  const ToolResult missing = Run({"list", "--registry", dir_ + "/none.reg"});
  EXPECT_EQ(missing.exitCode, 2);
  const ToolResult broken = Run({"list", "--registry", WriteFile("bad.reg", "[HKEY_LOCAL_MACHINE\\X\n\"a\"=zzz\n")});
  EXPECT_EQ(broken.exitCode, 1);
  EXPECT_THAT(broken.err, HasSubstr("booting the target"));
}

TEST_F(CliTest, SecondDeviceHasItsOwnErrorBase) {
  const std::string path = WriteFile("two.reg", BoardRegistry(0x300, 5, "00,00,00") +
                                                    BoardRegistry(0x340, 9, "01,01,01", 1, false));
  const ToolResult list = Run({"list", "--registry", path, "--json"});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  const nlohmann::json devices = list.Json()["devices"];
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[1]["number"], 1);
  EXPECT_EQ(devices[1]["name"], "QIO-5162 IO=340H IRQ=9");

  const ToolResult config = Run({"dio", "config", "--registry", path, "--device", "1", "--json"});
  ASSERT_EQ(config.exitCode, 0) << config.err;
  EXPECT_EQ(config.Json()["ports"][0]["direction"], "out");
  const ToolResult error = Run({"dio", "mode", "A", "in/out", "--registry", path, "--device", "1"});
  EXPECT_EQ(error.exitCode, 1);
  EXPECT_THAT(error.err, HasSubstr("0x200A: invalid argument (device 1)"));
}

TEST_F(CliTest, InfoDecodesFeaturesAndEveryProperty) {
  const ToolResult result = Run({"info", "--json"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const nlohmann::json info = result.Json();
  EXPECT_EQ(info["features"]["version"], "Ver 2.1");
  EXPECT_EQ(info["features"]["library"], "Zqs5162.dll");
  EXPECT_EQ(info["features"]["boardId"], 166);
  EXPECT_EQ(info["features"]["diChannels"], 24);
  bool sawLimits = false;
  for (const nlohmann::json& property : info["properties"]) {
    if (property["id"] == 0x0003) {
      EXPECT_EQ(property["value"], 0x300);
    }
    if (property["id"] == 0x3C83) {
      EXPECT_EQ(property["value"], 24);
    }
    if (property["id"] == 0x5008) {
      sawLimits = true;
      EXPECT_NEAR(property["value"][0].get<double>(), 0.0005, 1e-9);
      EXPECT_EQ(property["value"][1].get<double>(), 60.0);
    }
  }
  EXPECT_TRUE(sawLimits);
  EXPECT_EQ(info["properties"].size(), 27u);

  const ToolResult text = Run({"info"});
  EXPECT_THAT(text.out, HasSubstr("features: library \"Ver 2.1\""));
  EXPECT_THAT(text.out, Not(HasSubstr("error")));
}

// Output that cannot be written (a full disk behind a redirection) is a
// failure: the result is lost, so exit code 0 would tell a script otherwise.
TEST_F(CliTest, OutputThatCannotBeWrittenIsAFailure) {
  const std::string err = dir_ + "/err.txt";
  auto run = [&err](const std::string& args) {
    const int status = std::system((std::string(QIO5162_TOOL) + " " + args + " >/dev/full 2>" + err).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  for (const char* args : {"list", "list --json", "--virtual-time dio read A --json", "--help"}) {
    EXPECT_EQ(run(args), 1) << args;
    std::ifstream file(err);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_THAT(text, HasSubstr("qio5162: writing the output failed")) << args;
  }
  // A command that failed keeps its own exit code.
  EXPECT_EQ(run("dio read D --json"), 2);
  EXPECT_EQ(Run({"list"}).exitCode, 0);
}

}  // namespace
}  // namespace qio::tool::test
