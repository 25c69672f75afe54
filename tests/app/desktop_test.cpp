// The window's rules on a desktop that need no toolkit: where it opens and how narrow it may get,
// and the one-instance lock.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "../support/files.h"
#include "app/instance.h"
#include "app/place.h"

namespace {

namespace fs = std::filesystem;

TEST(Place, FitsTheAvailableAreaWithItsFrame) {
  const Margins frame{4, 30, 4, 4};
  struct Case {
    const char* screen;
    Box available;
    Box expected;
  };
  const std::vector<Case> cases{
      // Room for 800 by 820 and the frame: centred.
      {"1920 by 1080", {0, 0, 1920, 1080}, {560, 143, 800, 820}},
      // 1366 by 768 less a 32-pixel panel at the top: as tall as fits, the title bar on screen.
      {"1366 by 768 with a panel", {0, 32, 1366, 736}, {283, 62, 800, 702}},
      // A scale factor of 2 on 1920 by 1080: 960 by 540 less a panel; the width fits, the height
      // keeps its minimum and the frame starts at the area's top.
      {"960 by 540 with a panel", {0, 27, 960, 513}, {80, 57, 800, 500}},
      // A second screen to the right.
      {"second screen", {1920, 0, 1280, 1024}, {2160, 115, 800, 820}},
      // Narrower than the minimum: the left edge stays on screen.
      {"640 by 480", {0, 0, 640, 480}, {4, 30, 720, 500}},
  };
  for (const Case& item : cases) {
    SCOPED_TRACE(item.screen);
    EXPECT_EQ(place(item.available, frame, 720, 500), item.expected);
  }
  // Without a frame (none known yet) the content alone is fitted.
  EXPECT_EQ(place({0, 0, 1366, 768}, {}, 720, 500), (Box{283, 0, 800, 768}));
}

TEST(Place, MinimumWidthMakesRoomForTheWidestRow) {
  EXPECT_EQ(minimumWidthFor(500, 15), 720) << "rows that fit keep the design's minimum";
  EXPECT_EQ(minimumWidthFor(700, 15), 700 + 48 + 15);
}

// A folder of the test's own for the lock.
class Lock : public testing::Test {
 protected:
  void SetUp() override {
    root = scratchFolder("devices");
    ASSERT_FALSE(root.empty());
  }
  void TearDown() override { fs::remove_all(root); }

  fs::path root;
};

TEST_F(Lock, OneInstanceHoldsTheLock) {
  {
    const Instance first(root);
    EXPECT_TRUE(first.first());
    const Instance second(root);
    EXPECT_FALSE(second.first());
    EXPECT_EQ(second.socket(), first.socket());
  }
  EXPECT_TRUE(Instance(root).first()) << "the lock ends with its holder";
  // A lock file that cannot be opened (a folder another user owns) is no instance running.
  EXPECT_TRUE(Instance(root / "missing").first());
}

}  // namespace
