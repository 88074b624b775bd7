// Controls made from templates and what they tell their dialog.

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTableWidget>
#include <QToolButton>
#include <QTreeWidget>

#include "platform/ui/controls.h"
#include "platform/ui/image_list.h"
#include "tests/ui/ui_test_support.h"

namespace ui_testing {
namespace {

enum Ids {
  kPush = 100,
  kAutoCheck,
  kPlainCheck,
  kRadioA,
  kRadioB,
  kRadioC,
  kCombo,
  kSortedCombo,
  kList,
  kCheckList,
  kTree,
  kVerticalTrack,
  kEdit,
  kSpin,
  kProgress,
  kStatic,
  kMultiLineRadio,
};

constexpr ControlTemplate kControls[] = {
    {ControlKind::pushButton, kPush, u"&Push", 5, 5, 40, 14},
    {ControlKind::checkBox, kAutoCheck, u"Auto", 5, 22, 40, 10, style::automatic},
    {ControlKind::checkBox, kPlainCheck, u"Plain", 5, 34, 40, 10},
    {ControlKind::radioButton, kRadioA, u"A", 5, 46, 30, 10, style::automatic | style::group},
    {ControlKind::radioButton, kRadioB, u"B", 5, 58, 30, 10, style::automatic},
    {ControlKind::radioButton, kRadioC, u"C (own group)", 5, 70, 60, 10, style::automatic | style::group},
    {ControlKind::comboBox, kCombo, u"", 60, 5, 60, 40},
    {ControlKind::comboBox, kSortedCombo, u"", 60, 22, 60, 40, style::sorted},
    {ControlKind::listView, kList, u"", 130, 5, 120, 60, style::singleSelection | style::border},
    {ControlKind::listView, kCheckList, u"", 130, 70, 120, 60, style::singleSelection},
    {ControlKind::treeView, kTree, u"", 260, 5, 80, 100, style::hasButtons | style::linesAtRoot},
    {ControlKind::trackBar, kVerticalTrack, u"", 350, 5, 20, 80, style::vertical | style::autoTicks},
    {ControlKind::edit, kEdit, u"3", 5, 90, 30, 12, style::number},
    {ControlKind::spin, kSpin, u"", 36, 90, 10, 12, style::setBuddyNumber | style::arrowKeys},
    {ControlKind::progressBar, kProgress, u"", 60, 90, 60, 8},
    {ControlKind::staticText, kStatic, u"Line one\rLine &two", 60, 100, 60, 20},
    {ControlKind::radioButton, kMultiLineRadio, u"A long text\rthat wraps", 5, 110, 50, 24,
     style::automatic | style::multiLine | style::group},
};

constexpr DialogTemplate kTemplate{1, u"Controls", 380, 140, kControls};

class ControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dialog.create({}));
    showWindow(dialog.handle(), SW_SHOW);
    setForegroundWindow(dialog.handle());
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.widget()));
  }
  void TearDown() override { destroyWindow(dialog.handle()); }

  std::vector<std::pair<int, int>> commands() const {
    std::vector<std::pair<int, int>> found;
    for (const Received& entry : dialog.only(WM_COMMAND)) found.push_back({commandId(entry.wParam), commandCode(entry.wParam)});
    return found;
  }

  RecordingDialog dialog{kTemplate};
};

TEST_F(ControlsTest, ControlsAreCreatedFromTheTemplateInDialogUnits) {
  const Size base = dialogBaseUnits();
  const Rect expected = dialogUnitsToPixels(60, 5, 60, 40);
  EXPECT_EQ(getWindowRect(dialog.item(kCombo)).left, expected.left);
  EXPECT_EQ(getClientRect(dialog.handle()).width(), static_cast<int>(std::lround(380 * base.width / 4.0)));
  EXPECT_EQ(dialog.itemText(kPush), u"&Push");
  EXPECT_EQ(dialog.itemText(kStatic), u"Line one\nLine two");
  EXPECT_EQ(dialog.itemText(kMultiLineRadio), u"A long text\nthat wraps");
  EXPECT_FALSE(dialog.item(999));
  EXPECT_EQ(dialog.control(999), nullptr);
}

TEST_F(ControlsTest, ButtonClicksAreCommands) {
  dialog.controlAs<Button>(kPush)->click();
  QTest::mouseClick(dialog.controlAs<Button>(kPush)->widget(), Qt::LeftButton);
  EXPECT_EQ(commands(), (std::vector<std::pair<int, int>>{{kPush, BN_CLICKED}, {kPush, BN_CLICKED}}));
}

TEST_F(ControlsTest, AutomaticCheckBoxesToggleThemselvesOthersDoNot) {
  dialog.controlAs<Button>(kAutoCheck)->click();
  dialog.controlAs<Button>(kPlainCheck)->click();
  EXPECT_TRUE(dialog.isButtonChecked(kAutoCheck));
  EXPECT_FALSE(dialog.isButtonChecked(kPlainCheck));
  EXPECT_EQ(commands(), (std::vector<std::pair<int, int>>{{kAutoCheck, BN_CLICKED}, {kPlainCheck, BN_CLICKED}}));
  dialog.checkButton(kPlainCheck, true);  // set by the program: no notification
  EXPECT_TRUE(dialog.isButtonChecked(kPlainCheck));
  EXPECT_EQ(commands().size(), 2u);
}

TEST_F(ControlsTest, RadioButtonsOfAGroupExcludeEachOther) {
  dialog.checkRadioButton(kRadioA, kRadioB, kRadioA);
  dialog.checkButton(kRadioC, true);
  EXPECT_TRUE(dialog.isButtonChecked(kRadioA));
  EXPECT_TRUE(dialog.isButtonChecked(kRadioC)) << "another group";
  dialog.controlAs<Button>(kRadioB)->click();
  EXPECT_FALSE(dialog.isButtonChecked(kRadioA));
  EXPECT_TRUE(dialog.isButtonChecked(kRadioB));
  EXPECT_TRUE(dialog.isButtonChecked(kRadioC));
  dialog.checkButton(kRadioB, false);  // a group may end up with none
  EXPECT_FALSE(dialog.isButtonChecked(kRadioA));
  EXPECT_FALSE(dialog.isButtonChecked(kRadioB));
  dialog.checkRadioButton(kRadioA, kRadioB, kRadioB);
  EXPECT_TRUE(dialog.isButtonChecked(kRadioB));
}

TEST_F(ControlsTest, ComboBoxEntriesDataAndTheUsersChoice) {
  ComboBox* combo = dialog.controlAs<ComboBox>(kCombo);
  EXPECT_EQ(combo->addString(u"Stereo full"), 0);
  EXPECT_EQ(combo->addString(u"Stereo reduced"), 1);
  combo->setItemData(1, 5);
  EXPECT_EQ(combo->currentSelection(), -1) << "adding selects nothing";
  EXPECT_EQ(combo->itemData(1), 5);
  EXPECT_EQ(combo->findStringExact(u"stereo REDUCED"), 1);
  EXPECT_EQ(combo->findStringExact(u"Stereo"), -1);
  EXPECT_TRUE(combo->setCurrentSelection(1));
  EXPECT_FALSE(combo->setCurrentSelection(2));
  EXPECT_TRUE(commands().empty()) << "the program's selection is no notification";
  auto* qtCombo = qobject_cast<QComboBox*>(combo->widget());
  emit qtCombo->activated(0);  // the user picks the first entry
  EXPECT_EQ(commands(), (std::vector<std::pair<int, int>>{{kCombo, CBN_SELCHANGE}}));
  combo->resetContent();
  EXPECT_EQ(combo->count(), 0);
  EXPECT_EQ(combo->currentSelection(), -1);
}

TEST_F(ControlsTest, SortedComboBoxesInsertInOrder) {
  ComboBox* combo = dialog.controlAs<ComboBox>(kSortedCombo);
  combo->addString(u"Channel 03/04");
  EXPECT_EQ(combo->addString(u"Channel 01/02"), 0);
  EXPECT_EQ(combo->addString(u"channel 05/06"), 2);
  EXPECT_EQ(combo->itemText(0), u"Channel 01/02");
  EXPECT_EQ(combo->itemText(2), u"channel 05/06");
}

TEST_F(ControlsTest, ListViewRowsColumnsAndSelectionChanges) {
  ListView* list = dialog.controlAs<ListView>(kList);
  list->addExtendedStyle(listStyle::gridLines | listStyle::fullRowSelect);
  EXPECT_EQ(list->insertItem(0, u"no columns yet"), -1);
  list->insertColumn(0, u"Counter", Align::left, 80);
  list->insertColumn(1, u"Value", Align::right, 40);
  EXPECT_EQ(list->insertItem(0, u"first", 11), 0);
  EXPECT_EQ(list->insertItem(5, u"second", 22), 1);
  EXPECT_TRUE(list->setItemText(1, 1, u"7"));
  EXPECT_FALSE(list->setItemText(1, 2, u"no column"));
  EXPECT_EQ(list->itemText(1, 1), u"7");
  EXPECT_EQ(list->itemData(1), 22);
  EXPECT_TRUE(dialog.itemChanges.empty()) << "no check boxes, nothing selected: nothing to tell";

  list->selectItem(0);
  list->selectItem(1);
  ASSERT_EQ(dialog.itemChanges.size(), 3u);
  EXPECT_EQ(dialog.itemChanges[0].item, 0);
  EXPECT_EQ(dialog.itemChanges[0].newState & LVIS_SELECTED, LVIS_SELECTED);
  EXPECT_EQ(dialog.itemChanges[1].item, 0);
  EXPECT_EQ(dialog.itemChanges[1].oldState & LVIS_SELECTED, LVIS_SELECTED);
  EXPECT_EQ(dialog.itemChanges[1].newState & LVIS_SELECTED, 0u);
  EXPECT_EQ(dialog.itemChanges[2].item, 1);
  EXPECT_EQ(dialog.itemChanges[2].data, 22);
  EXPECT_EQ(list->selectedItem(), 1);

  // A click by the user.
  auto* table = qobject_cast<QTableWidget*>(list->widget());
  const QRect first = table->visualItemRect(table->item(0, 0));
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, first.center());
  EXPECT_EQ(list->selectedItem(), 0);
  EXPECT_EQ(dialog.itemChanges.back().item, 0);

  list->deleteAllItems();
  EXPECT_EQ(list->itemCount(), 0);
  EXPECT_EQ(list->selectedItem(), -1);
}

TEST_F(ControlsTest, ListViewCheckBoxesReportEveryStateChange) {
  ListView* list = dialog.controlAs<ListView>(kCheckList);
  list->addExtendedStyle(listStyle::checkBoxes | listStyle::fullRowSelect);
  list->insertColumn(0, u"Bit", Align::right, 40);
  list->insertItem(0, u" 0", 1);
  ASSERT_EQ(dialog.itemChanges.size(), 1u) << "a new row gets its unchecked mark";
  EXPECT_EQ(dialog.itemChanges[0].newState & LVIS_STATEIMAGEMASK, LVIS_UNCHECKED);
  list->setChecked(0, true);
  ASSERT_EQ(dialog.itemChanges.size(), 2u);
  EXPECT_EQ(dialog.itemChanges[1].oldState & LVIS_STATEIMAGEMASK, LVIS_UNCHECKED);
  EXPECT_EQ(dialog.itemChanges[1].newState & LVIS_STATEIMAGEMASK, LVIS_CHECKED);
  list->setChecked(0, true);  // no change, no word
  EXPECT_EQ(dialog.itemChanges.size(), 2u);
  // The user unchecks it.
  auto* table = qobject_cast<QTableWidget*>(list->widget());
  table->item(0, 0)->setCheckState(Qt::Unchecked);
  ASSERT_EQ(dialog.itemChanges.size(), 3u);
  EXPECT_EQ(dialog.itemChanges[2].newState & LVIS_STATEIMAGEMASK, LVIS_UNCHECKED);
  EXPECT_FALSE(list->isChecked(0));
  list->setItemText(0, 0, u" 1");  // a text change is no state change
  EXPECT_EQ(dialog.itemChanges.size(), 3u);
}

TEST_F(ControlsTest, ListViewCustomDrawGivesEachCellItsColour) {
  ListView* list = dialog.controlAs<ListView>(kList);
  list->insertColumn(0, u"Name", Align::left, 60);
  list->insertColumn(1, u"Value", Align::right, 40);
  list->insertItem(0, u"a");
  list->insertItem(1, u"b");
  // Without a custom drawing parent everything is black.
  EXPECT_EQ(list->cellTextColour(1, 1), rgb(0, 0, 0));
  std::vector<uint32_t> stages;
  dialog.handler = [&](uint32_t message, WParam, LParam lParam, LResult& result) {
    if (message != WM_NOTIFY) return false;
    auto* draw = reinterpret_cast<CustomDraw*>(lParam);
    if (draw->header.code != NM_CUSTOMDRAW) return false;
    stages.push_back(draw->drawStage);
    if (draw->drawStage == CDDS_PREPAINT) result = CDRF_NOTIFYITEMDRAW;
    if (draw->drawStage == CDDS_ITEMPREPAINT) result = CDRF_NOTIFYSUBITEMDRAW;
    if (draw->drawStage == (CDDS_ITEMPREPAINT | CDDS_SUBITEM) && draw->item == 1 && draw->subItem == 1) {
      draw->textColour = rgb(250, 0, 50);
    }
    return true;
  };
  EXPECT_EQ(list->cellTextColour(1, 1), rgb(250, 0, 50));
  EXPECT_EQ(list->cellTextColour(1, 0), rgb(0, 0, 0));
  EXPECT_EQ(list->cellTextColour(0, 1), rgb(0, 0, 0));
  EXPECT_EQ(std::vector<uint32_t>(stages.begin(), stages.begin() + 3),
            (std::vector<uint32_t>{CDDS_PREPAINT, CDDS_ITEMPREPAINT, CDDS_ITEMPREPAINT | CDDS_SUBITEM}));
  stages.clear();
  qobject_cast<QTableWidget*>(list->widget())->viewport()->repaint();  // painting asks the same questions
  EXPECT_FALSE(stages.empty());
}

TEST_F(ControlsTest, TreeItemsDataSelectionAndDeletion) {
  TreeView* tree = dialog.controlAs<TreeView>(kTree);
  const TreeItem root = tree->insertItem(0, u"Devices", -1, -1, 1);
  const TreeItem child = tree->insertItem(root, u"Device0", -1, -1, 2);
  const TreeItem second = tree->insertItem(0, u"Driver Info", -1, -1, 3);
  EXPECT_EQ(tree->insertItem(9999, u"no parent", -1, -1, 0), 0u);
  EXPECT_EQ(tree->rootItem(), root);
  EXPECT_EQ(tree->nextSibling(root), second);
  EXPECT_EQ(tree->childItem(root), child);
  EXPECT_EQ(tree->count(), 3);
  tree->expand(root);
  EXPECT_TRUE(tree->isExpanded(root));

  tree->selectItem(child);
  ASSERT_EQ(dialog.treeChanges.size(), 1u);
  EXPECT_EQ(dialog.treeChanges[0].newItem, child);
  EXPECT_EQ(dialog.treeChanges[0].newData, 2);
  EXPECT_EQ(dialog.treeChanges[0].oldItem, 0u);

  // A user's click.
  auto* widget = qobject_cast<QTreeWidget*>(tree->widget());
  const QRect rect = widget->visualItemRect(widget->topLevelItem(1));
  QTest::mouseClick(widget->viewport(), Qt::LeftButton, {}, rect.center());
  EXPECT_EQ(tree->selectedItem(), second);
  EXPECT_EQ(dialog.treeChanges.back().oldItem, child);
  EXPECT_EQ(dialog.treeChanges.back().action, TVC_BYMOUSE);

  // Deleting the selected item moves the selection; the old item is gone.
  tree->setItemData(second, 0);
  EXPECT_TRUE(tree->deleteItem(second));
  EXPECT_EQ(dialog.treeChanges.back().oldItem, 0u);
  EXPECT_FALSE(tree->deleteItem(second));
  EXPECT_EQ(tree->itemText(second), u"");
  // Deleting a parent deletes its children.
  EXPECT_TRUE(tree->deleteItem(root));
  EXPECT_EQ(tree->count(), 0);
  EXPECT_EQ(tree->itemData(child), 0);
}

TEST_F(ControlsTest, VerticalTrackBarsHaveTheirMinimumOnTopAndReportScrollCodes) {
  TrackBar* track = dialog.controlAs<TrackBar>(kVerticalTrack);
  track->setRange(0, 6600);
  track->setPosition(600);
  EXPECT_TRUE(dialog.only(WM_VSCROLL).empty()) << "set by the program";
  auto* slider = qobject_cast<QSlider*>(track->widget());
  EXPECT_TRUE(slider->invertedAppearance());
  slider->setFocus();
  QTest::keyClick(slider, Qt::Key_Down);  // toward the bottom: larger values
  QTest::keyClick(slider, Qt::Key_PageUp);
  QTest::keyClick(slider, Qt::Key_Home);
  const std::vector<Received> scrolls = dialog.only(WM_VSCROLL);
  ASSERT_EQ(scrolls.size(), 3u);
  const uint16_t step = static_cast<uint16_t>(slider->singleStep());
  const uint16_t page = static_cast<uint16_t>(slider->pageStep());
  EXPECT_EQ(lowWord(scrolls[0].wParam), SB_LINEDOWN);
  EXPECT_EQ(highWord(scrolls[0].wParam), 600 + step);
  EXPECT_EQ(lowWord(scrolls[1].wParam), SB_PAGEUP);
  EXPECT_EQ(highWord(scrolls[1].wParam), 600 + step - page);
  EXPECT_EQ(lowWord(scrolls[2].wParam), SB_TOP);
  EXPECT_EQ(highWord(scrolls[2].wParam), 0);
  EXPECT_EQ(static_cast<uint64_t>(scrolls[2].lParam), dialog.item(kVerticalTrack).value);
  EXPECT_EQ(track->position(), 0);
  track->moveTo(1000, SB_THUMBTRACK);
  EXPECT_EQ(lowWord(dialog.only(WM_VSCROLL).back().wParam), SB_THUMBTRACK);
  EXPECT_EQ(track->position(), 1000);
}

TEST_F(ControlsTest, EditsTakeDigitsAndReportChangesAndLeavingFocus) {
  Edit* edit = dialog.controlAs<Edit>(kEdit);
  auto* line = qobject_cast<QLineEdit*>(edit->widget());
  line->setFocus();
  line->selectAll();
  QTest::keyClicks(line, "1x2");
  EXPECT_EQ(edit->text(), u"12");
  EXPECT_FALSE(commands().empty());
  EXPECT_EQ(commands().back(), (std::pair<int, int>{kEdit, EN_CHANGE}));
  dialog.controlAs<Button>(kPush)->widget()->setFocus();
  EXPECT_TRUE(waitFor([&] {
    for (const auto& command : commands()) {
      if (command == std::pair<int, int>{kEdit, EN_KILLFOCUS}) return true;
    }
    return false;
  }));
}

TEST_F(ControlsTest, SpinsCountTheBuddysNumberWithinTheirRange) {
  Spin* spin = dialog.controlAs<Spin>(kSpin);
  Edit* edit = dialog.controlAs<Edit>(kEdit);
  ASSERT_EQ(spin->buddy(), edit);
  spin->setRange(0, 4);
  spin->setPosition(3);
  EXPECT_EQ(edit->text(), u"3");
  const auto arrows = spin->widget()->findChildren<QToolButton*>();
  ASSERT_EQ(arrows.size(), 2);
  arrows[0]->click();  // up
  EXPECT_EQ(spin->position(), 4);
  EXPECT_EQ(edit->text(), u"4");
  arrows[0]->click();  // at the top: stays
  EXPECT_EQ(edit->text(), u"4");
  EXPECT_EQ(dialog.only(WM_VSCROLL).size(), 1u);
  edit->widget()->setFocus();
  QTest::keyClick(edit->widget(), Qt::Key_Down);
  EXPECT_EQ(edit->text(), u"3");
  edit->setText(u"1");  // typed by the user: the next step starts there
  arrows[1]->click();
  EXPECT_EQ(edit->text(), u"0");
  spin->setPosition(40);
  EXPECT_EQ(spin->position(), 4);
}

TEST_F(ControlsTest, ProgressBarsKeepTheirPositionInRange) {
  ProgressBar* bar = dialog.controlAs<ProgressBar>(kProgress);
  bar->setRange(0, 6000);
  bar->setPosition(6500);
  EXPECT_EQ(bar->position(), 6000);
  bar->setPosition(-1);
  EXPECT_EQ(bar->position(), 0);
}

TEST_F(ControlsTest, AMultiLineRadioIsClickedThroughItsText) {
  Button* radio = dialog.controlAs<Button>(kMultiLineRadio);
  QWidget* text = radio->widget()->findChild<QLabel*>();
  ASSERT_NE(text, nullptr);
  EXPECT_TRUE(static_cast<QLabel*>(text)->wordWrap());
  QTest::mouseClick(text, Qt::LeftButton);
  EXPECT_TRUE(radio->isChecked());
  EXPECT_EQ(commands().back(), (std::pair<int, int>{kMultiLineRadio, BN_CLICKED}));
}

}  // namespace
}  // namespace ui_testing
