#include "platform/ui/application.h"

#include <QApplication>
#include <QEvent>
#include <QFont>
#include <QFontDatabase>
#include <QObject>
#include <QSocketNotifier>
#include <QWidget>

#include <time.h>

#include <cstdio>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/apc.h"
#include "platform/ui/qt_support.h"
#include "platform/ui/window_directory.h"

namespace platform::ui {

namespace {

constexpr int kDialogFontPoints = 8;

class TaskEvent final : public QEvent {
 public:
  explicit TaskEvent(std::function<void()> task) : QEvent(type()), task_(std::move(task)) {}
  static QEvent::Type type() {
    static const auto registered = static_cast<QEvent::Type>(QEvent::registerEventType());
    return registered;
  }
  void run() { task_(); }

 private:
  std::function<void()> task_;
};

// The receiver of the GUI thread's queued work; lives on the GUI thread.
class MessageQueue final : public QObject {
 public:
  bool event(QEvent* event) override {
    if (event->type() != TaskEvent::type()) return QObject::event(event);
    QtCallbackScope scope;
    static_cast<TaskEvent*>(event)->run();
    return true;
  }
};

// With WN_FIRST_PAINT_FILE set, the moment the first top-level window starts
// painting is written to that file (CLOCK_MONOTONIC nanoseconds), for the
// start-up benchmark. Nothing is installed otherwise.
class FirstPaintReporter final : public QObject {
 public:
  explicit FirstPaintReporter(std::string path) : path_(std::move(path)) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (event->type() != QEvent::Paint || widget == nullptr || !widget->isWindow() || reported_) return false;
    reported_ = true;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (FILE* file = std::fopen(path_.c_str(), "w")) {
      std::fprintf(file, "%lld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
      std::fclose(file);
    }
    return false;
  }

 private:
  std::string path_;
  bool reported_ = false;
};

std::mutex queueMutex;
MessageQueue* queue = nullptr;  // guarded by queueMutex
std::thread::id guiThread;
int loopDepth = 0;  // GUI thread only

}  // namespace

Application::Application(int& argc, char** argv) {
  auto* application = new QApplication(argc, argv);
  application->setQuitOnLastWindowClosed(false);
  // The dialog font at the size dialog templates are laid out for, so that
  // templates, frame sizes and pane widths keep their proportions: Liberation
  // Sans, whose letters are as wide as the Windows dialog font's, where it is
  // installed, else the desktop's family.
  QFont font = QApplication::font();
  if (QFontDatabase::hasFamily(QStringLiteral("Liberation Sans"))) font.setFamily(QStringLiteral("Liberation Sans"));
  font.setPointSize(kDialogFontPoints);
  QApplication::setFont(font);
  guiThread = std::this_thread::get_id();
  {
    std::lock_guard lock(queueMutex);
    queue = new MessageQueue;
  }
  // Completion routines queued to the GUI thread run as soon as they arrive.
  std::shared_ptr<ApcQueue> apcs = currentApcQueue();
  auto* notifier = new QSocketNotifier(static_cast<qintptr>(apcs->wakeFd()), QSocketNotifier::Read, queue);
  QObject::connect(notifier, &QSocketNotifier::activated, [apcs] {
    QtCallbackScope scope;
    apcs->runAll();
  });
  if (const char* reportFile = std::getenv("WN_FIRST_PAINT_FILE"); reportFile != nullptr && *reportFile != 0) {
    auto* reporter = new FirstPaintReporter(reportFile);
    reporter->setParent(application);
    application->installEventFilter(reporter);
  }
}

Application::~Application() {
  WindowDirectory::shutDown();
  {
    std::lock_guard lock(queueMutex);
    delete queue;
    queue = nullptr;
  }
  guiThread = std::thread::id();
  delete qApp;
}

std::string Application::displayProblem() {
  const auto isSet = [](const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
  };
  if (isSet("QT_QPA_PLATFORM") || isSet("DISPLAY") || isSet("WAYLAND_DISPLAY")) return {};
  return "no display: set DISPLAY, or QT_QPA_PLATFORM=offscreen to run without one";
}

bool isGuiThread() { return guiThread != std::thread::id() && std::this_thread::get_id() == guiThread; }

int runMessageLoop() {
  ++loopDepth;
  const int exitCode = QApplication::exec();
  --loopDepth;
  return exitCode;
}

void postQuitMessage(int exitCode) {
  detail::queueToGuiThread([exitCode] {
    if (loopDepth > 0) QCoreApplication::exit(exitCode);
  });
}

namespace detail {

bool queueToGuiThread(std::function<void()> task) {
  std::lock_guard lock(queueMutex);
  if (queue == nullptr) return false;
  QCoreApplication::postEvent(queue, new TaskEvent(std::move(task)));
  return true;
}

}  // namespace detail

bool runOnGuiThread(const std::function<void()>& task, uint32_t timeoutMs) {
  if (isGuiThread()) {
    task();
    return true;
  }
  struct Completion {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
  };
  auto completion = std::make_shared<Completion>();
  const bool queued = detail::queueToGuiThread([task, completion] {
    task();
    std::lock_guard lock(completion->mutex);
    completion->finished = true;
    completion->done.notify_all();
  });
  if (!queued) return false;
  std::unique_lock lock(completion->mutex);
  if (timeoutMs == 0xFFFFFFFF) {
    completion->done.wait(lock, [&] { return completion->finished; });
    return true;
  }
  return completion->done.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                   [&] { return completion->finished; });
}

}  // namespace platform::ui
