#include "forms/form_selection.h"

namespace {

using namespace platform::ui;

constexpr ControlTemplate kControls[] = {
    {ControlKind::treeView, FormSelection::kTreeId, u"", 0, 0, 100, 200,
     style::border | style::tabStop | style::hasButtons | style::hasLines | style::linesAtRoot |
         style::showSelectionAlways},
};

constexpr ResizeRule kRules[] = {{FormSelection::kTreeId, resize::growWidth | resize::growHeight}};

}  // namespace

const DialogTemplate FormSelection::kTemplate{103, u"", 100, 200, kControls, dialogStyle::visible};
const std::span<const ResizeRule> FormSelection::kResizeRules{kRules};

FormSelection::FormSelection(const ImageList& images) : images_(images) {}

LResult FormSelection::onInitForm(uint32_t, WParam, LParam, bool&) {
  tree_ = controlAs<TreeView>(kTreeId);
  tree_->setImageList(&images_);
  return 0;
}

bool FormSelection::processMessage(uint32_t message, WParam wParam, LParam lParam, LResult& result) {
  if (message == WM_NOTIFY) {
    // The tree's notifications are the frame's business.
    result = sendMessage(getParent(handle()), message, wParam, lParam);
    return true;
  }
  return FormBaseImpl::processMessage(message, wParam, lParam, result);
}

void FormSelection::addForm(std::u16string_view text, FormBase* page, FormBase* parent, int image) {
  TreeItem parentItem = 0;
  if (parent != nullptr) {
    auto it = items_.find(parent);
    if (it != items_.end()) parentItem = it->second;
  }
  const TreeItem item = tree_->insertItem(parentItem, text, image, image, reinterpret_cast<LParam>(page));
  if (item == 0) return;
  if (parentItem != 0) tree_->expand(parentItem);
  items_[page] = item;
  updateWindow(tree_->handle());
}

void FormSelection::removeForm(FormBase* page) {
  auto it = items_.find(page);
  if (it == items_.end()) return;
  // Without its page first, so that a selection change the deletion causes
  // finds no page on this item.
  tree_->setItemData(it->second, 0);
  tree_->deleteItem(it->second);
  items_.erase(it);
}

void FormSelection::expandForm(FormBase* page, bool expanded) {
  auto it = items_.find(page);
  if (it != items_.end()) tree_->expand(it->second, expanded);
}

FormBase* FormSelection::getSelectedForm() {
  const TreeItem selected = tree_->selectedItem();
  return selected != 0 ? reinterpret_cast<FormBase*>(tree_->itemData(selected)) : nullptr;
}

void FormSelection::selectFirstForm() {
  tree_->selectItem(tree_->rootItem());
  setFocus(tree_->handle());
}
