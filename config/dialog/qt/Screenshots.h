// Pictures of the settings window for documentation and review: every page
// over the main window, each page alone and the four message boxes, as PNG
// files. Nothing is saved to the script: the templates an empty script needs
// for the pictures are added in memory only and dropped when the window
// closes.
#pragma once

#include <QString>
#include <QStringList>

namespace qio::config::qt {

class SettingsWindow;

// Renders `window` (which is closed afterwards) into `directory`. Returns the
// files written; a file that could not be written is missing from the list.
QStringList RenderScreenshots(SettingsWindow* window, const QString& directory);

// Set by qio5162-cfg gui --screenshot: DriverConfig renders the window into
// this directory and closes it instead of waiting for the user.
inline constexpr char kScreenshotVariable[] = "QIO5162CFG_SCREENSHOT";

}  // namespace qio::config::qt
