#pragma once
// Reading a tree control's items by their texts, for the graphical tests.

#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/controls.h"

namespace ui_testing {

// The texts of an item's children (of the top level for item 0).
inline std::vector<std::u16string> childTexts(const platform::ui::TreeView& tree, platform::ui::TreeItem parent = 0) {
  std::vector<std::u16string> texts;
  for (platform::ui::TreeItem item = parent == 0 ? tree.rootItem() : tree.childItem(parent); item != 0;
       item = tree.nextSibling(item)) {
    texts.push_back(tree.itemText(item));
  }
  return texts;
}

// The first item with that text, depth first below `parent`; 0 when none.
inline platform::ui::TreeItem findItem(const platform::ui::TreeView& tree, std::u16string_view text,
                                       platform::ui::TreeItem parent = 0) {
  for (platform::ui::TreeItem item = parent == 0 ? tree.rootItem() : tree.childItem(parent); item != 0;
       item = tree.nextSibling(item)) {
    if (tree.itemText(item) == text) return item;
    if (platform::ui::TreeItem inside = findItem(tree, text, item)) return inside;
  }
  return 0;
}

}  // namespace ui_testing
