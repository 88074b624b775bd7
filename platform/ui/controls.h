#pragma once
// Controls: the child windows of dialogs, addressed by identifier. Each
// reports to its parent as the programs expect: button clicks, combo box
// selection and edit changes as WM_COMMAND; list and tree changes and list
// custom drawing as WM_NOTIFY; track bar and spin movement as WM_HSCROLL or
// WM_VSCROLL with the scroll code. Setting a value from the program sends
// nothing, except where a list view's item state changes (as a list does).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/ui/dialog_template.h"
#include "platform/ui/image_list.h"
#include "platform/ui/messages.h"
#include "platform/ui/window.h"

class QAbstractButton;
class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QObject;
class QProgressBar;
class QSlider;
class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace platform::ui {

class Control : public Window {
 public:
  Control();
  ~Control() override;

  int id() const { return id_; }
  uint64_t style() const { return style_; }
  WindowHandle parent() const { return parent_; }

  // Creates the control's widget inside `parent` at `rect` (pixels), with the
  // template's text and style. False when the parent does not exist.
  bool create(const ControlTemplate& control, Window& parent, const Rect& rect);

  // The control of a given kind (the factory of dialogs).
  static std::unique_ptr<Control> make(ControlKind kind);

 protected:
  virtual QWidget* makeWidget(QWidget* parent, const ControlTemplate& control) = 0;
  // WM_COMMAND with this control's id and `code` to the parent.
  void notifyCommand(uint16_t code);
  // WM_NOTIFY to the parent; fills in the header's sender and id. Returns the
  // parent's answer.
  LResult notifyParent(NotifyHeader& header);
  // WM_HSCROLL or WM_VSCROLL to the parent.
  void notifyScroll(bool vertical, uint16_t code, int position);
  // The context of this control's signal connections: they end with it.
  QObject* guard() const { return guard_; }

 private:
  QObject* guard_;
  int id_ = -1;
  uint64_t style_ = 0;
  WindowHandle parent_;
};

class StaticText : public Control {
 public:
  void setText(std::u16string_view text) override;
  std::u16string text() const override;
  // The background the parent chose at the last paint (white until one did).
  Colour backgroundColour() const;
  // Asks the parent for colours (WM_CTLCOLORSTATIC) as a paint does.
  void applyParentColours();

 protected:
  QWidget* makeWidget(QWidget* parent, const ControlTemplate& control) override;
  // With style::notify a click is reported as STN_CLICKED.
  bool translateEvent(QEvent* event) override;
};

class GroupBox : public Control {
 public:
  void setText(std::u16string_view text) override;
  std::u16string text() const override;

 protected:
  QWidget* makeWidget(QWidget* parent, const ControlTemplate& control) override;
};

// Push buttons, check boxes and radio buttons.
class Button : public Control {
 public:
  void setText(std::u16string_view text) override;
  std::u16string text() const override;
  bool isChecked() const;
  // Sets the check mark without a notification; unchecking the checked radio
  // button of a group leaves the group without one.
  void setChecked(bool checked);
  // As a user's click: toggles automatic buttons and notifies BN_CLICKED.
  void click();
  bool isDefault() const { return (style() & style::defaultButton) != 0; }
  // An image beside the text (a push button's shield, for example); a null icon removes it.
  void setIcon(const Icon& icon);
  bool hasIcon() const;

  // Radio buttons of one group (from a control with style::group to the next).
  void joinGroup(QButtonGroup* group);

 protected:
  QWidget* makeWidget(QWidget* parent, const ControlTemplate& control) override;

 private:
  QAbstractButton* button_ = nullptr;
  QLabel* wrappedText_ = nullptr;  // multi-line check and radio buttons
  QButtonGroup* group_ = nullptr;
};

class ComboBox : public Control {
 public:
  // Appends the text (sorted combo boxes: inserts it in order); its position.
  int addString(std::u16string_view text);
  void resetContent();
  int count() const;
  // -1 when nothing is selected.
  int currentSelection() const;
  // -1 clears the selection; false for a position out of range.
  bool setCurrentSelection(int position);
  LParam itemData(int position) const;
  bool setItemData(int position, LParam data);
  std::u16string itemText(int position) const;
  // The first entry whose text equals `text` (without regard to case), or -1.
  int findStringExact(std::u16string_view text) const;

 protected:
  QWidget* makeWidget(QWidget* parent, const ControlTemplate& control) override;

 private:
  QComboBox* combo_ = nullptr;
};

class Edit : public Control {
 public:
  void setText(std::u16string_view text) override;
  std::u16string text() const override;

 protected:
  QWidget* makeWidget(QWidget* parent, const ControlTemplate& control) override;
  bool translateEvent(QEvent* event) override;

 private:
  QLineEdit* edit_ = nullptr;
};

// Up-down arrows that count the number in the edit created before them.
class Spin : public Control {
 public:
  void setRange(int minimum, int maximum);
  void setPosition(int position);
  int position() const { return position_; }
  int minimum() const { return minimum_; }
  int maximum() const { return maximum_; }
  // One step up (+1) or down (-1), as the arrows do.
  void step(int direction);
  Edit* buddy() const { return buddy_; }
  void setBuddy(Edit* buddy);

 protected:
  QWidget* makeWidget(QWidget* parent, const ControlTemplate& control) override;

 private:
  friend class SpinKeys;
  int minimum_ = 0;
  int maximum_ = 100;
  int position_ = 0;
  Edit* buddy_ = nullptr;
};

class TrackBar : public Control {
 public:
  void setRange(int minimum, int maximum);
  int minimum() const;
  int maximum() const;
  void setPosition(int position);
  int position() const;
  void setTickFrequency(int frequency);
  // As a user would move it: sets the position and notifies with `code`.
  void moveTo(int position, uint16_t code);

 protected:
  QWidget* makeWidget(QWidget* parent, const ControlTemplate& control) override;

 private:
  QSlider* slider_ = nullptr;
};

class ProgressBar : public Control {
 public:
  void setRange(int minimum, int maximum);
  void setPosition(int position);
  int position() const;
  int minimum() const;
  int maximum() const;

 protected:
  QWidget* makeWidget(QWidget* parent, const ControlTemplate& control) override;

 private:
  QProgressBar* bar_ = nullptr;
};

class HyperLink : public Control {
 public:
  // Shows the text as a link that opens `url` in the user's browser.
  void setLink(std::u16string_view text, std::u16string_view url);
  void setText(std::u16string_view text) override;
  std::u16string text() const override;
  std::u16string url() const { return url_; }

 protected:
  QWidget* makeWidget(QWidget* parent, const ControlTemplate& control) override;

 private:
  QLabel* label_ = nullptr;
  std::u16string text_;
  std::u16string url_;
};

class IconView : public Control {
 public:
  void setIcon(const Icon& icon);

 protected:
  QWidget* makeWidget(QWidget* parent, const ControlTemplate& control) override;

 private:
  QLabel* label_ = nullptr;
};

// Extended styles of list views.
namespace listStyle {
inline constexpr uint32_t gridLines = 0x01;
inline constexpr uint32_t checkBoxes = 0x04;
inline constexpr uint32_t fullRowSelect = 0x20;
}  // namespace listStyle

enum class Align { left, right, centre };

// A list view in report mode: rows of cells under column headers.
class ListView : public Control {
 public:
  ~ListView() override;

  void addExtendedStyle(uint32_t styles);
  uint32_t extendedStyle() const { return extendedStyle_; }

  // Inserts a column at `index`; its position.
  int insertColumn(int index, std::u16string_view heading, Align align, int width);
  int columnCount() const;
  int columnWidth(int column) const;
  bool setColumnWidth(int column, int width);
  // The width available to the columns: the list without border and scroll bar.
  int clientWidth() const;

  // Inserts a row at `index` (past the end: appends) with the first cell's
  // text and the row's data; its position, or -1.
  int insertItem(int index, std::u16string_view text, LParam data = 0);
  bool setItemText(int item, int subItem, std::u16string_view text);
  std::u16string itemText(int item, int subItem) const;
  bool deleteItem(int item);
  void deleteAllItems();
  int itemCount() const;
  LParam itemData(int item) const;
  bool setItemData(int item, LParam data);

  // The selected row, or -1.
  int selectedItem() const;
  // Selects a row (-1: none).
  bool selectItem(int item);

  bool isChecked(int item) const;
  bool setChecked(int item, bool checked);

  // The text colour a cell is drawn with, as custom drawing gives it
  // (NM_CUSTOMDRAW to the parent: prepaint, item, sub-item).
  Colour cellTextColour(int item, int subItem);

 protected:
  QWidget* makeWidget(QWidget* parent, const ControlTemplate& control) override;

 private:
  friend class ListViewDelegate;
  void selectionChanged();
  void cellChanged(int row, int column);
  void notifyItemChange(int item, uint32_t oldState, uint32_t newState);

  QTableWidget* table_ = nullptr;
  uint32_t extendedStyle_ = 0;
  std::vector<Align> alignments_;
  int selectedRow_ = -1;
  std::vector<bool> checks_;  // the check state last reported, per row
  bool filling_ = false;      // program-made cell changes: not the user's check clicks
};

class TreeView : public Control {
 public:
  ~TreeView() override;

  void setImageList(const ImageList* images);
  // Appends an item under `parent` (0: at the root); 0 on failure.
  TreeItem insertItem(TreeItem parent, std::u16string_view text, int image, int selectedImage, LParam data);
  bool deleteItem(TreeItem item);
  void deleteAllItems();
  bool expand(TreeItem item, bool expanded = true);
  bool isExpanded(TreeItem item) const;
  // Selects an item (0: none); notifies TVN_SELCHANGED when the selection changes.
  bool selectItem(TreeItem item);
  TreeItem selectedItem() const;
  LParam itemData(TreeItem item) const;
  bool setItemData(TreeItem item, LParam data);
  std::u16string itemText(TreeItem item) const;
  int itemImage(TreeItem item) const;
  // Navigation: the first item at the root, the first child, the next sibling; 0 when none.
  TreeItem rootItem() const;
  TreeItem childItem(TreeItem item) const;
  TreeItem nextSibling(TreeItem item) const;
  int count() const;

 protected:
  QWidget* makeWidget(QWidget* parent, const ControlTemplate& control) override;

 private:
  struct Entry {
    QTreeWidgetItem* item;
    LParam data;
  };
  TreeItem idOf(const QTreeWidgetItem* item) const;
  void forget(QTreeWidgetItem* item);
  void currentChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);

  QTreeWidget* tree_ = nullptr;
  const ImageList* images_ = nullptr;
  std::unordered_map<TreeItem, Entry> items_;
  TreeItem nextId_ = 1;
  TreeItem currentId_ = 0;  // the selection last reported
  uint32_t pendingAction_ = TVC_BYMOUSE;
};

// A tool tip for a window.
void setToolTip(WindowHandle window, std::u16string_view text);

}  // namespace platform::ui
