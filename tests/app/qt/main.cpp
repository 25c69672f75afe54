// Runs the window tests inside one application object on Qt's offscreen platform, with a private
// D-Bus daemon as the system and session bus.

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <cstring>

#include "bus.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  bool listing = false;
  for (int i = 1; i < argc; ++i)
    listing = listing || std::strcmp(argv[i], "--gtest_list_tests") == 0;
  if (!listing)
    startBus();
  int result = 0;
  {
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    result = RUN_ALL_TESTS();
  }
  stopBus();
  return result;
}
