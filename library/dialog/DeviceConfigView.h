// The on-device configuration dialog "QIO-5162 Device Setting" (template
// 101): what its logic, compiled into libZqs5162, and its view, a separate
// module loaded on demand (libZqs5162Dialog.so, the only part that uses a
// window toolkit), say to each other. Both are built from this header by the
// same compiler; nothing but these two interfaces and one C entry cross the
// module boundary.
#pragma once

#include <cstdint>

namespace qio::library::dialog {

inline constexpr int kDialogTemplate = 101;

// Control identifiers of template 101.
inline constexpr int kPortCHighList = 1014;  // port C lines 4-7
inline constexpr int kPortCLowList = 1015;   // port C lines 0-3
inline constexpr int kPortBList = 1016;
inline constexpr int kPortAList = 1017;
inline constexpr int kBaseList = 1024;
inline constexpr int kIrqList = 1026;
inline constexpr int kOkButton = 1;
inline constexpr int kCancelButton = 2;

// End codes of the dialog.
inline constexpr int kEndAllocationFailed = 0;
inline constexpr int kEndOk = 1;
inline constexpr int kEndCancel = 2;
// The dialog could not be created (no display, no view module, wrong thread).
inline constexpr int kEndNotCreated = -1;

class DeviceConfigView {
 public:
  virtual ~DeviceConfigView() = default;
  // Appends an item to a list; the logic adds a sorted list's items already
  // in their sorted places.
  virtual void AddItem(int controlId, const char* text) = 0;
  // -1 selects nothing. Never reported back as a user's choice.
  virtual void SelectItem(int controlId, int index) = 0;
  virtual int SelectedItem(int controlId) const = 0;
  // A message box with an OK button and the error icon.
  virtual void ShowError(const char* text, const char* caption) = 0;
  virtual void EndDialog(int code) = 0;
};

class DeviceConfigController {
 public:
  virtual ~DeviceConfigController() = default;
  virtual void OnInitDialog(DeviceConfigView& view) = 0;
  virtual void OnOk() = 0;
  virtual void OnCancel() = 0;
};

// The view module's entry: shows the dialog modally over `parent` (a QWidget*
// of the host, or null) and returns its end code, or kEndNotCreated.
// `screenshotPath` (may be null) asks for a PNG of the opened dialog, which
// then ends as if Cancel had been pressed.
using RunDialogFunction = int (*)(DeviceConfigController* controller, void* parent, const char* screenshotPath);
inline constexpr char kDialogModuleName[] = "libZqs5162Dialog.so";
inline constexpr char kRunDialogSymbol[] = "Zqs5162RunDeviceDialog";

}  // namespace qio::library::dialog
