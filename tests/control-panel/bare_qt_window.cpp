// The program a start-up time is compared with: a bare Qt program that opens
// an empty main window of the control panel's size and writes the moment its
// first paint starts (CLOCK_MONOTONIC nanoseconds) to the file named by
// WN_FIRST_PAINT_FILE, then ends.

#include <QApplication>
#include <QMainWindow>
#include <QTimer>

#include <time.h>

#include <cstdio>
#include <cstdlib>

namespace {

class Reporter final : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (event->type() == QEvent::Paint && widget != nullptr && widget->isWindow() && !reported_) {
      reported_ = true;
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC, &now);
      if (const char* path = std::getenv("WN_FIRST_PAINT_FILE")) {
        if (FILE* file = std::fopen(path, "w")) {
          std::fprintf(file, "%lld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
          std::fclose(file);
        }
      }
      QTimer::singleShot(0, [] { QApplication::quit(); });
    }
    return false;
  }

 private:
  bool reported_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  Reporter reporter;
  application.installEventFilter(&reporter);
  QMainWindow window;
  window.resize(550, 420);
  window.show();
  return QApplication::exec();
}
