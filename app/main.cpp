#include <iostream>

#include "core/selftest.h"

#ifdef QUILLFEN_WINDOW
#include <QApplication>
#include <QTimer>

#include "app/app.h"
#endif

int main(int argc, char** argv) {
  if (wantsSelfTest(argc, argv))
    return runSelfTest(std::cout);

#ifdef QUILLFEN_WINDOW
  QApplication application(argc, argv);
  QApplication::setApplicationName("Quillfen");
  QApplication::setDesktopFileName("quillfen");
  watchSignals();
  App app(QApplication::arguments());
  // The launch sequence runs once the event loop is up, as the first thing it does.
  QTimer::singleShot(0, &app, &App::launch);
  QApplication::exec();
  return 0;
#else
  std::cout << "quillfen: the window is not built on this system; only --self-test is available.\n";
  return 2;
#endif
}
