#include <QHeaderView>
#include <QStyledItemDelegate>
#include <QTableWidget>

#include <algorithm>

#include "platform/ui/controls.h"
#include "platform/ui/qt_support.h"

namespace platform::ui {

// Paints each cell with the text colour that custom drawing gives it.
class ListViewDelegate final : public QStyledItemDelegate {
 public:
  ListViewDelegate(ListView* owner, QObject* parent) : QStyledItemDelegate(parent), owner_(owner) {}

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    QtCallbackScope scope;
    option->palette.setColor(QPalette::Text, toQColor(owner_->cellTextColour(index.row(), index.column())));
  }

 private:
  ListView* owner_;
};

namespace {

Qt::Alignment qtAlignment(Align align) {
  switch (align) {
    case Align::right:
      return Qt::AlignRight | Qt::AlignVCenter;
    case Align::centre:
      return Qt::AlignHCenter | Qt::AlignVCenter;
    default:
      return Qt::AlignLeft | Qt::AlignVCenter;
  }
}

}  // namespace

ListView::~ListView() = default;

QWidget* ListView::makeWidget(QWidget* parent, const ControlTemplate& control) {
  table_ = new QTableWidget(0, 0, parent);
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 4);
  table_->verticalHeader()->setMinimumSectionSize(table_->fontMetrics().height() + 2);
  QHeaderView* header = table_->horizontalHeader();
  header->setHighlightSections(false);
  header->setStretchLastSection(false);
  header->setSectionsClickable((control.style & style::noSortHeader) == 0);
  header->setSectionResizeMode(QHeaderView::Interactive);
  if ((control.style & style::noColumnHeader) != 0) header->hide();
  table_->setSelectionMode((control.style & style::singleSelection) != 0 ? QAbstractItemView::SingleSelection
                                                                        : QAbstractItemView::ExtendedSelection);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setShowGrid(false);
  table_->setWordWrap(false);
  table_->setCornerButtonEnabled(false);
  if ((control.style & style::border) == 0) table_->setFrameShape(QFrame::NoFrame);
  table_->setItemDelegate(new ListViewDelegate(this, table_));
  QObject::connect(table_, &QTableWidget::itemSelectionChanged, guard(), [this] {
    QtCallbackScope scope;
    selectionChanged();
  });
  QObject::connect(table_, &QTableWidget::cellChanged, guard(), [this](int row, int column) {
    QtCallbackScope scope;
    cellChanged(row, column);
  });
  return table_;
}

void ListView::addExtendedStyle(uint32_t styles) {
  extendedStyle_ |= styles;
  table_->setShowGrid((extendedStyle_ & listStyle::gridLines) != 0);
}

int ListView::insertColumn(int index, std::u16string_view heading, Align align, int width) {
  index = std::clamp(index, 0, table_->columnCount());
  table_->insertColumn(index);
  auto* headerItem = new QTableWidgetItem(toQString(heading));
  headerItem->setTextAlignment(qtAlignment(align));
  table_->setHorizontalHeaderItem(index, headerItem);
  table_->setColumnWidth(index, width);
  alignments_.insert(alignments_.begin() + index, align);
  return index;
}

int ListView::columnCount() const { return table_->columnCount(); }

int ListView::columnWidth(int column) const {
  return column >= 0 && column < table_->columnCount() ? table_->columnWidth(column) : 0;
}

bool ListView::setColumnWidth(int column, int width) {
  if (column < 0 || column >= table_->columnCount()) return false;
  table_->setColumnWidth(column, width);
  return true;
}

int ListView::clientWidth() const { return table_->viewport()->width(); }

int ListView::insertItem(int index, std::u16string_view text, LParam data) {
  if (table_->columnCount() == 0) return -1;
  index = std::clamp(index, 0, table_->rowCount());
  filling_ = true;
  table_->insertRow(index);
  auto* cell = new QTableWidgetItem(toQString(text));
  cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  cell->setTextAlignment(qtAlignment(alignments_[0]));
  cell->setData(Qt::UserRole, QVariant::fromValue(static_cast<qlonglong>(data)));
  const bool checkBoxes = (extendedStyle_ & listStyle::checkBoxes) != 0;
  if (checkBoxes) {
    cell->setFlags(cell->flags() | Qt::ItemIsUserCheckable);
    cell->setCheckState(Qt::Unchecked);
  }
  table_->setItem(index, 0, cell);
  filling_ = false;
  checks_.insert(checks_.begin() + index, false);
  const int selected = selectedItem();
  selectedRow_ = selected;
  // A new row of a list with check boxes gets its unchecked mark, which the
  // list reports like any state change.
  if (checkBoxes) notifyItemChange(index, 0, LVIS_UNCHECKED);
  return index;
}

bool ListView::setItemText(int item, int subItem, std::u16string_view text) {
  if (item < 0 || item >= table_->rowCount() || subItem < 0 || subItem >= table_->columnCount()) return false;
  filling_ = true;
  QTableWidgetItem* cell = table_->item(item, subItem);
  if (cell == nullptr) {
    cell = new QTableWidgetItem;
    cell->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    cell->setTextAlignment(qtAlignment(alignments_[static_cast<size_t>(subItem)]));
    table_->setItem(item, subItem, cell);
  }
  cell->setText(toQString(text));
  filling_ = false;
  return true;
}

std::u16string ListView::itemText(int item, int subItem) const {
  const QTableWidgetItem* cell = table_->item(item, subItem);
  return cell != nullptr ? fromQString(cell->text()) : std::u16string();
}

bool ListView::deleteItem(int item) {
  if (item < 0 || item >= table_->rowCount()) return false;
  filling_ = true;
  {
    const QSignalBlocker block(table_);
    table_->removeRow(item);
  }
  filling_ = false;
  checks_.erase(checks_.begin() + item);
  selectedRow_ = selectedItem();
  return true;
}

void ListView::deleteAllItems() {
  {
    const QSignalBlocker block(table_);
    table_->setRowCount(0);
  }
  checks_.clear();
  selectedRow_ = -1;
}

int ListView::itemCount() const { return table_->rowCount(); }

LParam ListView::itemData(int item) const {
  const QTableWidgetItem* cell = table_->item(item, 0);
  return cell != nullptr ? static_cast<LParam>(cell->data(Qt::UserRole).toLongLong()) : 0;
}

bool ListView::setItemData(int item, LParam data) {
  QTableWidgetItem* cell = table_->item(item, 0);
  if (cell == nullptr) return false;
  filling_ = true;
  cell->setData(Qt::UserRole, QVariant::fromValue(static_cast<qlonglong>(data)));
  filling_ = false;
  return true;
}

int ListView::selectedItem() const {
  const QList<QTableWidgetSelectionRange> ranges = table_->selectedRanges();
  return ranges.isEmpty() ? -1 : ranges.front().topRow();
}

bool ListView::selectItem(int item) {
  if (item < 0) {
    table_->clearSelection();
    return true;
  }
  if (item >= table_->rowCount()) return false;
  table_->selectRow(item);
  return true;
}

bool ListView::isChecked(int item) const {
  const QTableWidgetItem* cell = table_->item(item, 0);
  return cell != nullptr && cell->checkState() == Qt::Checked;
}

bool ListView::setChecked(int item, bool checked) {
  QTableWidgetItem* cell = table_->item(item, 0);
  if (cell == nullptr || (extendedStyle_ & listStyle::checkBoxes) == 0) return false;
  filling_ = true;
  cell->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
  filling_ = false;
  if (checks_[static_cast<size_t>(item)] != checked) {
    checks_[static_cast<size_t>(item)] = checked;
    const uint32_t selected = item == selectedRow_ ? LVIS_SELECTED : 0;
    notifyItemChange(item, selected | (checked ? LVIS_UNCHECKED : LVIS_CHECKED),
                     selected | (checked ? LVIS_CHECKED : LVIS_UNCHECKED));
  }
  return true;
}

Colour ListView::cellTextColour(int item, int subItem) {
  CustomDraw draw;
  draw.header.code = NM_CUSTOMDRAW;
  draw.drawStage = CDDS_PREPAINT;
  if ((notifyParent(draw.header) & CDRF_NOTIFYITEMDRAW) == 0) return draw.textColour;
  draw.drawStage = CDDS_ITEMPREPAINT;
  draw.item = item;
  draw.itemData = itemData(item);
  if ((notifyParent(draw.header) & CDRF_NOTIFYSUBITEMDRAW) == 0) return draw.textColour;
  draw.drawStage = CDDS_ITEMPREPAINT | CDDS_SUBITEM;
  draw.subItem = subItem;
  notifyParent(draw.header);
  return draw.textColour;
}

void ListView::selectionChanged() {
  const int now = selectedItem();
  if (now == selectedRow_) return;
  const int before = selectedRow_;
  selectedRow_ = now;
  const auto checkBits = [this](int row) -> uint32_t {
    if ((extendedStyle_ & listStyle::checkBoxes) == 0) return 0;
    return checks_[static_cast<size_t>(row)] ? LVIS_CHECKED : LVIS_UNCHECKED;
  };
  if (before >= 0 && before < table_->rowCount()) {
    notifyItemChange(before, checkBits(before) | LVIS_SELECTED | LVIS_FOCUSED, checkBits(before));
  }
  if (now >= 0) notifyItemChange(now, checkBits(now), checkBits(now) | LVIS_SELECTED | LVIS_FOCUSED);
}

void ListView::cellChanged(int row, int column) {
  if (filling_ || column != 0 || (extendedStyle_ & listStyle::checkBoxes) == 0) return;
  const bool checked = isChecked(row);
  if (checks_[static_cast<size_t>(row)] == checked) return;
  checks_[static_cast<size_t>(row)] = checked;
  const uint32_t selected = row == selectedRow_ ? LVIS_SELECTED : 0;
  notifyItemChange(row, selected | (checked ? LVIS_UNCHECKED : LVIS_CHECKED),
                   selected | (checked ? LVIS_CHECKED : LVIS_UNCHECKED));
}

void ListView::notifyItemChange(int item, uint32_t oldState, uint32_t newState) {
  ListViewChange change;
  change.header.code = LVN_ITEMCHANGED;
  change.item = item;
  change.oldState = oldState;
  change.newState = newState;
  change.changed = LVIF_STATE;
  change.data = itemData(item);
  notifyParent(change.header);
}

}  // namespace platform::ui
