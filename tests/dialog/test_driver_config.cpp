// DriverConfig of libQIO5162Cfg.so, loaded by name as the image-build tool
// loads it: the script path, the immediate return with the window left open
// in a Qt host, its own event loop in a host without one, and a host without
// a display.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTest>
#include <QWidget>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "ScriptTestSupport.h"

namespace {

using qio::config::testing::ReadFile;
using qio::config::testing::ScriptTree;
using DriverConfigFunction = std::int32_t (*)(std::uint32_t, const char*, const char*, const char*);

constexpr const char* kScript = "; QIO-5162 registry script\r\n";
constexpr const char* kCaption = "QIO-5162 device setting templates";

// A user at the window DriverConfig runs itself: when the call makes its own
// application object, click Add, then Close, and answer the question with OK.
bool gActAsUser = false;
bool gUserSawPrompt = false;

QWidget* VisibleSettingsWindow();

void ActAsUser() {
  if (!gActAsUser) return;
  QTimer::singleShot(0, [] {
    QWidget* window = VisibleSettingsWindow();
    if (window == nullptr) return;
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("control1124")), Qt::LeftButton);
    QTimer::singleShot(0, [] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      gUserSawPrompt = box->windowTitle() == "Note";
      QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("control2")), Qt::LeftButton);
  });
}
Q_COREAPP_STARTUP_FUNCTION(ActAsUser)

QWidget* VisibleSettingsWindow() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible() && widget->windowTitle() == kCaption) return widget;
  }
  return nullptr;
}

class DriverConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plugin_ = dlopen(QIO_CFG_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(plugin_, nullptr) << dlerror();
    entry_ = reinterpret_cast<DriverConfigFunction>(dlsym(plugin_, "DriverConfig"));
    ASSERT_NE(entry_, nullptr);
    tree_.Write(kScript);
  }

  static int SettingsWindows() {
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) count += widget->windowTitle() == kCaption ? 1 : 0;
    return count;
  }
  // Width and height from a PNG file's header.
  static std::pair<unsigned, unsigned> PngSize(const std::string& path) {
    const std::string bytes = ReadFile(path);
    if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0) return {0, 0};
    const auto be32 = [&](std::size_t at) {
      return (static_cast<unsigned>(static_cast<unsigned char>(bytes[at])) << 24) |
             (static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 1])) << 16) |
             (static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 2])) << 8) |
             static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 3]));
    };
    return {be32(16), be32(20)};
  }

  void* plugin_ = nullptr;
  DriverConfigFunction entry_ = nullptr;
  ScriptTree tree_;
};

TEST_F(DriverConfigTest, ArgumentsThatNameNoScriptGiveZero) {
  EXPECT_EQ(entry_(0, nullptr, "QIO5162", ""), 0);
  EXPECT_EQ(entry_(0, tree_.root().c_str(), nullptr, ""), 0);
  const std::string longRoot = "/" + std::string(250, 'r') + "/";
  EXPECT_EQ(entry_(0, longRoot.c_str(), "QIO5162", ""), 0);
  EXPECT_EQ(QApplication::instance(), nullptr);
}

TEST_F(DriverConfigTest, InAQtHostItReturnsOneAtOnceAndTheWindowStaysOpen) {
  static int argc = 1;
  static char name[] = "host";
  static char* argv[] = {name, nullptr};
  QApplication host(argc, argv);
  // The component name is cut to its first 7 characters.
  EXPECT_EQ(entry_(0, tree_.root().c_str(), "QIO5162-extra", nullptr), 1);
  QWidget* window = VisibleSettingsWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(SettingsWindows(), 1);
  // Configured again: the open window comes forward, no second one.
  EXPECT_EQ(entry_(0, tree_.root().c_str(), "QIO5162", ""), 1);
  EXPECT_EQ(SettingsWindows(), 1);

  auto* add = window->findChild<QPushButton*>(QStringLiteral("control1124"));
  auto* save = window->findChild<QPushButton*>(QStringLiteral("control1"));
  auto* close = window->findChild<QPushButton*>(QStringLiteral("control2"));
  ASSERT_TRUE(add && save && close);
  QTest::mouseClick(add, Qt::LeftButton);
  QTest::mouseClick(save, Qt::LeftButton);
  EXPECT_NE(tree_.Read().find("[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S0] \r\n"), std::string::npos);
  QTest::mouseClick(close, Qt::LeftButton);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(SettingsWindows(), 0);
}

TEST_F(DriverConfigTest, WithoutAHostApplicationItRunsTheWindowUntilItIsClosed) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  gActAsUser = true;
  EXPECT_EQ(entry_(0, tree_.root().c_str(), "QIO5162", ""), 1);  // after the user closed the window
  gActAsUser = false;
  EXPECT_TRUE(gUserSawPrompt);
  EXPECT_EQ(QApplication::instance(), nullptr);
  EXPECT_NE(tree_.Read().find("[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\ZQS5162S0] \r\n"), std::string::npos);
}

TEST_F(DriverConfigTest, WithoutAHostApplicationItCanDrawTheWindowAndReturn) {
  // The screenshot request closes the window once it is drawn, so the call's
  // own event loop ends without a user.
  const auto shots = std::filesystem::path(tree_.root()) / "shots";
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("QIO5162CFG_SCREENSHOT", shots.c_str(), 1);
  EXPECT_EQ(entry_(0, tree_.root().c_str(), "QIO5162", ""), 1);
  EXPECT_EQ(QApplication::instance(), nullptr);  // made and gone again
  for (const char* file : {"settings-board", "settings-device", "settings-dio", "settings-counter", "page-device",
                           "page-dio", "page-counter", "message-save", "message-templates", "message-same-irq",
                           "message-no-free-irq"}) {
    EXPECT_TRUE(std::filesystem::exists(shots / (std::string(file) + ".png"))) << file;
  }
  EXPECT_EQ(PngSize((shots / "settings-device.png").string()), (std::pair<unsigned, unsigned>{519, 410}));
  EXPECT_EQ(PngSize((shots / "page-device.png").string()), (std::pair<unsigned, unsigned>{336, 328}));
  // The template added for the pictures was never saved.
  EXPECT_EQ(tree_.Read(), kScript);
}

TEST_F(DriverConfigTest, WithoutADisplayItReturnsOneAndOpensNothing) {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) unsetenv(name);
  EXPECT_EQ(entry_(0, tree_.root().c_str(), "QIO5162", ""), 1);
  EXPECT_EQ(QApplication::instance(), nullptr);
  EXPECT_EQ(tree_.Read(), kScript);
}

}  // namespace
