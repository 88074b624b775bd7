#include <QHeaderView>
#include <QTreeWidget>

#include "platform/ui/controls.h"
#include "platform/ui/qt_support.h"

namespace platform::ui {

TreeView::~TreeView() = default;

QWidget* TreeView::makeWidget(QWidget* parent, const ControlTemplate& control) {
  tree_ = new QTreeWidget(parent);
  tree_->setColumnCount(1);
  tree_->setHeaderHidden(true);
  // Items wider than the tree scroll sideways instead of being cut.
  tree_->header()->setStretchLastSection(false);
  tree_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  tree_->setSelectionMode(QAbstractItemView::SingleSelection);
  tree_->setRootIsDecorated((control.style & (style::linesAtRoot | style::hasButtons)) != 0);
  tree_->setItemsExpandable((control.style & style::hasButtons) != 0);
  tree_->setExpandsOnDoubleClick(true);
  tree_->setIconSize(QSize(16, 16));
  if ((control.style & style::border) == 0) tree_->setFrameShape(QFrame::NoFrame);
  QObject::connect(tree_, &QTreeWidget::currentItemChanged, guard(),
                   [this](QTreeWidgetItem* current, QTreeWidgetItem* previous) {
                     QtCallbackScope scope;
                     currentChanged(current, previous);
                   });
  return tree_;
}

void TreeView::setImageList(const ImageList* images) {
  images_ = images;
  if (images_ != nullptr) {
    tree_->setIconSize(QSize(images_->imageSize().width, images_->imageSize().height));
  }
}

TreeItem TreeView::idOf(const QTreeWidgetItem* item) const {
  return item != nullptr ? static_cast<TreeItem>(item->data(0, Qt::UserRole).toULongLong()) : 0;
}

TreeItem TreeView::insertItem(TreeItem parent, std::u16string_view text, int image, int selectedImage,
                              LParam data) {
  QTreeWidgetItem* parentItem = nullptr;
  if (parent != 0) {
    auto it = items_.find(parent);
    if (it == items_.end()) return 0;
    parentItem = it->second.item;
  }
  auto* item = new QTreeWidgetItem(QStringList{toQString(text)});
  const TreeItem id = nextId_++;
  item->setData(0, Qt::UserRole, QVariant::fromValue(static_cast<qulonglong>(id)));
  item->setData(0, Qt::UserRole + 1, image);
  (void)selectedImage;  // an item looks the same when selected
  if (images_ != nullptr && image >= 0) item->setIcon(0, images_->at(image).qIcon());
  items_[id] = Entry{item, data};
  if (parentItem != nullptr) {
    parentItem->addChild(item);
  } else {
    tree_->addTopLevelItem(item);
  }
  return id;
}

void TreeView::forget(QTreeWidgetItem* item) {
  for (int i = 0; i < item->childCount(); ++i) forget(item->child(i));
  items_.erase(idOf(item));
}

bool TreeView::deleteItem(TreeItem id) {
  auto it = items_.find(id);
  if (it == items_.end()) return false;
  QTreeWidgetItem* item = it->second.item;
  // Gone from the table first: the selection change the deletion may cause
  // then names no item for it.
  forget(item);
  delete item;
  return true;
}

void TreeView::deleteAllItems() {
  items_.clear();
  currentId_ = 0;
  tree_->clear();
}

bool TreeView::expand(TreeItem id, bool expanded) {
  auto it = items_.find(id);
  if (it == items_.end()) return false;
  it->second.item->setExpanded(expanded);
  return true;
}

bool TreeView::isExpanded(TreeItem id) const {
  auto it = items_.find(id);
  return it != items_.end() && it->second.item->isExpanded();
}

bool TreeView::selectItem(TreeItem id) {
  QTreeWidgetItem* item = nullptr;
  if (id != 0) {
    auto it = items_.find(id);
    if (it == items_.end()) return false;
    item = it->second.item;
  }
  pendingAction_ = TVC_UNKNOWN;
  tree_->setCurrentItem(item);
  pendingAction_ = TVC_BYMOUSE;
  return true;
}

TreeItem TreeView::selectedItem() const { return idOf(tree_->currentItem()); }

LParam TreeView::itemData(TreeItem id) const {
  auto it = items_.find(id);
  return it != items_.end() ? it->second.data : 0;
}

bool TreeView::setItemData(TreeItem id, LParam data) {
  auto it = items_.find(id);
  if (it == items_.end()) return false;
  it->second.data = data;
  return true;
}

std::u16string TreeView::itemText(TreeItem id) const {
  auto it = items_.find(id);
  return it != items_.end() ? fromQString(it->second.item->text(0)) : std::u16string();
}

int TreeView::itemImage(TreeItem id) const {
  auto it = items_.find(id);
  return it != items_.end() ? it->second.item->data(0, Qt::UserRole + 1).toInt() : -1;
}

TreeItem TreeView::rootItem() const { return idOf(tree_->topLevelItem(0)); }

TreeItem TreeView::childItem(TreeItem id) const {
  auto it = items_.find(id);
  return it != items_.end() ? idOf(it->second.item->child(0)) : 0;
}

TreeItem TreeView::nextSibling(TreeItem id) const {
  auto it = items_.find(id);
  if (it == items_.end()) return 0;
  QTreeWidgetItem* item = it->second.item;
  QTreeWidgetItem* parent = item->parent();
  if (parent != nullptr) return idOf(parent->child(parent->indexOfChild(item) + 1));
  return idOf(tree_->topLevelItem(tree_->indexOfTopLevelItem(item) + 1));
}

int TreeView::count() const { return static_cast<int>(items_.size()); }

void TreeView::currentChanged(QTreeWidgetItem* current, QTreeWidgetItem*) {
  // Qt's previous item may be one being deleted: the last selection this
  // control reported counts, while it is still in the table.
  const TreeItem newItem = items_.count(idOf(current)) != 0 ? idOf(current) : 0;
  const TreeItem oldItem = items_.count(currentId_) != 0 ? currentId_ : 0;
  currentId_ = newItem;
  TreeViewChange change;
  change.header.code = TVN_SELCHANGED;
  change.action = pendingAction_;
  change.oldItem = oldItem;
  change.oldData = itemData(oldItem);
  change.newItem = newItem;
  change.newData = itemData(newItem);
  notifyParent(change.header);
}

}  // namespace platform::ui
