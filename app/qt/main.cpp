// The window application on Qt: the display it needs, one instance per user, the event loop, the
// signals that end it, and the Front.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <QApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <system_error>

#include "app/instance.h"
#include "app/qt/front.h"

namespace {

int signalPipe[2] = {-1, -1};
volatile sig_atomic_t received = 0;

// The last resort: the event loop did not end the program within 0.7 seconds of the signal (it is
// blocked). The kernel releases every grab and removes our virtual devices when the process ends.
void giveUp(int) {
  _exit(128 + received);
}

void forward(int number) {
  const int saved = errno;
  if (received == 0) {
    received = number;
    const itimerval once{{0, 0}, {0, 700000}};
    setitimer(ITIMER_REAL, &once, nullptr);
  }
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
  errno = saved;
}

// Says in one line why the program ends, and ends it: no abort, no core dump.
[[noreturn]] void fail(const std::string& why) {
  std::fprintf(stderr, "quillfen: %s\n", why.c_str());
  std::fflush(stderr);
  _exit(1);
}

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// Qt's messages pass through here. While the application object is made they are held back: a
// platform that cannot start ends the program with one line of ours instead of Qt's lines and an
// abort. At any time, a thread Qt cannot start (a process or thread limit, little address space)
// ends it too, as Qt would otherwise wait without end for that thread's work (in its D-Bus
// connection or in painting), and so does a window that cannot be drawn.
std::atomic<bool> starting = false;
QtMessageHandler standard = nullptr;

// True from the twentieth call within a second. Painting messages come from the window's thread
// alone.
bool flooded() {
  static auto since = std::chrono::steady_clock::now();
  static int count = 0;
  const auto now = std::chrono::steady_clock::now();
  if (now - since > std::chrono::seconds(1)) {
    since = now;
    count = 0;
  }
  return ++count >= 20;
}
void messages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (starting && type == QtFatalMsg) {
    const std::string display = environment("DISPLAY");
    const std::string wayland = environment("WAYLAND_DISPLAY");
    if (display.empty() && wayland.empty() && environment("QT_QPA_PLATFORM").empty())
      fail(
          "no display to open the window on (DISPLAY and WAYLAND_DISPLAY are unset); start it "
          "in a desktop session, or run quillfen --self-test");
    fail("cannot open the window: the display " + (display.empty() ? wayland : display) +
         " cannot be reached");
  }
  static const QString threadFailure = "QThread::start: Thread creation error";
  if (text.startsWith(threadFailure)) {
    QString why = text.mid(threadFailure.size()).trimmed();
    if (why.startsWith('(') && why.endsWith(')'))
      why = why.mid(1, why.size() - 2);
    fail("cannot start a thread (" + why.toStdString() +
         "); quitting, which releases any device Quillfen held");
  }
  // A window whose picture cannot be allocated would go on, unpainted, with a flood of messages
  // (dozens for one drawing of the window); one alone comes of painting an empty image.
  if (text.startsWith("QPainter::begin: Paint device returned engine == 0") && flooded())
    fail(
        "cannot draw the window (no memory for its picture); quitting, which releases any device "
        "Quillfen held");
  if (!starting && standard != nullptr)
    standard(type, context, text);
}

// A soft limit of `resource` below `needed` is raised to `raised` where the hard limit allows, or
// the program ends with `why` of the hard limit.
void ensureLimit(int resource, rlim_t needed, rlim_t raised, std::string (*why)(rlim_t hard)) {
  rlimit limit{};
  if (getrlimit(resource, &limit) != 0 || limit.rlim_cur >= needed)
    return;  // no limit is RLIM_INFINITY, the largest value
  if (limit.rlim_max >= needed) {
    limit.rlim_cur = std::min(limit.rlim_max, raised);
    if (setrlimit(resource, &limit) == 0)
      return;
  }
  fail(why(limit.rlim_max));
}

// GLib, under Qt's event loop, ends the process with a trap when it cannot make a wake-up pipe:
// the window, its buses and the input devices need 64 descriptors. And the libraries under the
// window (fontconfig, Qt, GLib) abort or crash when an allocation fails, which a small address
// space makes happen anywhere: the window runs in about 460 MiB on a desktop (thread stacks and
// malloc's per-thread arenas are most of it), so it asks for 1 GiB.
void checkLimits() {
  ensureLimit(RLIMIT_NOFILE, 64, 1024, [](rlim_t hard) {
    return "too few file descriptors (the limit is " + std::to_string(hard) +
           ", the window and the devices need 64); nothing was captured";
  });
  ensureLimit(RLIMIT_AS, rlim_t{1} << 30, rlim_t{1} << 30, [](rlim_t hard) {
    return "too little address space (the limit is " + std::to_string(hard >> 20) +
           " MiB, the window needs 1024 MiB); nothing was captured";
  });
}

// A failure nobody caught ends the program with its reason, not with an abort.
void unexpected() {
  std::string why = "stopped by an unexpected failure";
  try {
    if (const auto current = std::current_exception())
      std::rethrow_exception(current);
  } catch (const std::bad_alloc&) {
    why = "out of memory";
  } catch (const std::exception& error) {
    why += std::string(": ") + error.what();
  } catch (...) {
  }
  fail(why);
}

// Asks the running instance to show its window; true when it took the request.
bool handOver(const QString& socket) {
  QLocalSocket peer;
  for (int attempt = 0; attempt < 20; ++attempt) {
    peer.connectToServer(socket);
    if (peer.waitForConnected(250)) {
      peer.write("show\n");
      const bool sent = peer.waitForBytesWritten(1000);
      peer.disconnectFromServer();
      return sent;
    }
    QThread::msleep(100);
  }
  return false;
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
  sigemptyset(&action.sa_mask);
  action.sa_handler = giveUp;
  sigaction(SIGALRM, &action, nullptr);
  action.sa_handler = forward;
  action.sa_flags = SA_RESTART;
  for (int number : {SIGTERM, SIGINT, SIGHUP})
    sigaction(number, &action, nullptr);
}

int runWindow(int argc, char** argv) {
  std::set_terminate(unexpected);
  checkLimits();
  starting = true;
  standard = qInstallMessageHandler(messages);
  QApplication application(argc, argv);
  starting = false;
  QApplication::setApplicationName("Quillfen");
  QApplication::setDesktopFileName("quillfen");
  watchSignals();

  // One window per user. The startup check is no use of the pedal and always opens its own.
  const QStringList arguments = QApplication::arguments();
  const bool check = arguments.contains("--ui-test");
  Instance instance(runtimeFolder());
  const QString socket = QString::fromStdString(instance.socket().string());
  if (!check && !instance.first()) {
    if (handOver(socket)) {
      std::fprintf(stderr, "quillfen: already running; its window is brought to the front.\n");
      return 0;
    }
    fail("already running, but the running window did not answer");
  }

  Front front(arguments);
  QLocalServer server;
  if (!check && instance.first()) {
    QLocalServer::removeServer(socket);
    server.setSocketOptions(QLocalServer::UserAccessOption);
    server.listen(socket);
    QObject::connect(&server, &QLocalServer::newConnection, &front, [&server, &front] {
      while (QLocalSocket* peer = server.nextPendingConnection()) {
        QObject::connect(peer, &QLocalSocket::readyRead, &front, [peer, &front] {
          if (peer->readAll().startsWith("show"))
            front.show();
        });
        QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
      }
    });
  }

  // The launch sequence runs once the event loop is up, as the first thing it does. A worker
  // thread that cannot be started (a process or thread limit, little address space) ends the
  // program before anything is captured.
  int status = 0;
  QTimer::singleShot(0, &front, [&front, &status] {
    try {
      front.app.launch();
    } catch (const std::system_error& error) {
      std::fprintf(stderr,
                   "quillfen: cannot start the capture thread (%s); nothing was captured.\n",
                   error.code().message().c_str());
      status = 1;
      QCoreApplication::exit(1);
    }
  });
  QApplication::exec();
  return status;
}
