// Runs the window tests inside one application object on Qt's offscreen platform, with a private
// D-Bus daemon as the system and session bus.

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <cstring>

#include "bus.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // The window under test, not the desktop of whoever runs the tests: no platform theme (qt6ct,
  // a desktop's own), style, font resolution or scaling of theirs.
  for (const char* name :
       {"QT_QPA_PLATFORMTHEME", "QT_STYLE_OVERRIDE", "QT_FONT_DPI", "QT_SCALE_FACTOR",
        "QT_SCREEN_SCALE_FACTORS", "QT_ENABLE_HIGHDPI_SCALING", "XDG_CURRENT_DESKTOP",
        "DESKTOP_SESSION", "KDE_FULL_SESSION"})
    unsetenv(name);
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
