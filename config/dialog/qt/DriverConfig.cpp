// DriverConfig, the one export of libQIO5162Cfg.so: the image-build tool
// calls it when the user configures the QIO-5162 component.
//
// It builds the path of the component's registry script, opens the settings
// window on it and returns 1 at once; the host's event loop then drives the
// window. A host that is not a Qt program has no event loop for it: then the
// call makes its own application object, runs the window until it is closed
// and returns 1 afterwards.
#include <QApplication>
#include <QEventLoop>
#include <QPointer>
#include <QThread>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "config/dialog/qt/Screenshots.h"
#include "config/dialog/qt/SettingsWindow.h"
#include "config/script/ScriptPath.h"

namespace {

using qio::config::qt::SettingsWindow;

// Whether Qt can open windows here: a display server, or a platform that
// needs none (offscreen, vnc, ...). Without one, QApplication would end the
// host process.
bool DisplayAvailable() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && *platform != '\0') {
    const std::string name(platform);
    if (name.rfind("xcb", 0) != 0 && name.rfind("wayland", 0) != 0) return true;
  }
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (display != nullptr && *display != '\0') || (wayland != nullptr && *wayland != '\0');
}

void RunUntilClosed(SettingsWindow* window) {
  QPointer<SettingsWindow> alive(window);
  if (alive.isNull()) return;
  QEventLoop loop;
  QObject::connect(window, &QObject::destroyed, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace

// Result 1, also when the window could not be created; 0 only for arguments
// that name no script (a null pointer, or a path over 259 characters).
extern "C" __attribute__((visibility("default"))) std::int32_t DriverConfig(std::uint32_t hostValue,
                                                                            const char* root,
                                                                            const char* component,
                                                                            const char* unused) {
  (void)hostValue;
  (void)unused;
  if (root == nullptr || component == nullptr) return 0;
  const auto scriptPath = qio::config::ScriptPathFor(root, component);
  if (!scriptPath) return 0;
  try {
    std::unique_ptr<QApplication> ownApplication;
    if (QCoreApplication::instance() == nullptr) {
      if (!DisplayAvailable()) return 1;
      static int argc = 1;
      static char name[] = "QIO5162Cfg";
      static char* argv[] = {name, nullptr};
      ownApplication = std::make_unique<QApplication>(argc, argv);
    } else if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
      return 1;  // a host without widgets cannot show the window
    } else if (QThread::currentThread() != QCoreApplication::instance()->thread()) {
      return 1;  // windows live on the host's user-interface thread only
    }

    SettingsWindow* window = SettingsWindow::Open(*scriptPath);
    if (const char* shots = std::getenv(qio::config::qt::kScreenshotVariable); shots != nullptr && *shots != '\0') {
      qio::config::qt::RenderScreenshots(window, QString::fromLocal8Bit(shots));
      return 1;
    }
    if (ownApplication) RunUntilClosed(window);
    return 1;
  } catch (...) {
    return 1;
  }
}
