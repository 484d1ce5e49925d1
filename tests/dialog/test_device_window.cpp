// DeviceConfigExt with its Qt view module on the offscreen platform, on a
// booted hosted target: the modal dialog is found and clicked as a user
// would, and what it wrote is read back from the target's registry and used
// at the next boot.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "FakeDeviceView.h"
#include "qio/platform/registry.h"
#include "qio5162/Zqs5162.h"
#include "qio5162/target.h"

namespace {

using qio::library::dialog::test::KeyLines;

constexpr const char* kService = "SYSTEM\\CurrentControlSet\\Services\\ZQS5162S";

class DeviceWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(qio_target_boot(nullptr, &target_), QIO_TARGET_OK) << qio_target_last_message();
  }
  void TearDown() override {
    if (target_ != nullptr) qio_target_shutdown(target_);
  }
  void StartHost() {
    static int argc = 1;
    static char name[] = "host";
    static char* argv[] = {name, nullptr};
    host_ = std::make_unique<QApplication>(argc, argv);
  }
  // Runs `user` on the dialog once it is up, then DeviceConfigExt's result.
  std::uint32_t RunDialog(std::uint32_t device, std::function<void(QDialog&)> user) {
    bool seen = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      seen = true;
      user(*dialog);
    });
    const std::uint32_t result = DeviceConfigExt(device, 0, nullptr);
    EXPECT_TRUE(seen);
    return result;
  }
  static QComboBox* List(QDialog& dialog, int id) {
    return dialog.findChild<QComboBox*>(QStringLiteral("control%1").arg(id));
  }
  static void Press(QDialog& dialog, int id) {
    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("control%1").arg(id)), Qt::LeftButton);
  }

  QioTarget* target_ = nullptr;
  std::unique_ptr<QApplication> host_;
};

TEST_F(DeviceWindowTest, TheDialogShowsTheBootedBoardAndOkWritesTheChoices) {
  StartHost();
  QString title;
  QString base;
  QString irq;
  bool modal = false;
  const std::uint32_t result = RunDialog(0, [&](QDialog& dialog) {
    title = dialog.windowTitle();
    modal = dialog.isModal();
    base = List(dialog, 1024)->currentText();
    irq = List(dialog, 1026)->currentText();
    QTest::keyClick(List(dialog, 1017), Qt::Key_Down);   // port A OUT
    QTest::keyClick(List(dialog, 1014), Qt::Key_Down);   // port C lines 4-7 OUT
    QTest::keyClick(List(dialog, 1024), Qt::Key_Home);   // 0x100
    Press(dialog, 1);
  });
  EXPECT_EQ(result, ZQS_DIALOG_OK);
  EXPECT_EQ(title, "QIO-5162 Device Setting");
  EXPECT_TRUE(modal);
  EXPECT_EQ(base, "0x300");  // the shipped board
  EXPECT_EQ(irq, "IRQ5");
  const auto lines = KeyLines(std::string(kService) + "\\Device000");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "\"BaseAddress\"=dword:00000100"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "\"DigPortCfg\"=hex:01,00,03"), lines.end());
  const auto builtIn = KeyLines("Drivers\\BuiltIn\\ZQS5162S0");
  EXPECT_NE(std::find(builtIn.begin(), builtIn.end(), "\"IoBase\"=dword:00000100"), builtIn.end());
}

TEST_F(DeviceWindowTest, CancelReturnsTwoAndWritesNothing) {
  StartHost();
  const std::string before = qio::platform::RegExportText();
  const std::uint32_t result = RunDialog(3, [](QDialog& dialog) {
    QTest::keyClick(List(dialog, 1024), Qt::Key_End);
    Press(dialog, 2);
  });
  EXPECT_EQ(result, ZQS_DIALOG_CANCEL);
  EXPECT_EQ(qio::platform::RegExportText(), before);
}

TEST_F(DeviceWindowTest, EscapeIsCancel) {
  StartHost();
  const std::string before = qio::platform::RegExportText();
  EXPECT_EQ(RunDialog(0, [](QDialog& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); }), ZQS_DIALOG_CANCEL);
  EXPECT_EQ(qio::platform::RegExportText(), before);
}

TEST_F(DeviceWindowTest, WithoutAHostApplicationTheDialogBringsItsOwnAndCanBeDrawn) {
  const auto dir = std::filesystem::temp_directory_path() / ("qio-dialog-" + std::to_string(::getpid()));
  setenv("QIO5162_DIALOG_SCREENSHOT", dir.c_str(), 1);
  std::filesystem::create_directories(dir);
  const std::string before = qio::platform::RegExportText();
  EXPECT_EQ(DeviceConfig(1, 0, nullptr), ZQS_DIALOG_CANCEL);
  EXPECT_TRUE(std::filesystem::exists(dir / "device-setting.png"));
  EXPECT_EQ(qio::platform::RegExportText(), before);
  EXPECT_EQ(QCoreApplication::instance(), nullptr);
  std::filesystem::remove_all(dir);
}

TEST_F(DeviceWindowTest, ANewDeviceConfiguredInTheDialogRunsAfterTheNextBoot) {
  StartHost();
  const std::uint32_t result = RunDialog(1, [](QDialog& dialog) {
    EXPECT_EQ(List(dialog, 1024)->currentText(), "0x300");  // defaults of an unconfigured device
    QTest::keyClick(List(dialog, 1024), Qt::Key_Home);     // 0x100
    QTest::keyClick(List(dialog, 1026), Qt::Key_End);      // IRQ9, last in text order
    Press(dialog, 1);
  });
  ASSERT_EQ(result, ZQS_DIALOG_OK);
  // Device 0 holds index 0, so the new device gets 1 and built-in key 1.
  const auto builtIn = KeyLines("Drivers\\BuiltIn\\ZQS5162S1");
  EXPECT_NE(std::find(builtIn.begin(), builtIn.end(), "\"Irq\"=dword:00000009"), builtIn.end());

  const std::string saved = qio::platform::RegExportText();
  ASSERT_EQ(qio_target_shutdown(target_), QIO_TARGET_OK);
  target_ = nullptr;
  ASSERT_EQ(qio_target_boot_ex(saved.c_str(), QIO_TARGET_BARE, &target_), QIO_TARGET_OK)
      << qio_target_last_message();
  // The driver loaded from the written key and registered the board anew.
  const auto lines = KeyLines(std::string(kService) + "\\Device001");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "\"BaseAddress\"=dword:00000100"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "\"Irq\"=dword:00000009"), lines.end());
  std::uint32_t handle = 0;
  EXPECT_EQ(DeviceOpen(1, &handle), 0u);
  EXPECT_NE(handle, 0u);
  if (handle != 0) DeviceClose(&handle);
}

}  // namespace
