// Renders MireloMon's dialog, its tray menu and its About box into PNG files,
// against the Mirelo driver of the current system root. Needs a notification
// area (an X server with trayer), as the dialog does.
//
//   mirelo_mon_screenshots OUTPUT_DIRECTORY
//
// Prints one line per file. Exit code 0, or 1 when the driver could not be
// reached, the dialog could not start or a file could not be written.

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <filesystem>
#include <string>

#include "ethernet-midi-monitor/c_about_mirelo_dlg.h"
#include "ethernet-midi-monitor/cternok_mir_mon_dlg.h"
#include "ethernet-midi-monitor/mirelo_mon_resources.h"
#include "platform/ui/application.h"
#include "platform/ui/menu.h"
#include "platform/ui/window.h"

using namespace platform::ui;

namespace {

bool save(QWidget* widget, const std::filesystem::path& file) {
  const bool saved = widget != nullptr && widget->grab().save(QString::fromStdString(file.string()));
  std::printf("%s %s\n", saved ? "wrote" : "could not write", file.string().c_str());
  return saved;
}

// Grabs the pop-up that opens next into `file`, then closes it.
void grabNextPopup(const std::filesystem::path& file, bool* saved) {
  QTimer::singleShot(300, [file, saved] {
    QWidget* popup = QApplication::activePopupWidget();
    *saved = save(popup, file);
    if (popup != nullptr) popup->close();
  });
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: mirelo_mon_screenshots OUTPUT_DIRECTORY\n");
    return 2;
  }
  const std::filesystem::path output = argv[1];
  Application application(argc, argv);
  setResources(&mirelo_mon::resources());
  bool ok = true;
  {
    CternokMirMonDlg dialog;
    if (!dialog.HasDevice() || !dialog.create({}, u"Dialog") || !dialog.Initialised()) {
      std::fprintf(stderr, "mirelo_mon_screenshots: the monitor could not start on this machine\n");
      return 1;
    }
    dialog.controlAs<Button>(CternokMirMonDlg::IDC_PORT_FIRST + 1)->click();  // port 2 muted
    dialog.controlAs<Button>(CternokMirMonDlg::IDC_PORT_FIRST + 5)->click();  // port 6 muted
    dialog.ShowDialog();
    QTest::qWait(400);
    ok = save(dialog.widget(), output / "mirelomon-dialog.png") && ok;

    bool menuSaved = false;
    grabNextPopup(output / "mirelomon-tray-menu.png", &menuSaved);
    trackPopupMenu(mirelo_mon::trayMenu().items.front().popup, {100, 100}, dialog.handle());
    ok = menuSaved && ok;

    CAboutMireloDlg about;
    QTimer::singleShot(400, [&] {
      ok = save(about.widget(), output / "mirelomon-about.png") && ok;
      about.endDialog(IDOK);
    });
    about.doModal(dialog.handle());
  }
  setResources(nullptr);
  return ok ? 0 : 1;
}
