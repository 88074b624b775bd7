// A top-level window of a given class that never closes: it answers every
// close message and stays, and answers a registered message with its own
// number. For the tests of programs that reach other programs' windows.
//
//   stubborn_frame CLASS_NAME      (runs until it is killed)

#include <cstdio>
#include <cstdlib>

#include "platform/text.h"
#include "platform/ui/application.h"
#include "platform/ui/frame_window.h"
#include "platform/ui/messages.h"

namespace {

using namespace platform::ui;

class StubbornFrame : public FrameWindow {
 public:
  bool processMessage(uint32_t message, WParam, LParam, LResult& result) override {
    if (message >= kFirstRegisteredMessage) {
      result = static_cast<LResult>(message);
      return true;
    }
    if (message != WM_CLOSE) return false;
    ++closeMessages;
    std::printf("close message %d\n", closeMessages);
    std::fflush(stdout);
    result = 0;
    return true;
  }
  int closeMessages = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: stubborn_frame CLASS_NAME\n");
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  Application application(argc, argv);
  StubbornFrame frame;
  if (!frame.create(platform::toWide(argv[1]), u"Stubborn", Rect{10, 10, 300, 200}, Icon())) return 1;
  showWindow(frame.handle(), SW_SHOW);
  std::printf("ready\n");
  std::fflush(stdout);
  return runMessageLoop();
}
