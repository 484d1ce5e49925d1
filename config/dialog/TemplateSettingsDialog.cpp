#include "config/dialog/TemplateSettingsDialog.h"

#include <cctype>
#include <charconv>

namespace qio::config {
namespace {

std::string TemplateItemText(int slot) { return std::string(kTemplateItemPrefix) + std::to_string(slot); }

bool StartsWithTemplateIgnoringCase(std::string_view text) {
  if (text.size() < kTemplateItemPrefix.size()) return false;
  for (std::size_t i = 0; i < kTemplateItemPrefix.size(); ++i) {
    const auto a = static_cast<unsigned char>(text[i]);
    const auto b = static_cast<unsigned char>(kTemplateItemPrefix[i]);
    if (std::tolower(a) != std::tolower(b)) return false;
  }
  return true;
}

}  // namespace

int SlotOfItemText(std::string_view text) {
  if (text.size() <= kTemplateItemPrefix.size()) return -1;
  const std::string_view digits = text.substr(kTemplateItemPrefix.size());
  int slot = -1;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), slot);
  if (error != std::errc{} || end != digits.data() + digits.size()) return -1;
  return slot >= 0 && slot < kTemplateSlots ? slot : -1;
}

TemplateSettingsDialog::TemplateSettingsDialog(MainView& view, std::string scriptPath, FileLayer& files)
    : view_(view), scriptPath_(std::move(scriptPath)), table_(this, files) {}

TemplateSettingsDialog::~TemplateSettingsDialog() = default;

bool TemplateSettingsDialog::OnInitDialog() {
  view_.EnableSave(false);

  devicePage_ = std::make_unique<DevicePage>(*this);
  dioPage_ = std::make_unique<DioPage>(*this);
  counterPage_ = std::make_unique<CounterPage>(*this);
  pages_ = {devicePage_.get(), dioPage_.get(), counterPage_.get()};

  for (int tab = 0; tab < kPageCount; ++tab) view_.InsertTab(tab, kTabTexts[static_cast<std::size_t>(tab)]);

  // A script that cannot be read leaves the table empty, without a message.
  table_.Load(scriptPath_);

  const PixelRect client = view_.TabClientRect();
  for (std::size_t i = 0; i < pages_.size(); ++i) {
    if (!pages_[i]->CreatePage()) continue;
    pageCreated_[i] = true;
    pages_[i]->view()->MoveTo(client.left + kPageOffsetX, client.top + kPageOffsetY);
    pages_[i]->view()->SetVisible(false);
  }
  const int tab = view_.CurrentTab();
  if (tab >= 0 && tab < kPageCount) page(tab).ShowTemplate(nullptr);

  rootItem_ = tree_.Insert(kNoTreeItem, std::string(kRootItemText), kRootItemData);
  view_.InsertTreeItem(rootItem_, kNoTreeItem, kRootItemText);
  boardItem_ = tree_.Insert(rootItem_, std::string(kBoardItemText), kBoardItemData);
  view_.InsertTreeItem(boardItem_, rootItem_, kBoardItemText);
  for (int n = 0; n < kTemplateSlots; ++n) {
    if (table_.Record(n).inUse == 0) continue;
    const std::string text = TemplateItemText(n);
    const TreeItemId item = tree_.Insert(boardItem_, text, kTemplateItemData);
    view_.InsertTreeItem(item, boardItem_, text);
  }

  const TreeItemId first = tree_.FirstChild(boardItem_);
  SelectItem(first != kNoTreeItem ? first : boardItem_);
  return true;
}

void TemplateSettingsDialog::OnAdd() {
  const int n = table_.AllocateSlot();
  if (n == kTemplateSlots) {
    ShowMessage(kTooManyTemplatesMessage, "", MessageButtons::Ok, true);
    return;
  }
  table_.ApplyDefaults(n);
  // Appended last, whatever numbers the items before it carry.
  const std::string text = TemplateItemText(n);
  const TreeItemId item = tree_.Insert(boardItem_, text, kTemplateItemData);
  view_.InsertTreeItem(item, boardItem_, text);
  SelectItem(item);
  MarkChanged();
}

void TemplateSettingsDialog::OnRemove() {
  const int slot = CurrentSlot();
  if (slot < 0) return;
  table_.RemoveSlot(slot);
  const TreeItemId item = tree_.selected();
  const TreeItemId next = tree_.SelectionAfterRemoving(item);
  tree_.Remove(item);
  view_.DeleteTreeItem(item);
  SelectItem(next);
  MarkChanged();
}

void TemplateSettingsDialog::OnOk() {
  // A save that did not reach the script keeps the edits pending, so that
  // Close still offers to save them.
  if (!table_.Save(scriptPath_)) return;
  changedFlag_ = false;
  view_.EnableSave(false);
}

void TemplateSettingsDialog::OnCancel() {
  AskToSave(true);
  view_.EndDialog();
}

void TemplateSettingsDialog::OnDestroy() { AskToSave(false); }

void TemplateSettingsDialog::AskToSave(bool owned) {
  if (changedFlag_ &&
      ShowMessage(kSaveChangesMessage, kNoteCaption, MessageButtons::OkCancel, owned) == MessageAnswer::Ok) {
    OnOk();
  }
  changedFlag_ = false;
}

void TemplateSettingsDialog::OnTreeSelectionChanged(TreeItemId item) {
  tree_.Select(item);
  HideAllPages();
  const TreeItem* selected = tree_.Find(tree_.selected());
  if (selected == nullptr || selected->data != kTemplateItemData) return;
  const int tab = view_.CurrentTab();
  if (tab >= 0 && tab < kPageCount) ShowPage(tab);
}

void TemplateSettingsDialog::OnTabSelectionChanged(int tab) {
  const TreeItem* selected = tree_.Find(tree_.selected());
  if (selected == nullptr || !StartsWithTemplateIgnoringCase(selected->text)) return;
  if (tab < 0 || tab >= kPageCount) return;
  HideAllPages();
  ShowPage(tab);
}

void TemplateSettingsDialog::MarkChanged() {
  changedFlag_ = true;
  view_.EnableSave(true);
}

MessageAnswer TemplateSettingsDialog::ShowMessage(std::string_view text, std::string_view caption,
                                                  MessageButtons buttons, bool owned) {
  return view_.ShowMessage(MessageRequest{std::string(text), std::string(caption), buttons, owned});
}

void TemplateSettingsDialog::ShowMessage(std::string_view text, std::string_view caption) {
  ShowMessage(text, caption, MessageButtons::Ok, true);
}

int TemplateSettingsDialog::CurrentSlot() const {
  const TreeItem* selected = tree_.Find(tree_.selected());
  if (selected == nullptr || selected->data != kTemplateItemData) return -1;
  return SlotOfItemText(selected->text);
}

TemplateRecord* TemplateSettingsDialog::CurrentTemplate() {
  const int slot = CurrentSlot();
  return slot < 0 ? nullptr : &table_.Record(slot);
}

TreeItemId TemplateSettingsDialog::ItemOfSlot(int slot) const {
  for (const TreeItemId item : tree_.Children(boardItem_)) {
    const TreeItem* found = tree_.Find(item);
    if (found != nullptr && found->data == kTemplateItemData && SlotOfItemText(found->text) == slot) return item;
  }
  return kNoTreeItem;
}

void TemplateSettingsDialog::SelectItem(TreeItemId item) {
  tree_.Select(item);
  view_.SelectTreeItem(tree_.selected());
  OnTreeSelectionChanged(tree_.selected());
}

void TemplateSettingsDialog::HideAllPages() {
  for (std::size_t i = 0; i < pages_.size(); ++i) {
    if (pageCreated_[i]) pages_[i]->view()->SetVisible(false);
  }
  visiblePage_ = nullptr;
}

void TemplateSettingsDialog::ShowPage(int tab) {
  const auto i = static_cast<std::size_t>(tab);
  if (pageCreated_[i]) {
    pages_[i]->view()->SetVisible(true);
    visiblePage_ = pages_[i];
  }
  pages_[i]->ShowTemplate(CurrentTemplate());
}

}  // namespace qio::config
