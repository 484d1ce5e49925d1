// qio5162-cfg gui: the image-build tool's part, played for the plug-in. It
// loads libQIO5162Cfg.so by name at run time, calls its DriverConfig with the
// tree's root and the component name, and returns when the settings window
// has been closed.
#pragma once

#include <string>

namespace qio::tools {

// `root` ends with "/". With `screenshotDir` not empty the window is rendered
// to PNG files there on the offscreen platform instead of waiting for a user.
int RunGui(const std::string& root, const std::string& component, const std::string& screenshotDir);

}  // namespace qio::tools
