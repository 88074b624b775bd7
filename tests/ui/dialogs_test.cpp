// Dialogs: modal and modeless, their keys, the resizer, the splitter, the
// frame's menu and status bar, message boxes and the notification icon.

#include <QAction>
#include <QMainWindow>
#include <QMenuBar>
#include <QTimer>

#include <memory>

#include "platform/ui/application.h"
#include "platform/ui/dialog_resizer.h"
#include "platform/ui/frame_window.h"
#include "platform/ui/message_box.h"
#include "platform/ui/notification_icon.h"
#include "platform/ui/resources.h"
#include "platform/ui/splitter.h"
#include "tests/ui/ui_test_support.h"

namespace ui_testing {
namespace {

constexpr ControlTemplate kButtons[] = {
    {ControlKind::pushButton, 3, u"Apply", 5, 5, 40, 14},
    {ControlKind::pushButton, IDOK, u"OK", 50, 5, 40, 14, style::defaultButton},
};
constexpr DialogTemplate kModal{1, u"Modal", 100, 40, kButtons};

// Ends with the command's identifier on OK and cancel.
class EndingDialog : public RecordingDialog {
 public:
  EndingDialog() : RecordingDialog(kModal) {
    handler = [this](uint32_t message, WParam wParam, LParam, LResult&) {
      if (message == WM_COMMAND && (commandId(wParam) == IDOK || commandId(wParam) == IDCANCEL)) {
        endDialog(commandId(wParam));
        return true;
      }
      return false;
    };
  }
};

TEST(ModalDialogs, KeysAndTheCloseBoxBecomeCommands) {
  const struct {
    const char* name;
    std::function<void(EndingDialog&)> act;
    LResult result;
  } cases[] = {
      {"Escape", [](EndingDialog& d) { QTest::keyClick(d.widget(), Qt::Key_Escape); }, IDCANCEL},
      {"Enter: the default button", [](EndingDialog& d) { QTest::keyClick(d.widget(), Qt::Key_Return); }, IDOK},
      {"close box", [](EndingDialog& d) { d.widget()->close(); }, IDCANCEL},
      {"OK", [](EndingDialog& d) { d.controlAs<Button>(IDOK)->click(); }, IDOK},
  };
  for (const auto& entry : cases) {
    SCOPED_TRACE(entry.name);
    EndingDialog dialog;
    QTimer::singleShot(50, [&] { entry.act(dialog); });
    EXPECT_EQ(dialog.doModal({}), entry.result);
    EXPECT_FALSE(dialog.exists());
    EXPECT_FALSE(dialog.only(WM_INITDIALOG).empty());
  }
}

TEST(ModalDialogs, TheQuitMessageEndsAModalDialogAndTheLoop) {
  EndingDialog dialog;
  int loopResult = -1;
  QTimer::singleShot(0, [&] {
    QTimer::singleShot(50, [] { postQuitMessage(3); });
    EXPECT_EQ(dialog.doModal({}), IDCANCEL);
  });
  loopResult = runMessageLoop();
  EXPECT_EQ(loopResult, 3);
}

TEST(ModalDialogs, TheOwnersLastActivePopupIsTheDialogWhileItRuns) {
  RecordingDialog owner(kModal);
  ASSERT_TRUE(owner.create({}));
  EndingDialog dialog;
  WindowHandle popup;
  QTimer::singleShot(50, [&] {
    popup = getLastActivePopup(owner.handle());
    dialog.endDialog(IDOK);
  });
  dialog.doModal(owner.handle());
  EXPECT_NE(popup, owner.handle());
  EXPECT_EQ(getLastActivePopup(owner.handle()), owner.handle());
  destroyWindow(owner.handle());
}

constexpr ControlTemplate kResized[] = {
    {ControlKind::listView, 1, u"", 4, 4, 40, 20},
    {ControlKind::groupBox, 2, u"", 4, 30, 40, 10},
    {ControlKind::pushButton, 3, u"", 50, 30, 20, 10},
    {ControlKind::staticText, 4, u"", 50, 4, 20, 10},
};
constexpr DialogTemplate kResizable{1, u"", 80, 50, kResized};

TEST(DialogResizer, ControlsGrowAndMoveWithTheDialog) {
  RecordingDialog parent(kModal);
  RecordingDialog page(kResizable);
  ASSERT_TRUE(parent.create({}));
  ASSERT_TRUE(page.create(parent.handle()));
  const ResizeRule rules[] = {{1, resize::growWidth | resize::growHeight},
                              {2, resize::growWidth | resize::moveDown},
                              {3, resize::moveRight | resize::moveDown}};
  DialogResizer resizer;
  resizer.initialise(page, rules);
  const Rect list = getWindowRect(page.item(1));
  const Rect group = getWindowRect(page.item(2));
  const Rect button = getWindowRect(page.item(3));
  const Rect text = getWindowRect(page.item(4));
  const Rect client = getClientRect(page.handle());
  moveWindow(page.handle(), Rect{0, 0, client.width() + 30, client.height() + 20});
  resizer.resize(page);
  EXPECT_EQ(getWindowRect(page.item(1)), (Rect{list.left, list.top, list.right + 30, list.bottom + 20}));
  EXPECT_EQ(getWindowRect(page.item(2)), (Rect{group.left, group.top + 20, group.right + 30, group.bottom + 20}));
  EXPECT_EQ(getWindowRect(page.item(3)),
            (Rect{button.left + 30, button.top + 20, button.right + 30, button.bottom + 20}));
  EXPECT_EQ(getWindowRect(page.item(4)), text) << "without a rule it stays";
  // Smaller than at the start: back to where they began, not beyond.
  moveWindow(page.handle(), Rect{0, 0, client.width() - 10, client.height() - 10});
  resizer.resize(page);
  EXPECT_EQ(getWindowRect(page.item(1)), list);
  EXPECT_EQ(getWindowRect(page.item(3)), button);
  destroyWindow(parent.handle());
}

constexpr DialogTemplate kPane{1, u"", 40, 40, {}, dialogStyle::clientEdge};

class FrameTest : public ::testing::Test {
 protected:
  class Frame : public FrameWindow {
   public:
    bool processMessage(uint32_t message, WParam wParam, LParam lParam, LResult& result) override {
      if (message == WM_COMMAND || message == WM_NOTIFY) commands.push_back(commandId(wParam));
      (void)lParam;
      (void)result;
      return false;
    }
    std::vector<int> commands;
  };

  void SetUp() override {
    setResources(&resources_);
    ASSERT_TRUE(frame_.create(u"FrameTestClass", u"Frame", Rect{0, 0, 600, 400}, Icon()));
  }
  void TearDown() override {
    if (frame_.exists()) destroyWindow(frame_.handle());
    setResources(nullptr);
  }

  static constexpr StringResource kStrings[] = {{57665, u"Close the program\nExit"}};
  static constexpr MenuItem kFile[] = {{u"E&xit", 57665}, {u"", 0, {}, menuFlag::separator}, {u"&Other", 7}};
  static constexpr MenuItem kMenu[] = {{u"&File", 0, kFile}};
  const ResourceTable resources_{{}, kStrings};
  Frame frame_;
};

TEST_F(FrameTest, MenuCommandsAndTheirPromptsInTheDefaultPane) {
  frame_.createCommandBar(MenuTemplate{128, kMenu});
  frame_.createStatusBar(u"Ready", {220, 190});
  showWindow(frame_.handle(), SW_SHOW);
  auto* window = qobject_cast<QMainWindow*>(frame_.widget());
  QAction* exit = nullptr;
  for (QAction* action : window->menuBar()->actions().front()->menu()->actions()) {
    if (action->text() == QStringLiteral("E&xit")) exit = action;
  }
  ASSERT_NE(exit, nullptr);
  exit->showStatusText(window->menuBar());  // as the open menu does for the item under the mouse
  EXPECT_EQ(frame_.prompt(), u"Close the program");
  EXPECT_EQ(frame_.paneText(0), u"Ready");
  exit->trigger();
  EXPECT_EQ(frame_.commands, (std::vector<int>{57665}));
}

TEST_F(FrameTest, StatusBarPanes) {
  frame_.createStatusBar(u"Ready", {220, 190});
  EXPECT_TRUE(frame_.setPaneText(1, u"Streaming state: Down"));
  EXPECT_FALSE(frame_.setPaneText(3, u"no such pane"));
  EXPECT_EQ(frame_.paneText(1), u"Streaming state: Down");
  EXPECT_EQ(frame_.paneText(2), u"");
}

TEST_F(FrameTest, TheSplitterKeepsTheLeftPanesShareAndForwardsNotifications) {
  SplitterWindow splitter;
  ASSERT_TRUE(splitter.create(frame_.handle()));
  frame_.setClientWindow(splitter);
  splitter.setSplitterPosition(150);
  RecordingDialog left(kPane);
  RecordingDialog right(kPane);
  RecordingDialog other(kPane);
  ASSERT_TRUE(left.create(splitter.handle()));
  ASSERT_TRUE(right.create(splitter.handle()));
  ASSERT_TRUE(other.create(splitter.handle()));
  showWindow(left.handle(), SW_SHOW);
  showWindow(right.handle(), SW_SHOW);
  splitter.setPane(SplitterWindow::left, left.handle());
  splitter.setPane(SplitterWindow::right, right.handle());
  showWindow(frame_.handle(), SW_SHOW);
  splitter.layoutPanes();
  EXPECT_EQ(splitter.splitterPosition(), 150);
  EXPECT_EQ(getWindowRect(left.handle()).width(), 150);
  const int width = getClientRect(splitter.handle()).width();
  EXPECT_EQ(getWindowRect(right.handle()).width(), width - 150 - 4);

  moveWindow(frame_.handle(), Rect{0, 0, 1200, 400});
  QTest::qWait(20);
  const int wider = getClientRect(splitter.handle()).width();
  EXPECT_NEAR(splitter.splitterPosition(), 150.0 * (wider - 4) / (width - 4), 1.0);

  // Another right pane: the last one leaves it, hidden.
  showWindow(other.handle(), SW_SHOW);
  splitter.setPane(SplitterWindow::right, other.handle());
  EXPECT_EQ(splitter.pane(SplitterWindow::right), other.handle());
  EXPECT_FALSE(isWindowVisible(right.handle()));
  EXPECT_TRUE(isWindowVisible(other.handle()));

  // A page's command reaches the frame through the splitter.
  sendMessage(splitter.handle(), WM_COMMAND, makeWParam(42, BN_CLICKED), 0);
  EXPECT_EQ(frame_.commands, (std::vector<int>{42}));
}

TEST_F(FrameTest, APaneWhoseWindowWasDestroyedTakesTheNextWindow) {
  SplitterWindow splitter;
  ASSERT_TRUE(splitter.create(frame_.handle()));
  frame_.setClientWindow(splitter);
  auto shown = std::make_unique<RecordingDialog>(kPane);
  RecordingDialog next(kPane);
  ASSERT_TRUE(shown->create(splitter.handle()));
  ASSERT_TRUE(next.create(splitter.handle()));
  splitter.setPane(SplitterWindow::right, shown->handle());
  // A page destroyed, and its object deleted, while it is the right pane.
  destroyWindow(shown->handle());
  shown.reset();
  showWindow(next.handle(), SW_SHOW);
  EXPECT_TRUE(splitter.setPane(SplitterWindow::right, next.handle()));
  splitter.layoutPanes();
  EXPECT_TRUE(isWindowVisible(next.handle()) || !isWindowVisible(frame_.handle()));
  EXPECT_EQ(splitter.pane(SplitterWindow::right), next.handle());
}

TEST(MessageBoxes, ATestAnswersThemAndSeesWhatWasAsked) {
  std::vector<MessageBoxRequest> asked;
  setMessageBoxResponder([&](const MessageBoxRequest& request) {
    asked.push_back(request);
    return IDNO;
  });
  EXPECT_EQ(messageBox({}, u"Really?", u"Caption", MB_YESNO | MB_ICONQUESTION), IDNO);
  setMessageBoxResponder({});
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].text, u"Really?");
  EXPECT_EQ(asked[0].caption, u"Caption");
  EXPECT_EQ(asked[0].type, MB_YESNO | MB_ICONQUESTION);
}

TEST(MessageBoxes, WithoutAResponderARealBoxIsShown) {
  QTimer::singleShot(100, [] {
    QWidget* box = QApplication::activeModalWidget();
    ASSERT_NE(box, nullptr);
    QTest::keyClick(box, Qt::Key_Escape);
  });
  EXPECT_EQ(messageBox({}, u"Text", u"Caption", MB_OKCANCEL | MB_ICONWARNING), IDCANCEL);
}

TEST(NotificationIcons, NotAcceptedWithoutANotificationArea) {
  // The offscreen platform has none.
  RecordingDialog owner(kModal);
  ASSERT_TRUE(owner.create({}));
  NotificationIcon icon;
  EXPECT_FALSE(NotificationIcon::available());
  EXPECT_FALSE(icon.add(owner.handle(), 205, WM_USER + 100, Icon(), u"tip"));
  EXPECT_FALSE(icon.isAdded());
  EXPECT_FALSE(icon.showBalloon(u"Title", u"Text", BalloonIcon::error, 15000));
  destroyWindow(owner.handle());
}

TEST(Icons, SvgArtworkMakesAnIconAndAnythingElseNone) {
  const Icon icon = Icon::fromSvg(R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 16 16"><circle cx="8" cy="8" r="7" fill="#2f7fd1"/></svg>)");
  EXPECT_FALSE(icon.isNull());
  EXPECT_FALSE(icon.qIcon().pixmap(16, 16).isNull());
  EXPECT_TRUE(Icon::fromSvg("not svg").isNull());
  ImageList images(16, 16);
  EXPECT_EQ(images.add(icon), 0);
  EXPECT_EQ(images.add(Icon()), -1);
  EXPECT_EQ(images.add(icon), 1);
  EXPECT_TRUE(images.at(5).isNull());
}

}  // namespace
}  // namespace ui_testing
