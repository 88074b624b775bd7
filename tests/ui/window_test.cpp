// Windows and messages: posting from other threads, sending, timers, showing,
// closing and destroying, and the order the messages arrive in.

#include <QCloseEvent>
#include <QCoreApplication>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QWidget>

#include <atomic>
#include <thread>

#include "platform/errors.h"
#include "platform/ui/application.h"
#include "platform/ui/frame_window.h"
#include "platform/ui/image_list.h"
#include "tests/ui/ui_test_support.h"

namespace ui_testing {
namespace {

constexpr ControlTemplate kChildControls[] = {
    {ControlKind::pushButton, 10, u"Button", 5, 5, 40, 14},
};
constexpr DialogTemplate kTopLevel{1, u"Top", 100, 60, {}};
constexpr DialogTemplate kChild{2, u"", 80, 40, kChildControls};

TEST(Messages, PostedFromAnotherThreadArriveInOrderOnTheGuiThread) {
  RecordingDialog window(kTopLevel);
  ASSERT_TRUE(window.create({}));
  std::vector<std::thread::id> threads;
  window.handler = [&](uint32_t message, WParam, LParam, LResult&) {
    if (message >= WM_USER) threads.push_back(std::this_thread::get_id());
    return message >= WM_USER;
  };
  std::thread poster([&] {
    for (uint32_t i = 0; i < 50; ++i) EXPECT_TRUE(postMessage(window.handle(), WM_USER + 1, i, 0));
  });
  poster.join();
  ASSERT_TRUE(waitFor([&] { return window.only(WM_USER + 1).size() == 50; }));
  const std::vector<Received> posted = window.only(WM_USER + 1);
  for (uint32_t i = 0; i < 50; ++i) EXPECT_EQ(posted[i].wParam, i);
  for (const std::thread::id& id : threads) EXPECT_EQ(id, std::this_thread::get_id());
  destroyWindow(window.handle());
}

TEST(Messages, PostingToAWindowThatIsGoneFails) {
  RecordingDialog window(kTopLevel);
  ASSERT_TRUE(window.create({}));
  const WindowHandle handle = window.handle();
  destroyWindow(handle);
  EXPECT_FALSE(postMessage(handle, WM_USER));
  EXPECT_EQ(platform::lastError(), platform::ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_FALSE(isWindow(handle));
  EXPECT_EQ(sendMessage(handle, WM_USER), 0);
}

TEST(Messages, AMessagePostedBeforeTheWindowGoesIsDropped) {
  RecordingDialog window(kTopLevel);
  ASSERT_TRUE(window.create({}));
  ASSERT_TRUE(postMessage(window.handle(), WM_USER + 7));
  destroyWindow(window.handle());
  QTest::qWait(50);
  EXPECT_TRUE(window.only(WM_USER + 7).empty());
}

TEST(Messages, SendFromAnotherThreadRunsOnTheGuiThreadAndReturnsTheAnswer) {
  RecordingDialog window(kTopLevel);
  ASSERT_TRUE(window.create({}));
  window.handler = [](uint32_t message, WParam wParam, LParam, LResult& result) {
    if (message != WM_APP) return false;
    result = static_cast<LResult>(wParam * 2);
    return true;
  };
  std::atomic<LResult> answer{0};
  std::atomic<bool> done{false};
  std::thread sender([&] {
    answer = sendMessage(window.handle(), WM_APP, 21, 0);
    done = true;
  });
  EXPECT_TRUE(waitFor([&] { return done.load(); }));
  sender.join();
  EXPECT_EQ(answer.load(), 42);
  destroyWindow(window.handle());
}

TEST(Messages, SendMessageTimeoutGivesUpWhileTheGuiThreadIsBusy) {
  RecordingDialog window(kTopLevel);
  ASSERT_TRUE(window.create({}));
  bool answered = true;
  uint32_t error = 0;
  std::thread sender([&] {
    LResult result = 0;
    answered = sendMessageTimeout(window.handle(), WM_APP, 0, 0, 100, &result);
    error = platform::lastError();
  });
  sender.join();  // the GUI thread (this one) does not run the loop meanwhile
  EXPECT_FALSE(answered);
  EXPECT_EQ(error, platform::ERROR_TIMEOUT);
  destroyWindow(window.handle());
}

TEST(Messages, TimersTickByIdentifierUntilKilled) {
  RecordingDialog window(kTopLevel);
  ASSERT_TRUE(window.create({}));
  EXPECT_EQ(setTimer(window.handle(), 1113, 20), 1113u);
  EXPECT_EQ(setTimer(window.handle(), 0, 20), 0u);
  ASSERT_TRUE(waitFor([&] { return window.only(WM_TIMER).size() >= 3; }));
  for (const Received& tick : window.only(WM_TIMER)) EXPECT_EQ(tick.wParam, 1113u);
  EXPECT_TRUE(killTimer(window.handle(), 1113));
  EXPECT_FALSE(killTimer(window.handle(), 1113));
  const size_t ticks = window.only(WM_TIMER).size();
  QTest::qWait(100);
  EXPECT_EQ(window.only(WM_TIMER).size(), ticks);
  destroyWindow(window.handle());
}

TEST(Messages, ShowWindowSaysSoOnlyWhenTheVisibilityChanges) {
  RecordingDialog window(kTopLevel);
  ASSERT_TRUE(window.create({}));
  EXPECT_FALSE(showWindow(window.handle(), SW_SHOW));
  EXPECT_TRUE(showWindow(window.handle(), SW_SHOW));
  EXPECT_TRUE(showWindow(window.handle(), SW_HIDE));
  EXPECT_FALSE(showWindow(window.handle(), SW_HIDE));
  const std::vector<Received> shown = window.only(WM_SHOWWINDOW);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].wParam, 1u);
  EXPECT_EQ(shown[1].wParam, 0u);
  destroyWindow(window.handle());
}

TEST(Messages, TheCloseBoxAsksTheWindowProcedure) {
  RecordingDialog window(kTopLevel);
  ASSERT_TRUE(window.create({}));
  showWindow(window.handle(), SW_SHOW);
  // Answering the system command keeps the window.
  window.handler = [](uint32_t message, WParam, LParam, LResult&) { return message == WM_SYSCOMMAND; };
  QCloseEvent closeBox;
  QCoreApplication::sendEvent(window.widget(), &closeBox);
  ASSERT_FALSE(window.only(WM_SYSCOMMAND).empty());
  EXPECT_EQ(window.only(WM_SYSCOMMAND).back().wParam, SC_CLOSE);
  EXPECT_TRUE(window.exists());
  // By default a dialog's close box is its cancel command.
  window.handler = {};
  QCloseEvent again;
  QCoreApplication::sendEvent(window.widget(), &again);
  ASSERT_FALSE(window.only(WM_COMMAND).empty());
  EXPECT_EQ(commandId(window.only(WM_COMMAND).back().wParam), IDCANCEL);
  destroyWindow(window.handle());
}

TEST(Messages, DestroyingSendsDestroyToTheWindowThenItsChildren) {
  std::vector<std::string> order;
  RecordingDialog parent(kTopLevel);
  RecordingDialog child(kChild);
  ASSERT_TRUE(parent.create({}));
  ASSERT_TRUE(child.create(parent.handle()));
  const WindowHandle button = child.item(10);
  parent.handler = [&](uint32_t message, WParam, LParam, LResult&) {
    if (message == WM_DESTROY) order.push_back("parent destroy");
    if (message == WM_NCDESTROY) order.push_back("parent final");
    return false;
  };
  child.handler = [&](uint32_t message, WParam, LParam, LResult&) {
    if (message == WM_DESTROY) order.push_back("child destroy");
    if (message == WM_NCDESTROY) order.push_back("child final");
    return false;
  };
  EXPECT_TRUE(destroyWindow(parent.handle()));
  EXPECT_EQ(order, (std::vector<std::string>{"parent destroy", "child destroy", "child final", "parent final"}));
  EXPECT_FALSE(parent.exists());
  EXPECT_FALSE(child.exists());
  EXPECT_FALSE(isWindow(button));
}

TEST(Messages, WmCloseByDefaultDestroysAPlainWindow) {
  class Plain : public FrameWindow {};
  Plain window;
  ASSERT_TRUE(window.create(u"", u"Plain", Rect{0, 0, 200, 100}, Icon()));
  sendMessage(window.handle(), WM_CLOSE);
  EXPECT_FALSE(window.exists());
}

TEST(Messages, TheQuitMessageEndsTheLoopWithItsCode) {
  RecordingDialog window(kTopLevel);
  ASSERT_TRUE(window.create({}));
  postMessage(window.handle(), WM_USER + 3);
  window.handler = [](uint32_t message, WParam, LParam, LResult&) {
    if (message == WM_USER + 3) postQuitMessage(7);
    return false;
  };
  EXPECT_EQ(runMessageLoop(), 7);
  destroyWindow(window.handle());
}

TEST(Messages, WindowTextAndGeometry) {
  RecordingDialog window(kTopLevel);
  ASSERT_TRUE(window.create({}));
  EXPECT_EQ(getWindowText(window.handle()), u"Top");
  setWindowText(window.handle(), u"Renamed");
  EXPECT_EQ(getWindowText(window.handle()), u"Renamed");
  showWindow(window.handle(), SW_SHOW);
  moveWindow(window.handle(), Rect{10, 20, 310, 220});
  EXPECT_EQ(getWindowRect(window.handle()), (Rect{10, 20, 310, 220}));
  EXPECT_EQ(getClientRect(window.handle()), (Rect{0, 0, 300, 200}));
  const std::vector<Received> sizes = window.only(WM_SIZE);
  ASSERT_FALSE(sizes.empty());
  EXPECT_EQ(lowWord(static_cast<uintptr_t>(sizes.back().lParam)), 300);
  EXPECT_EQ(highWord(static_cast<uintptr_t>(sizes.back().lParam)), 200);
  destroyWindow(window.handle());
}

TEST(Messages, AWindowCarriesTheIconItIsGiven) {
  RecordingDialog window(kTopLevel);
  ASSERT_TRUE(window.create({}));
  EXPECT_TRUE(windowIcon(window.handle()).isNull());
  const Icon icon = Icon::fromSvg(R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 16 16">)"
                                  R"(<rect width="16" height="16" fill="#d12f2f"/></svg>)");
  ASSERT_TRUE(setWindowIcon(window.handle(), icon));  // hidden windows too
  EXPECT_TRUE(hasWindowIcon(window.handle()));
  EXPECT_EQ(windowIcon(window.handle()).qIcon().pixmap(16, 16).toImage(), icon.qIcon().pixmap(16, 16).toImage());
  ASSERT_TRUE(setWindowIcon(window.handle(), Icon()));
  EXPECT_FALSE(hasWindowIcon(window.handle()));
  EXPECT_TRUE(windowIcon(window.handle()).isNull());
  destroyWindow(window.handle());
  EXPECT_TRUE(windowIcon(window.handle()).isNull());
}

}  // namespace
}  // namespace ui_testing
