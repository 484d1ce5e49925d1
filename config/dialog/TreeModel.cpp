#include "config/dialog/TreeModel.h"

#include <algorithm>

namespace qio::config {

TreeItemId TreeModel::Insert(TreeItemId parent, std::string text, std::uint32_t data) {
  const TreeItemId id = nextId_++;
  items_.push_back(TreeItem{id, parent, std::move(text), data});
  return id;
}

void TreeModel::Remove(TreeItemId id) {
  if (Find(id) == nullptr) return;
  if (selected_ != kNoTreeItem && (selected_ == id || IsBelow(selected_, id))) {
    selected_ = SelectionAfterRemoving(id);
  }
  std::erase_if(items_, [&](const TreeItem& item) { return item.id == id || IsBelow(item.id, id); });
}

const TreeItem* TreeModel::Find(TreeItemId id) const {
  const auto it = std::find_if(items_.begin(), items_.end(), [&](const TreeItem& item) { return item.id == id; });
  return it == items_.end() ? nullptr : &*it;
}

std::vector<TreeItemId> TreeModel::Children(TreeItemId parent) const {
  std::vector<TreeItemId> children;
  for (const auto& item : items_) {
    if (item.parent == parent) children.push_back(item.id);
  }
  return children;
}

TreeItemId TreeModel::FirstChild(TreeItemId parent) const {
  const auto children = Children(parent);
  return children.empty() ? kNoTreeItem : children.front();
}

TreeItemId TreeModel::SelectionAfterRemoving(TreeItemId id) const {
  const TreeItem* item = Find(id);
  if (item == nullptr) return kNoTreeItem;
  const auto siblings = Children(item->parent);
  const auto at = std::find(siblings.begin(), siblings.end(), id);
  if (at + 1 != siblings.end()) return *(at + 1);
  if (at != siblings.begin()) return *(at - 1);
  return item->parent;
}

bool TreeModel::IsBelow(TreeItemId id, TreeItemId ancestor) const {
  for (const TreeItem* item = Find(id); item != nullptr && item->parent != kNoTreeItem;
       item = Find(item->parent)) {
    if (item->parent == ancestor) return true;
  }
  return false;
}

}  // namespace qio::config
