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

// The script as regedit saves it (UTF-16LE with its mark), edited by the
// config tool and booted by qio5162; a folder given as the script is refused.
TEST_F(ChainTest, Utf16ScriptFromRegeditBootsAfterTheConfigToolEditedIt) {
  const std::string folder = dir_ + "/Public/Quillory/Device_Drivers/QIO5162";
  std::filesystem::create_directories(folder);
  const std::string header = "Windows Registry Editor Version 5.00\r\n\r\n; boards of this image\r\n";
  std::string wide = "\xFF\xFE";
  for (const char c : header) wide += std::string{c, '\0'};
  const std::string script = WriteFile("Public/Quillory/Device_Drivers/QIO5162/QIO5162.reg", wide);
  ASSERT_EQ(Cfg({"add"}), 0);
  ASSERT_EQ(Cfg({"set", "0", "--base", "0x240", "--irq", "12"}), 0);

  const ToolResult list = Run({"list", "--registry", script, "--json"});
  ASSERT_EQ(list.exitCode, 0) << list.err;
  const nlohmann::json devices = list.Json()["devices"];
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0]["base"], 0x240);
  EXPECT_EQ(devices[0]["irq"], 12);

  const ToolResult folderGiven = Run({"list", "--registry", folder});
  EXPECT_EQ(folderGiven.exitCode, 2);
  EXPECT_THAT(folderGiven.err, HasSubstr("is a directory"));
}

}  // namespace
}  // namespace qio::tool::test
