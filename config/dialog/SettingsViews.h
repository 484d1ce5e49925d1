// What the settings window's logic asks of the screen. The logic
// (TemplateSettingsDialog and its pages) decides what every control shows and
// what every event does; a view only draws the controls of its dialog template
// and reports the user's actions back. Selections made through these calls
// never report back as user events: the logic runs the follow-up itself.
//
// The Qt views implement these interfaces; the tests implement them with
// plain records.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qio::config {

// ---- messages -------------------------------------------------------------

enum class MessageButtons { Ok, OkCancel };
enum class MessageAnswer { Ok, Cancel };

struct MessageRequest {
  std::string text;
  std::string caption;  // empty: the application's default caption
  MessageButtons buttons = MessageButtons::Ok;
  bool owned = true;    // owned by the main window; false: a box without owner
};

// The four texts the window ever shows (the no-free-IRQ warning of
// ApplyDefaults is the fourth, in TemplateTable.h).
inline constexpr std::string_view kTooManyTemplatesMessage = "Support up to 16 Templates";
inline constexpr std::string_view kSameIrqMessage = "The same IRQ is selected, conflict might occur";
inline constexpr std::string_view kSaveChangesMessage = "The configuration of QIO-5162 is change, save the change";
inline constexpr std::string_view kNoteCaption = "Note";

// ---- controls -------------------------------------------------------------

// Identifiers of the controls, as the dialog templates number them.
namespace control {
inline constexpr int kTree = 1123;
inline constexpr int kTab = 1077;
inline constexpr int kAdd = 1124;
inline constexpr int kRemove = 1071;
inline constexpr int kSave = 1;   // the OK button
inline constexpr int kClose = 2;  // the Cancel button
inline constexpr int kDeviceName = 1142;
inline constexpr int kBaseList = 1125;
inline constexpr int kIrqList = 1160;
inline constexpr int kDescription = 1141;
inline constexpr int kPortC0to3 = 1161;
inline constexpr int kPortC4to7 = 1164;
inline constexpr int kPortB = 1162;
inline constexpr int kPortA = 1163;
inline constexpr int kStatic = -1;  // labels, group boxes and the picture
}  // namespace control

// Dialog templates and the board picture.
inline constexpr int kMainTemplate = 105;
inline constexpr int kDeviceTemplate = 124;
inline constexpr int kDioTemplate = 137;
inline constexpr int kCounterTemplate = 148;
inline constexpr int kBoardBitmap = 155;

// One item of a drop-down list: its text and the number it stands for.
struct ListItem {
  std::string text;
  std::uint32_t data = 0;
};

// A rectangle in pixels of the main window's client area.
struct PixelRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

// Tree items are numbered by the logic; 0 is no item.
using TreeItemId = int;
inline constexpr TreeItemId kNoTreeItem = 0;

// ---- views ----------------------------------------------------------------

class PageView {
 public:
  virtual ~PageView() = default;
  // Moves the page's window within the main window, keeping its size.
  virtual void MoveTo(int x, int y) = 0;
  virtual void SetVisible(bool visible) = 0;
};

class DevicePageView : public virtual PageView {
 public:
  virtual void FillBaseList(const std::vector<ListItem>& items) = 0;
  virtual void FillIrqList(const std::vector<ListItem>& items) = 0;
  // Index into the list as filled; -1 selects nothing.
  virtual void SelectBase(int index) = 0;
  virtual void SelectIrq(int index) = 0;
  virtual void SetDescription(std::string_view text) = 0;
};

// The four lists of the DIO page, in the page's member order.
enum class DioList { PortC0to3 = 0, PortC4to7 = 1, PortB = 2, PortA = 3 };
inline constexpr int kDioLists = 4;

class DioPageView : public virtual PageView {
 public:
  virtual void FillList(DioList list, const std::vector<std::string>& items) = 0;
  virtual void Select(DioList list, int index) = 0;
};

class MainView {
 public:
  virtual ~MainView() = default;

  virtual void EnableSave(bool enabled) = 0;
  virtual void InsertTab(int index, std::string_view text) = 0;
  virtual int CurrentTab() const = 0;
  // The tab control's client rectangle in the main window's coordinates.
  virtual PixelRect TabClientRect() const = 0;

  // Create a page's window from its template as a child of the main window.
  // The view owns it; null when it could not be created.
  virtual DevicePageView* CreateDevicePage() = 0;
  virtual DioPageView* CreateDioPage() = 0;
  virtual PageView* CreateCounterPage() = 0;

  // Appends `id` as the last child of `parent` (kNoTreeItem: a root item).
  virtual void InsertTreeItem(TreeItemId id, TreeItemId parent, std::string_view text) = 0;
  // Deletes the item and everything below it.
  virtual void DeleteTreeItem(TreeItemId id) = 0;
  virtual void SelectTreeItem(TreeItemId id) = 0;

  virtual MessageAnswer ShowMessage(const MessageRequest& request) = 0;
  // Ends the dialog: the window goes away (and with it the logic).
  virtual void EndDialog() = 0;
};

}  // namespace qio::config
