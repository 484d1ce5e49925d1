// Opening a script: which file is accepted, and the key names derived from
// the component directory of its path.
#include <fcntl.h>

#include <cerrno>

#include "ScriptTestSupport.h"
#include "config/script/RegScriptFile.h"
#include "config/script/ScriptNames.h"
#include "config/script/ScriptPath.h"

namespace qio::config {
namespace {

using testing::ScriptTree;

TEST(ScriptOpen, BuiltInBoardNamesFromItsComponentDirectory) {
  ScriptTree tree;
  tree.Write("");
  RegScriptFile script;
  ASSERT_EQ(script.Open(tree.script().c_str()), 0);
  EXPECT_STREQ(script.componentName(), "QIO5162");
  EXPECT_STREQ(script.driverKeyName(), "ZQS5162S");
  EXPECT_EQ(script.busKind(), kBusBuiltIn);
  EXPECT_STREQ(script.keyPrefix(), "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S");
  EXPECT_EQ(script.HeaderLine(0), "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S0]");
  EXPECT_EQ(script.HeaderLine(15), "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S15]");
  EXPECT_EQ(script.SearchKey(1), "ZQS5162S1]");
  EXPECT_EQ(script.fileSize(), 0u);
}

TEST(ScriptOpen, PciTemplatePrefix) {
  ScriptTree tree("PCI5162");
  tree.Write("");
  RegScriptFile script;
  ASSERT_EQ(script.Open(tree.script().c_str()), 0);
  EXPECT_EQ(script.busKind(), kBusPci);
  EXPECT_STREQ(script.keyPrefix(),
               "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\PCI\\Template\\ZQS5162S\\Template");
  EXPECT_EQ(script.SearchKey(3), "Template3]");
}

// Without the "Template" component the header ends in the driver key name, and
// that is what its sections are found by.
TEST(ScriptOpen, PciBoardWhoseKeyHasNoTemplateComponentFindsItsSections) {
  ScriptTree tree("PCI5175");
  tree.Write("");
  RegScriptFile script;
  ASSERT_EQ(script.Open(tree.script().c_str()), 0);
  EXPECT_EQ(script.busKind(), kBusPci);
  EXPECT_STREQ(script.keyPrefix(), "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\PCI\\Template\\ZQS5175S");
  ASSERT_EQ(script.AppendSection(2), 0);
  EXPECT_TRUE(script.SectionExists(2));
  ASSERT_EQ(script.Locate(2), 0);
  EXPECT_EQ(script.sectionStart(), 3u);  // after the " " CR LF before the header
}

TEST(ScriptOpen, UsbClientDriverPrefix) {
  ScriptTree tree("USB5162");
  tree.Write("");
  RegScriptFile script;
  ASSERT_EQ(script.Open(tree.script().c_str()), 0);
  EXPECT_EQ(script.busKind(), kBusUsb);
  EXPECT_STREQ(script.keyPrefix(),
               "[HKEY_LOCAL_MACHINE\\Drivers\\USB\\ClientDrivers\\USB5162_Class\\Template");
  EXPECT_EQ(script.SearchKey(0), "Template0]");
  ASSERT_EQ(script.AppendSection(0), 0);
  ASSERT_EQ(script.Locate(0), 0);
  EXPECT_EQ(script.sectionStart(), 3u);
  EXPECT_EQ(script.sectionEnd(), script.fileSize());
}

TEST(ScriptOpen, RootDirectoryNamesDoNotChangeTheKeys) {
  ScriptTree tree;
  const std::string dir = tree.root() + "USB_PCI_stick/Public/Quillory/Device_Drivers/QIO5162";
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/QIO5162.reg";
  testing::WriteFile(path, "");
  RegScriptFile script;
  ASSERT_EQ(script.Open(path.c_str()), 0);
  EXPECT_EQ(script.busKind(), kBusBuiltIn);
  EXPECT_STREQ(script.keyPrefix(), "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S");
}

// The key names come from the image tree's own Device_Drivers folder, not
// from a root directory that happens to be named like it.
TEST(ScriptOpen, RootNamedLikeTheDriversFolderDoesNotChangeTheKeys) {
  ScriptTree tree;
  for (const char* root : {"my_Device_Drivers_tree/", "Device_Drivers/", "Device_Drivers/QIO/"}) {
    const std::string dir = tree.root() + root + "Public/Quillory/Device_Drivers/QIO5162";
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/QIO5162.reg";
    testing::WriteFile(path, "");
    RegScriptFile script;
    ASSERT_EQ(script.Open(path.c_str()), 0) << root;
    EXPECT_STREQ(script.componentName(), "QIO5162") << root;
    EXPECT_STREQ(script.keyPrefix(), "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S") << root;
    ASSERT_EQ(script.AppendSection(0), 0);
    EXPECT_EQ(testing::ReadFile(path), " \r\n[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S0] \r\n") << root;
  }
}

TEST(ScriptOpen, MissingScriptIsAnErrorAndIsNotCreated) {
  ScriptTree tree;
  RegScriptFile script;
  EXPECT_EQ(script.Open(tree.script().c_str()), ENOENT);
  EXPECT_FALSE(script.IsOpen());
  EXPECT_FALSE(tree.Exists());
  EXPECT_FALSE(script.SectionExists(0));
  EXPECT_NE(script.AppendSection(0), 0);
  EXPECT_FALSE(tree.Exists());
}

TEST(ScriptOpen, ReadOnlyScriptIsRefused) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  ScriptTree tree;
  tree.Write("; keep\r\n");
  ASSERT_EQ(::chmod(tree.script().c_str(), 0444), 0);
  RegScriptFile script;
  EXPECT_EQ(script.Open(tree.script().c_str()), EACCES);
}

TEST(ScriptOpen, DirectoryIsNoScript) {
  ScriptTree tree;
  std::filesystem::create_directories(tree.script());
  RegScriptFile script;
  EXPECT_NE(script.Open(tree.script().c_str()), 0);
  EXPECT_FALSE(script.IsOpen());
}

TEST(ScriptOpen, PathWithoutComponentDirectoryIsRefused) {
  ScriptTree tree;
  const std::string path = tree.root() + "QIO5162.reg";
  testing::WriteFile(path, "");
  RegScriptFile script;
  EXPECT_EQ(script.Open(path.c_str()), EINVAL);
  EXPECT_FALSE(script.IsOpen());
}

// The component's name becomes part of every header line: a line break (or
// any control character, which no registry key takes) in it is refused
// before the script is touched, instead of headers split over two lines that
// are never found again.
TEST(ScriptOpen, ComponentNameWithAControlCharacterIsRefused) {
  ScriptTree tree;
  for (const std::string component : {"QIO\n162", "QIO5\r62", "QI\tO5162"}) {
    const std::string dir = tree.root() + "Device_Drivers/" + component;
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/x.reg";
    testing::WriteFile(path, "; kept\r\n");
    RegScriptFile script;
    EXPECT_EQ(script.Open(path.c_str()), EINVAL) << component;
    EXPECT_FALSE(script.IsOpen());
    EXPECT_EQ(testing::ReadFile(path), "; kept\r\n");
  }
  ScriptNames names;
  const std::string withNul = std::string("/t/Device_Drivers/QIO") + '\0' + "162/x.reg";
  EXPECT_EQ(DeriveScriptNames(withNul, names), EINVAL);
  EXPECT_EQ(names.busKind, -1);
  // A control character outside the component's seven characters is no part
  // of any key.
  EXPECT_EQ(DeriveScriptNames("/t/Device_Drivers/QIO5162\n/x.reg", names), 0);
  EXPECT_EQ(names.keyPrefix, "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S");
}

TEST(ScriptOpen, ShortComponentNameIsReadWithinThePath) {
  ScriptTree tree;
  const std::string dir = tree.root() + "Device_Drivers/QIO";
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/Q";
  testing::WriteFile(path, "");
  RegScriptFile script;
  ASSERT_EQ(script.Open(path.c_str()), 0);
  EXPECT_STREQ(script.componentName(), "QIO/Q");
  EXPECT_STREQ(script.driverKeyName(), "ZQS/QS");
  EXPECT_EQ(script.busKind(), kBusBuiltIn);
}

TEST(ScriptOpen, PathMustFitWithItsTerminator) {
  ScriptTree tree;
  std::string base = tree.root();
  // Pad the root so that the script path is exactly 259 characters.
  const std::size_t fixed = std::string("Public/Quillory/Device_Drivers/QIO5162/QIO5162.reg").size();
  const std::size_t pad = RegScriptFile::kPathChars - 1 - fixed - base.size();
  const std::string root = base + std::string(pad - 1, 'r') + "/";
  const auto fits = ScriptPathFor(root, "QIO5162");
  ASSERT_TRUE(fits);
  EXPECT_EQ(fits->size(), RegScriptFile::kPathChars - 1);
  std::filesystem::create_directories(std::filesystem::path(*fits).parent_path());
  testing::WriteFile(*fits, "");
  RegScriptFile script;
  EXPECT_EQ(script.Open(fits->c_str()), 0);

  EXPECT_FALSE(ScriptPathFor(root + "x", "QIO5162"));
  const std::string longer = root + "x/Public/Quillory/Device_Drivers/QIO5162/QIO5162.reg";
  RegScriptFile other;
  EXPECT_EQ(other.Open(longer.c_str()), ENAMETOOLONG);
}

TEST(ScriptPath, BuiltFromRootAndSevenCharactersOfTheComponent) {
  EXPECT_EQ(*ScriptPathFor("/tree/", "QIO5162-extra"),
            "/tree/Public/Quillory/Device_Drivers/QIO5162/QIO5162.reg");
}

}  // namespace
}  // namespace qio::config
