// Workstation -> image -> target: qio5162-cfg writes the templates into an
// image-build tree's registry script, and qio5162 boots a target from it.
#include <filesystem>

#include "ToolRunner.h"

namespace qio::tool::test {
namespace {

using ::testing::HasSubstr;

class ChainTest : public ToolTest {
 protected:
  // Runs qio5162-cfg on the scratch tree (same runner, other binary).
  int Cfg(std::vector<std::string> args) {
    args.insert(args.begin(), {"--root", dir_});
    return RunProgram(QIO5162_CFG_TOOL, args).exitCode;
  }
};

TEST_F(ChainTest, TemplatesWrittenByTheConfigToolBootAsBoards) {
  const std::string folder = dir_ + "/Public/Quillory/Device_Drivers/QIO5162";
  std::filesystem::create_directories(folder);
  const std::string script = WriteFile("Public/Quillory/Device_Drivers/QIO5162/QIO5162.reg", "REGEDIT4\r\n");
  ASSERT_EQ(Cfg({"add"}), 0);
  ASSERT_EQ(Cfg({"add"}), 0);
  ASSERT_EQ(Cfg({"set", "1", "--base", "0x280", "--irq", "11", "--port-a", "out"}), 0);

  const ToolResult list = Run({"list", "--registry", script, "--json"});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  const nlohmann::json devices = list.Json()["devices"];
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[1]["base"], 0x280);
  EXPECT_EQ(devices[1]["irq"], 11);
  EXPECT_EQ(devices[1]["ports"][0], "out");

  // Port A of the second board is an output, as the template says.
  const ToolResult write =
      Run({"dio", "write", "A", "0x5A", "--loopback", "A:B", "--registry", script, "--device", "1", "--json"});
  ASSERT_EQ(write.exitCode, 0) << write.err;
  EXPECT_EQ(write.Json()["pins"], 0x5A);
}

}  // namespace
}  // namespace qio::tool::test
