// qio5162-cfg gui: the plug-in loaded by name and driven to the end, as the
// image-build tool drives it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "ScriptTestSupport.h"

namespace {

using qio::config::testing::ReadFile;
using qio::config::testing::ScriptTree;

constexpr const char* kScript = "; QIO-5162 registry script\r\n";

class CfgGuiTest : public ::testing::Test {
 protected:
  void SetUp() override { tree_.Write(kScript); }
  // Exit code of the tool run with `environment` and `args`; stderr into
  // `errors`.
  int Run(const std::string& environment, const std::string& args) {
    const std::string errFile = tree_.root() + "stderr.txt";
    const std::string command = "env " + environment + " '" + QIO_CFG_TOOL + "' --root '" + tree_.root() + "' " +
                                args + " >/dev/null 2>'" + errFile + "'";
    const int status = std::system(command.c_str());
    errors_ = ReadFile(errFile);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  ScriptTree tree_;
  std::string errors_;
};

TEST_F(CfgGuiTest, ScreenshotRendersEveryWindowAndPageAndLeavesTheScript) {
  const std::string shots = tree_.root() + "shots";
  ASSERT_EQ(Run("-u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM", "gui --screenshot '" + shots + "'"), 0) << errors_;
  int pictures = 0;
  for (const auto& entry : std::filesystem::directory_iterator(shots)) pictures += entry.path().extension() == ".png";
  EXPECT_EQ(pictures, 11);
  EXPECT_TRUE(std::filesystem::exists(shots + "/settings-device.png"));
  EXPECT_EQ(tree_.Read(), kScript);
}

TEST_F(CfgGuiTest, WithoutADisplayTheToolSaysSoAndFails) {
  EXPECT_EQ(Run("-u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM", "gui"), 1);
  EXPECT_NE(errors_.find("no display"), std::string::npos) << errors_;
}

TEST_F(CfgGuiTest, AMissingRootIsAUsageError) {
  const std::string command = std::string("'") + QIO_CFG_TOOL + "' gui >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  EXPECT_EQ(WEXITSTATUS(status), 2);
}

}  // namespace
