// The window's rules on a Linux desktop that need no toolkit: where it opens and how narrow it may
// get, what the Permissions button finds, and the one-instance lock.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#ifdef __linux__
#include "app/access.h"
#endif
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

// A folder standing in for the file system: sysfs entries and the device nodes they name.
class Devices : public testing::Test {
 protected:
  void SetUp() override {
    root = scratchFolder("devices");
    ASSERT_FALSE(root.empty());
  }
  void TearDown() override { fs::remove_all(root); }

  void file(const fs::path& path, const std::string& text) { put(root / path, text); }
  // A device node that can be opened, or one that cannot (it is missing, which stops root too).
  void node(const fs::path& path, bool opens) {
    if (opens)
      file(path, "");
  }
  // A hidraw node and its HID device.
  void hidraw(int number, const std::string& id, const std::string& name, bool readable) {
    const fs::path entry = "sys/class/hidraw/hidraw" + std::to_string(number);
    file(entry / "device/uevent", "DRIVER=hid-generic\nHID_ID=" + id + "\nHID_NAME=" + name + "\n");
    node("dev/hidraw" + std::to_string(number), readable);
  }
  // An evdev node with the vendor, product and key capabilities of its input device.
  void event(int number, const std::string& vendor, const std::string& product,
             const std::string& name, const std::string& keys, bool readable,
             const std::string& phys = "") {
    const fs::path device = "sys/class/input/event" + std::to_string(number) + "/device";
    file(device / "name", name + "\n");
    file(device / "phys", phys + "\n");
    file(device / "id/vendor", vendor + "\n");
    file(device / "id/product", product + "\n");
    file(device / "capabilities/key", keys + "\n");
    node("dev/input/event" + std::to_string(number), readable);
  }

  fs::path root;
};

// What Permissions finds is a Linux matter: device nodes and the udev rule.
#ifdef __linux__
TEST_F(Devices, SurveyFindsWhatCanAndCannotBeOpened) {
  hidraw(0, "0003:0000046D:0000C52B", "Logitech receiver", true);
  hidraw(3, "0003:000005F3:000000FF", "VEC USB Footpedal", false);
  // Keyboard: F12 (bit 88) among its keys; mouse: the left button (bit 272).
  const std::string keyboard = "1 0 0 ffffffff01000000 0";
  const std::string mouse = "1f0000 0 0 0 0";
  event(2, "0001", "0001", "AT keyboard", keyboard, true);
  event(10, "05f3", "00ff", "VEC USB Footpedal", "7 0 0 0", false);
  event(11, "046d", "c077", "USB mouse", mouse, false);
  event(12, "0000", "0000", "Power Button", "10000000000000 0", false);  // neither: left out
  event(13, "0000", "0000", "Quillfen keyboard", keyboard, false, "quillfen/keyboard");
  node("dev/uinput", true);

  const std::vector<Node> nodes = survey(root);
  std::vector<std::string> seen;
  for (const Node& node : nodes)
    seen.push_back(fs::path(node.path).lexically_relative(root).string() + " " + node.name +
                   (node.opened ? " open" : " closed"));
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "dev/hidraw3 VEC USB Footpedal closed",
                      "dev/input/event10 VEC USB Footpedal closed",
                      "dev/input/event2 AT keyboard open",
                      "dev/input/event11 USB mouse closed",
                      "dev/uinput  open",
                  }));

  const std::string text = report(nodes);
  EXPECT_EQ(text.rfind("Quillfen cannot open every device it needs.", 0), 0u) << text;
  EXPECT_NE(text.find("cannot open  " + (root / "dev/hidraw3").string() + "  (VEC USB Footpedal)"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("can open     " + (root / "dev/uinput").string()), std::string::npos);
  EXPECT_NE(text.find("sudo udevadm control --reload"), std::string::npos);
}

TEST_F(Devices, ReportWithoutAPedalAndWithEverythingOpen) {
  const std::vector<Node> nodes{{Node::Use::input, "/dev/input/event2", "AT keyboard", true},
                                {Node::Use::uinput, "/dev/uinput", "", true}};
  const std::string text = report(nodes);
  EXPECT_EQ(text.rfind("Quillfen can open every device it needs.", 0), 0u) << text;
  EXPECT_NE(text.find("No pedal (05f3:00ff) is plugged in"), std::string::npos);
  EXPECT_EQ(text.find("udevadm"), std::string::npos) << "nothing to do";
}
#endif

TEST_F(Devices, OneInstanceHoldsTheLock) {
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
