// The monitor's dialog and tray against the driver in a device host of the
// test: the start, mirroring control changes, network problems, the mute
// buttons, the port count, a second instance.

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "ethernet-midi-monitor/cternok_mir_mon_app.h"
#include "ethernet-midi-monitor/cternok_mir_mon_dlg.h"
#include "ethernet-midi-monitor/mirelo_mon_resources.h"
#include "ethernet-midi-monitor/mirelo_profile.h"
#include "platform/mutexes.h"
#include "platform/ui/window.h"
#include "platform/ui/window_directory.h"
#include "tests/support/spawned_process.h"
#include "tests/ethernet-midi-monitor/monitor_test_support.h"

namespace {

using namespace monitor_testing;
using namespace platform::ui;
using Dlg = CternokMirMonDlg;
using mirelo_testing::setMulticastInterface;

class MonitorDialogTest : public MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    setResources(&mirelo_mon::resources());
  }
  void TearDown() override {
    dialog.reset();
    setResources(nullptr);
    MonitorTest::TearDown();
  }

  // Starts the driver with `ports` and the dialog; waits for the driver's
  // answer to the restored state.
  void open(uint32_t ports) {
    start(ports | ports << 8);
    openDialog();
  }
  void openDialog() {
    dialog = std::make_unique<Dlg>();
    ASSERT_TRUE(dialog->HasDevice());
    ASSERT_TRUE(dialog->create({}, u"Dialog"));
    ASSERT_TRUE(dialog->Initialised());
    settle();
  }
  // Lets queued control changes reach the dialog.
  void settle() { QTest::qWait(150); }
  bool waitFor(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 5000); }

  bool checked(int port) { return dialog->isButtonChecked(Dlg::IDC_PORT_FIRST + port - 1); }
  bool enabled(int port) { return isWindowEnabled(dialog->item(Dlg::IDC_PORT_FIRST + port - 1)); }
  void click(int id) { dialog->controlAs<Button>(id)->click(); }

  std::unique_ptr<Dlg> dialog;
};

TEST_F(MonitorDialogTest, WithoutTheDriverTheProgramSaysSoAndEnds) {
  CternokMirMonApp app;
  EXPECT_EQ(app.Run({}), 0);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, u"Mirelo Device not installed");
  EXPECT_EQ(boxes.shown[0].caption, u"Error");
  EXPECT_EQ(boxes.shown[0].type & 0xF0, MB_ICONERROR);
}

TEST_F(MonitorDialogTest, AFirstStartUnmutesEveryPortAndSwitchesLoopBackOn) {
  open(4);
  EXPECT_EQ(muteMask(), 0u);
  EXPECT_EQ(statusWord(), 0x80000000u);
  EXPECT_FALSE(isWindowVisible(dialog->handle()));  // it starts in the tray
  EXPECT_EQ(getWindowText(dialog->handle()), u"Mirelo - Ethernet MIDI Ports");
  EXPECT_TRUE(hasWindowIcon(dialog->handle()));
  EXPECT_TRUE(dialog->isButtonChecked(Dlg::IDC_LOOPBACK));
  EXPECT_EQ(dialog->tray().IconId(), mirelo_mon::IDI_UNMUTED);
  EXPECT_EQ(dialog->tray().icon().tip(), u"MIRELO - Ethernet MIDI Ports");
}

TEST_F(MonitorDialogTest, TheSavedStateIsPushedIntoTheDriverWithinTheInstalledPorts) {
  mirelo_profile::storeMuteMask(0x30005);  // bits above the 4 installed ports are not sent
  mirelo_profile::storeLoopback(false);
  open(4);
  EXPECT_EQ(muteMask(), 0b0101u);
  EXPECT_EQ(statusWord(), 0u);
  ASSERT_TRUE(waitFor([&] { return checked(1) && checked(3); }));
  EXPECT_FALSE(checked(2));
  EXPECT_FALSE(dialog->isButtonChecked(Dlg::IDC_LOOPBACK));
  EXPECT_EQ(dialog->tray().IconId(), mirelo_mon::IDI_MUTED);
}

TEST_F(MonitorDialogTest, AMuteChangedByAnotherProgramAppearsInTheDialog) {
  open(4);
  const auto result = testing_support::runProgram({MIDIPORT, "mute", "2"}, {});
  ASSERT_EQ(result.exitCode, 0) << result.errors;
  EXPECT_TRUE(waitFor([&] { return checked(2); }));
  EXPECT_EQ(dialog->tray().IconId(), mirelo_mon::IDI_MUTED);
  ASSERT_EQ(testing_support::runProgram({MIDIPORT, "loopback", "off"}, {}).exitCode, 0);
  EXPECT_TRUE(waitFor([&] { return !dialog->isButtonChecked(Dlg::IDC_LOOPBACK); }));
}

TEST_F(MonitorDialogTest, ANetworkProblemOnTwoPortsShowsTheBalloonAndTheMutedIcon) {
  open(6);
  setMulticastInterface("not an address");  // the ports cannot reach the network
  for (uint32_t port : {2u, 5u}) {
    auto render = openRender(port);
    const uint8_t bytes[] = {0x90, 60, 100};
    EXPECT_NE(render->writeBytes(bytes, sizeof bytes), 0u);
  }
  ASSERT_TRUE(waitFor([&] { return checked(2) && checked(5); }));
  EXPECT_TRUE(waitFor([&] {
    return dialog->tray().icon().lastBalloonTitle() == u"Network Problem! Port: 2 5";
  })) << platform::toUtf8(dialog->tray().icon().lastBalloonTitle());
  EXPECT_EQ(dialog->tray().icon().lastBalloonText(), u"Please check your network settings ");
  EXPECT_EQ(dialog->tray().IconId(), mirelo_mon::IDI_MUTED);
  EXPECT_FALSE(checked(1));
}

TEST_F(MonitorDialogTest, TheMuteButtonsAndBoxesCoverTheInstalledPortsAndAreSaved) {
  open(4);
  click(Dlg::IDC_MUTE_ALL);
  EXPECT_EQ(muteMask(), 15u);
  EXPECT_EQ(mirelo_profile::muteMask(), 15u);
  ASSERT_TRUE(waitFor([&] { return checked(4); }));
  click(Dlg::IDC_PORT_FIRST + 2);  // port 3 unchecked by the user
  EXPECT_EQ(muteMask(), 0b1011u);
  sendMessage(dialog->handle(), WM_COMMAND, mirelo_mon::ID_MUTE_NONE);  // the tray menu's item
  EXPECT_EQ(muteMask(), 0u);
  EXPECT_EQ(mirelo_profile::muteMask(), 0u);
  click(Dlg::IDC_LOOPBACK);
  EXPECT_EQ(statusWord(), 0u);
  EXPECT_FALSE(mirelo_profile::loopback());
}

TEST_F(MonitorDialogTest, TheBoxesOfTheInstalledPortsAreEnabled) {
  for (uint32_t ports : {2u, 12u, 20u}) {
    SCOPED_TRACE(ports);
    open(ports);
    for (int port = 1; port <= 20; ++port) EXPECT_EQ(enabled(port), port <= static_cast<int>(ports)) << port;
    EXPECT_EQ(dialog->installedCount(), static_cast<int>(ports));
    dialog.reset();
    host.stop();
    ASSERT_EQ(host.start(), 0u);
  }
}

TEST_F(MonitorDialogTest, AnAdministratorChangesThePortCountForTheNextStart) {
  open(2);
  EXPECT_TRUE(dialog->isAdministrator());
  EXPECT_FALSE(isWindowEnabled(dialog->item(Dlg::IDC_CHANGE)));
  EXPECT_EQ(dialog->controlAs<Spin>(Dlg::IDC_PORTS_SPIN)->maximum(), 20);
  dialog->setItemText(Dlg::IDC_PORTS_EDIT, u"8");
  sendMessage(dialog->handle(), WM_COMMAND, static_cast<WParam>(EN_CHANGE) << 16 | Dlg::IDC_PORTS_EDIT);
  sendMessage(dialog->handle(), WM_COMMAND, static_cast<WParam>(EN_KILLFOCUS) << 16 | Dlg::IDC_PORTS_EDIT);
  EXPECT_EQ(mirelo_testing::readPorts(), 0x208u);
  EXPECT_EQ(dialog->configuredCount(), 8);

  // A number beyond the spin's range is taken as its maximum.
  dialog->setItemText(Dlg::IDC_PORTS_EDIT, u"99");
  sendMessage(dialog->handle(), WM_COMMAND, static_cast<WParam>(EN_CHANGE) << 16 | Dlg::IDC_PORTS_EDIT);
  sendMessage(dialog->handle(), WM_COMMAND, static_cast<WParam>(EN_KILLFOCUS) << 16 | Dlg::IDC_PORTS_EDIT);
  EXPECT_EQ(dialog->itemText(Dlg::IDC_PORTS_EDIT), u"20");
  EXPECT_EQ(mirelo_testing::readPorts(), 0x214u);
}

TEST_F(MonitorDialogTest, AStandardUserCannotChangeThePortCount) {
  start(0x202);
  StandardUser user;  // the driver started as the system; the monitor runs as a standard user
  openDialog();
  EXPECT_FALSE(dialog->isAdministrator());
  EXPECT_TRUE(isWindowEnabled(dialog->item(Dlg::IDC_CHANGE)));
  EXPECT_FALSE(isWindowEnabled(dialog->item(Dlg::IDC_PORTS_EDIT)));
  EXPECT_TRUE(dialog->controlAs<Button>(Dlg::IDC_CHANGE)->hasIcon());  // the elevation shield
  EXPECT_TRUE(isWindowVisible(dialog->item(Dlg::IDC_PORTS_LABEL)) || !isWindowVisible(dialog->handle()));
  EXPECT_EQ(mirelo_testing::readPorts(), 0x202u);
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(MonitorDialogTest, OnAnOldSystemTheSpinStopsAtTheGlobalLimit) {
  setVersion(5, 0);
  addRegularPorts(4);
  open(2);
  EXPECT_FALSE(dialog->isNewSystem());
  EXPECT_EQ(dialog->controlAs<Spin>(Dlg::IDC_PORTS_SPIN)->maximum(), 10);
  dialog->setItemText(Dlg::IDC_PORTS_EDIT, u"9");
  sendMessage(dialog->handle(), WM_COMMAND, static_cast<WParam>(EN_CHANGE) << 16 | Dlg::IDC_PORTS_EDIT);
  sendMessage(dialog->handle(), WM_COMMAND, static_cast<WParam>(EN_KILLFOCUS) << 16 | Dlg::IDC_PORTS_EDIT);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].caption, u"Global port limit exceed");
  // Regular ports: the 4 of the other device and Mirelo's... none: all its names carry "Ethernet MIDI".
  EXPECT_EQ(dialog->itemText(Dlg::IDC_PORTS_EDIT), u"6");
  EXPECT_EQ(mirelo_testing::readPorts(), 0x206u);
}

TEST_F(MonitorDialogTest, ASecondInstanceBringsTheFirstToTheFrontAndEnds) {
  open(2);
  const platform::Handle mutex = platform::createMutex(false, CternokMirMonApp::MutexName().c_str());
  ASSERT_NE(mutex, nullptr);
  CternokMirMonApp second;
  EXPECT_EQ(second.Run({}), 0);
  EXPECT_TRUE(isWindowVisible(dialog->handle()));
  EXPECT_TRUE(boxes.shown.empty());
  platform::closeHandle(mutex);
}

TEST_F(MonitorDialogTest, TheTraysDoubleClickShowsTheDialogAndOkHidesIt) {
  open(2);
  sendMessage(dialog->handle(), Dlg::kTrayMessage, mirelo_mon::kTrayIconId, WM_LBUTTONDBLCLK);
  EXPECT_TRUE(isWindowVisible(dialog->handle()));
  click(IDOK);
  EXPECT_FALSE(isWindowVisible(dialog->handle()));
}

}  // namespace

namespace {

TEST_F(MonitorDialogTest, OnAnOldSystemNewRegularPortsLowerTheCountForAnAdministrator) {
  setVersion(5, 0);
  start(0x206);
  openDialog();
  EXPECT_EQ(dialog->requestedCount(), 6);
  addRegularPorts(7);  // 10 - 7 leaves 3
  ASSERT_TRUE(waitFor([&] { return dialog->requestedCount() == 3; }));
  EXPECT_EQ(dialog->itemText(Dlg::IDC_PORTS_EDIT), u"3");
  EXPECT_EQ(mirelo_testing::readPorts(), 0x603u);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text,
            u"The maximum global number of ports is: 10.\nAfter reboot you will have 7 regular ports\n3 Ethernet Ports");
}

}  // namespace

// ------------------------------------------------------------ the program

namespace {

// The NUL-separated entries of /proc/<pid>/<file>.
std::vector<std::string> procEntries(uint32_t pid, const char* file) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + file, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> entries;
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find('\0', start);
    entries.push_back(text.substr(start, end - start));
    start = end == std::string::npos ? text.size() : end + 1;
  }
  return entries;
}

TEST_F(MonitorDialogTest, ChangeRestartsAStandardUsersMonitorWithAdministratorRightsAtItsPosition) {
  start(0x202);
  testing_support::SpawnedProcess first({MIRELOMON}, {"WN_ADMINISTRATOR=0"});
  WindowHandle window;
  ASSERT_TRUE(waitFor([&] { return static_cast<bool>(window = findWindow(u"Dialog")); }));
  const uint32_t firstPid = window.process();
  LResult answer = 0;
  ASSERT_TRUE(sendMessageTimeout(window, WM_COMMAND, Dlg::IDC_CHANGE, 0, 5000, &answer));
  EXPECT_EQ(first.waitExit(5000), 0);

  WindowHandle restarted;
  ASSERT_TRUE(waitFor([&] {
    restarted = findWindow(u"Dialog");
    return restarted && restarted.process() != firstPid && isWindowVisible(restarted);
  }));
  const uint32_t pid = restarted.process();
  const std::vector<std::string> arguments = procEntries(pid, "cmdline");
  ASSERT_EQ(arguments.size(), 3u);
  EXPECT_NE(arguments[1].find_first_of("0123456789"), std::string::npos);
  const std::vector<std::string> environment = procEntries(pid, "environ");
  EXPECT_NE(std::find(environment.begin(), environment.end(), "WN_ADMINISTRATOR=1"), environment.end());
  // The restarted monitor quits from its tray menu.
  EXPECT_TRUE(sendMessageTimeout(restarted, WM_COMMAND, mirelo_mon::ID_APP_EXIT, 0, 5000, &answer));
  EXPECT_TRUE(waitFor([&] { return !isWindow(restarted); }));
}

}  // namespace

namespace {

TEST_F(MonitorDialogTest, TheTraysRightButtonOpensItsMenuWhoseItemsAct) {
  open(3);
  QStringList texts;
  QString bold;
  QTimer::singleShot(300, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (menu == nullptr) return;
    if (menu->defaultAction() != nullptr) bold = menu->defaultAction()->text();  // shown bold
    for (QAction* action : menu->actions()) {
      texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
      if (action->text() == QStringLiteral("Mute All")) menu->setActiveAction(action);
    }
    QTest::keyClick(menu, Qt::Key_Return);
  });
  sendMessage(dialog->handle(), Dlg::kTrayMessage, mirelo_mon::kTrayIconId, WM_RBUTTONUP);
  EXPECT_EQ(texts.join(QStringLiteral("|")),
            QStringLiteral("Mirelo - MIDI over Ethernet|About|-|Mute None|Mute All|-|Exit"));
  EXPECT_EQ(bold, QStringLiteral("Mirelo - MIDI over Ethernet"));
  EXPECT_TRUE(waitFor([&] { return muteMask() == 7u; }));
}

}  // namespace
