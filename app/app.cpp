// The App's life: construction, the launch sequence, the startup check and the termination steps.

#include "app/app.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnection>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>
#include <QWidget>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <functional>
#include <iostream>
#include <mutex>
#include <thread>

#include "app/file.h"
#include "app/watcher.h"
#include "backend/backend.h"

// Statuses travel from the worker thread through this box, under a lock of our own, and are then
// run on the main thread by a queued call. The box outlives the App: once the App is gone its
// `target` is empty and statuses are dropped.
struct App::Inbox {
  std::mutex lock;
  App* target = nullptr;
  std::deque<std::function<void()>> items;

  // The queued call carries nothing but a name, so every value crosses under `lock`.
  void post(std::function<void()> item) {
    const std::lock_guard<std::mutex> hold(lock);
    if (target == nullptr)
      return;
    items.push_back(std::move(item));
    QMetaObject::invokeMethod(target, "deliver", Qt::QueuedConnection);
  }

  void drain() {
    std::deque<std::function<void()>> taken;
    {
      const std::lock_guard<std::mutex> hold(lock);
      taken.swap(items);
    }
    for (auto& item : taken)
      item();
  }
};

App::App(QStringList commandLine)
    : backend(std::make_shared<Backend>()),
      status(new QLabel("Inspect your pedal to begin. No input is captured.")),
      scope(new QComboBox),
      review(new QCheckBox("I reviewed recovery and understand exclusive pedal capture.")),
      verified(
          new QCheckBox("I verified original outputs are absent and my ordinary mouse works.")),
      file(location()),
      arguments(std::move(commandLine)),
      inbox(std::make_shared<Inbox>()) {
  status->setWordWrap(true);
  // Statuses carry names from the device; they are shown as written, never as markup.
  status->setTextFormat(Qt::PlainText);
  inbox->target = this;
}

App::~App() {
  terminate();
  // Statuses not yet shown hold the backend; they are dropped with the App.
  std::deque<std::function<void()>> dropped;
  {
    const std::lock_guard<std::mutex> hold(inbox->lock);
    inbox->target = nullptr;
    dropped.swap(inbox->items);
  }
  backend->update = nullptr;
  watcher.reset();
  if (!built) {
    // Not yet placed in a window, so still ours to free.
    delete status;
    delete scope;
    delete review;
    delete verified;
  }
  window.reset();
}

void App::launch() {
  // 1. The light look, whatever the desktop's theme.
  QApplication::setStyle(QStyleFactory::create("Fusion"));
  QApplication::setPalette(QApplication::style()->standardPalette());

  // 2. and 3. Settings, then the window that shows them.
  settings = load(file);
  build();

  // 4. Statuses reach the status handler on the main thread.
  backend->dispatch = [box = inbox](std::function<void()> item) { box->post(std::move(item)); };
  backend->update = [this](const std::string& message, bool captured, bool active,
                           const std::vector<std::string>&) { show(message, captured, active); };

  // 5. and 6. The first command hands the loaded settings over; then the worker starts.
  Backend* engine = backend.get();
  backend->send([engine, loaded = settings] { engine->configure(loaded); });
  backend->launch();

  // 7. Sleep, lock and session changes end capture.
  watcher = std::make_unique<Watcher>(
      QDBusConnection::systemBus(), QDBusConnection::sessionBus(), [engine] {
        engine->send([engine] { engine->stop("Session or sleep changed. Inspect again."); });
      });

  // 8. The heartbeat.
  timer = new QTimer(this);
  timer->setInterval(1000);
  connect(timer, &QTimer::timeout, this, [engine] { engine->ping(); });
  timer->start();

  // 9. Nothing that needs a capture is possible yet.
  for (const char* title : {"Activate actions", "Pause actions", "Stop capture", "Learn left",
                            "Learn middle", "Learn right"}) {
    if (auto found = buttons.find(title); found != buttons.end())
      found->second->setEnabled(false);
  }

  // 10. To the front.
  window->show();
  window->raise();
  window->activateWindow();

  connect(qApp, &QCoreApplication::aboutToQuit, this, &App::terminate);

  // 11. The scripted startup check.
  if (arguments.contains("--ui-test"))
    QTimer::singleShot(500, this, &App::check);
}

void App::deliver() {
  inbox->drain();
}

void App::terminate() {
  if (terminated)
    return;
  terminated = true;
  if (timer != nullptr)
    timer->stop();
  backend->close();
  // The worker takes its commands at least every 20 ms, so the final stop releases the pedal
  // during this wait.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

void App::check() {
  if (const char* path = std::getenv("QUILLFEN_MAC_UI_SCREENSHOT"); path != nullptr && window) {
    const QPixmap picture = window->grab();
    if (!picture.isNull())
      picture.save(QString::fromLocal8Bit(path), "PNG");
  }
  std::cout << "PASS macOS GUI startup; capture inactive." << std::endl;
  QCoreApplication::quit();
}

namespace {

int signalPipe[2] = {-1, -1};

void forward(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

void watchSignals() {
  if (signalPipe[0] >= 0 || ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
    return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qApp);
  QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
    char bytes[16];
    while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    QCoreApplication::quit();
  });
  struct sigaction action = {};
  action.sa_handler = forward;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int number : {SIGTERM, SIGINT, SIGHUP})
    sigaction(number, &action, nullptr);
}
