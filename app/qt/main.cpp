// The window application on Qt: the event loop, the signals that end it, and the Front.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>

#include "app/qt/front.h"

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

int runWindow(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("Quillfen");
  QApplication::setDesktopFileName("quillfen");
  watchSignals();
  Front front(QApplication::arguments());
  // The launch sequence runs once the event loop is up, as the first thing it does.
  QTimer::singleShot(0, &front, [&front] { front.app.launch(); });
  QApplication::exec();
  return 0;
}
