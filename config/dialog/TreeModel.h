// The template tree as the settings window's logic keeps it: items with a
// text and a number (their "item data"), children in insertion order, and the
// selected item. The view's tree control mirrors it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/dialog/SettingsViews.h"

namespace qio::config {

// Item data of the three kinds of item.
inline constexpr std::uint32_t kRootItemData = 0;
inline constexpr std::uint32_t kBoardItemData = 1;
inline constexpr std::uint32_t kTemplateItemData = 2;

struct TreeItem {
  TreeItemId id = kNoTreeItem;
  TreeItemId parent = kNoTreeItem;
  std::string text;
  std::uint32_t data = 0;
};

class TreeModel {
 public:
  // Appends an item as the last child of `parent` and returns its number.
  TreeItemId Insert(TreeItemId parent, std::string text, std::uint32_t data);
  // Removes the item and everything below it; a removed selection moves on
  // as a tree control moves it (see SelectionAfterRemoving).
  void Remove(TreeItemId id);

  const TreeItem* Find(TreeItemId id) const;
  std::vector<TreeItemId> Children(TreeItemId parent) const;
  TreeItemId FirstChild(TreeItemId parent) const;

  // The item a tree control selects when the selected item `id` is deleted:
  // its next sibling, else its previous sibling, else its parent.
  TreeItemId SelectionAfterRemoving(TreeItemId id) const;

  TreeItemId selected() const { return selected_; }
  void Select(TreeItemId id) { selected_ = Find(id) != nullptr ? id : kNoTreeItem; }
  std::size_t size() const { return items_.size(); }

 private:
  bool IsBelow(TreeItemId id, TreeItemId ancestor) const;

  std::vector<TreeItem> items_;  // in insertion order
  TreeItemId nextId_ = 1;
  TreeItemId selected_ = kNoTreeItem;
};

}  // namespace qio::config
