// qio5162-cfg run as a process on a script made from scratch: outputs, exit
// codes and the script's bytes.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "CfgToolRun.h"

namespace qio::config {
namespace {

using testing::Header;
using testing::NewSection;

using testing::ToolRun;

class CfgTool : public ::testing::Test {
 protected:
  // Runs the tool with `args` (already shell-safe words) under the tree.
  ToolRun Tool(const std::string& args, bool withRoot = true) { return testing::RunCfgTool(tree_, args, withRoot); }

  testing::ScriptTree tree_;
};

TEST_F(CfgTool, BuildsTemplatesInAnEmptyScript) {
  tree_.Write("");
  ToolRun run = Tool("list");
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out, "Slot  Base   IRQ  PortA   PortB   PortC\n");
  EXPECT_EQ(Tool("list --json").out, "[]\n");

  run = Tool("add");
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "Added Template0: base 0x100, IRQ 3, port A in, port B in, port C in\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Tool("add").code, 0);
  EXPECT_EQ(tree_.Read(), NewSection(0, "100", "3") + NewSection(1, "140", "4"));

  run = Tool("list");
  EXPECT_EQ(run.out,
            "Slot  Base   IRQ  PortA   PortB   PortC\n"
            "0     0x100  3    in      in      in\n"
            "1     0x140  4    in      in      in\n");
}

TEST_F(CfgTool, SetChangesBaseLineAndDirections) {
  tree_.Write("");
  ASSERT_EQ(Tool("add").code, 0);
  ASSERT_EQ(Tool("add").code, 0);
  ToolRun run = Tool("set 1 --base 0x300 --irq 9 --port-a out --port-c in/out");
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "Template1: base 0x300, IRQ 9, port A out, port B in, port C in/out\n");
  EXPECT_EQ(tree_.Read(), NewSection(0, "100", "3") + NewSection(1, "300", "9", "01,00,03"));
  EXPECT_EQ(Tool("list --json").out,
            "[\n"
            "  {\"slot\": 0, \"template\": \"Template0\", \"base\": 256, \"irq\": 3, \"portA\": \"in\", "
            "\"portB\": \"in\", \"portC\": \"in\", \"portCCode\": 0},\n"
            "  {\"slot\": 1, \"template\": \"Template1\", \"base\": 768, \"irq\": 9, \"portA\": \"out\", "
            "\"portB\": \"in\", \"portC\": \"in/out\", \"portCCode\": 3}\n"
            "]\n");
  run = Tool("set 1 --port-b out --port-c out/in");
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out, "Template1: base 0x300, IRQ 9, port A out, port B out, port C out/in\n");
}

TEST_F(CfgTool, BaseOfAnotherTemplateIsRefusedAndNothingChanges) {
  tree_.Write("");
  ASSERT_EQ(Tool("add").code, 0);
  ASSERT_EQ(Tool("add").code, 0);
  const std::string before = tree_.Read();
  ToolRun run = Tool("set 1 --base 0x100 --irq 5");
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.err, "qio5162-cfg: base address 0x100 is already used by a template\n");
  EXPECT_EQ(tree_.Read(), before);
  // Its own base is no conflict: nothing to change.
  EXPECT_EQ(Tool("set 1 --base 0x140").code, 0);
  EXPECT_EQ(tree_.Read(), before);
}

TEST_F(CfgTool, LineInUseIsAcceptedWithTheWarning) {
  tree_.Write("");
  ASSERT_EQ(Tool("add").code, 0);
  ASSERT_EQ(Tool("add").code, 0);
  ToolRun run = Tool("set 1 --irq 3");
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.err, "Warning: The same IRQ is selected, conflict might occur\n");
  EXPECT_EQ(tree_.Read(), NewSection(0, "100", "3") + NewSection(1, "140", "3"));
}

TEST_F(CfgTool, RemoveThenAddReusesTheSlot) {
  tree_.Write("; keep this\r\n");
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Tool("add").code, 0);
  ToolRun run = Tool("remove 0");
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out, "Removed Template0\n");
  EXPECT_EQ(tree_.Read().find("ZQS5162S0]"), std::string::npos);
  run = Tool("add");
  EXPECT_EQ(run.out, "Added Template0: base 0x100, IRQ 3, port A in, port B in, port C in\n");
  EXPECT_EQ(tree_.Read().substr(0, 13), "; keep this\r\n");

  run = Tool("remove 5");
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.err, "qio5162-cfg: Template5 does not exist\n");
}

// The sections the first `count` adds on an empty script leave.
std::string Templates(int count) {
  static const char* const kLines[] = {"3", "4", "5", "6", "7", "9", "b", "c", "f"};
  std::string text;
  for (int n = 0; n < count; ++n) {
    char base[8];
    std::snprintf(base, sizeof base, "%x", n < 12 ? 0x100 + 0x40 * n : 0x3C0);
    text += NewSection(n, base, n < 9 ? kLines[n] : "3");
  }
  return text;
}

TEST_F(CfgTool, TenthTemplateWarnsAndSeventeenthIsRefused) {
  tree_.Write("");
  ASSERT_EQ(Tool("add").err, "");
  ASSERT_EQ(tree_.Read(), Templates(1));
  tree_.Write(Templates(9));
  ToolRun run = Tool("add");
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.err, "Warning: No free IRQ can be allocated, conflict might occur\n");
  EXPECT_EQ(run.out, "Added Template9: base 0x340, IRQ 3, port A in, port B in, port C in\n");
  EXPECT_EQ(tree_.Read(), Templates(10));

  tree_.Write(Templates(15));
  run = Tool("add");
  EXPECT_EQ(run.out, "Added Template15: base 0x3c0, IRQ 3, port A in, port B in, port C in\n");
  EXPECT_EQ(tree_.Read(), Templates(16));
  run = Tool("add");
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.err, "qio5162-cfg: Support up to 16 Templates\n");
  EXPECT_EQ(tree_.Read(), Templates(16));
}

// Several runs at once (a build pipeline's parallel jobs): each run's change
// lands, and none undoes another's.
TEST_F(CfgTool, RunsAtTheSameTimeLoseNoChange) {
  tree_.Write("; hand-written header\r\n");
  const std::string tool = std::string(QIO_CFG_TOOL) + " --root " + tree_.root();
  auto together = [&tool](const std::vector<std::string>& commands) {
    std::string line;
    for (const std::string& command : commands) line += tool + " " + command + " >/dev/null 2>&1 & ";
    return std::system((line + "wait").c_str());
  };
  ASSERT_EQ(together({"add", "add", "add", "add", "add", "add", "add", "add"}), 0);
  ToolRun run = Tool("list --json");
  EXPECT_EQ(run.code, 0) << run.err;
  for (int n = 0; n < 8; ++n) {
    EXPECT_NE(run.out.find("\"slot\": " + std::to_string(n) + ","), std::string::npos) << run.out;
  }
  EXPECT_EQ(run.out.find("\"slot\": 8,"), std::string::npos) << run.out;
  EXPECT_EQ(tree_.StrayFiles(), 0);

  const char* const bases[] = {"0x300", "0x340", "0x380"};
  const char* const lines[] = {"9", "11", "12"};
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(together({"set 0 --base " + std::string(bases[round]), "set 1 --irq " + std::string(lines[round]),
                        "set 2 --port-a out --port-c out/in", "remove " + std::to_string(5 + round)}),
              0);
    run = Tool("list");
    EXPECT_NE(run.out.find(std::string("0     ") + bases[round] + "  3 "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(std::string("1     0x140  ") + lines[round] + " "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("2     0x180  5    out     in      out/in"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("\n" + std::to_string(5 + round) + "     "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\n4     0x200"), std::string::npos) << run.out;
  }
  EXPECT_EQ(tree_.Read().rfind("; hand-written header\r\n", 0), 0u);
}

TEST_F(CfgTool, MissingScriptIsAnErrorAndIsNotCreated) {
  for (const char* command : {"list", "add", "remove 0", "set 0 --irq 5"}) {
    ToolRun run = Tool(command);
    EXPECT_EQ(run.code, 1) << command;
    EXPECT_NE(run.err.find("cannot open"), std::string::npos) << command;
    EXPECT_FALSE(tree_.Exists()) << command;
  }
}

TEST_F(CfgTool, ListThatCannotBeWrittenIsAFailure) {
  tree_.Write("");
  ASSERT_EQ(Tool("add").code, 0);
  const std::string err = tree_.root() + "full.txt";
  for (const char* command : {"list", "list --json", "add"}) {
    const std::string line =
        std::string(QIO_CFG_TOOL) + " --root " + tree_.root() + " " + command + " >/dev/full 2>" + err;
    const int status = std::system(line.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1) << command;
    EXPECT_NE(testing::ReadFile(err).find("writing the output failed"), std::string::npos) << command;
  }
  // The add itself was saved: only its report was lost.
  EXPECT_NE(Tool("list").out.find("\n1     0x140"), std::string::npos);
}

TEST_F(CfgTool, UsageErrorsExitTwo) {
  tree_.Write("");
  for (const char* command : {"", "frobnicate", "set 1 --base 0x123", "set 16", "set x",
                              "set 0 --irq 8", "set 0 --port-c sideways", "remove", "list --yaml"}) {
    ToolRun run = Tool(command);
    EXPECT_EQ(run.code, 2) << command;
    EXPECT_NE(run.err.find("usage: qio5162-cfg"), std::string::npos) << command;
  }
  ToolRun run = Tool("list", false);
  EXPECT_EQ(run.code, 2);
  EXPECT_EQ(tree_.Read(), "");
}

TEST_F(CfgTool, HelpListsTheCommands) {
  ToolRun run = Tool("--help", false);
  EXPECT_EQ(run.code, 0);
  for (const char* word : {"--root", "--component", "list", "add", "remove", "set"}) {
    EXPECT_NE(run.out.find(word), std::string::npos) << word;
  }
  run = Tool("set --help", false);
  EXPECT_EQ(run.code, 0);
  EXPECT_NE(run.out.find("--port-c"), std::string::npos);
}

TEST_F(CfgTool, OtherComponentAndRootWithoutSlash) {
  testing::ScriptTree other("QIO5170");
  other.Write("");
  std::string root = other.root();
  root.pop_back();
  const std::string command = std::string(QIO_CFG_TOOL) + " --root " + root +
                              " --component QIO5170 add >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_NE(other.Read().find("[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5170S0] \r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace qio::config
