// The window's rules on a Linux desktop that need no toolkit: where it opens and how narrow it may
// get, what the Permissions button finds, and the one-instance lock.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

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
  // A device node that opens; one that refuses even root (a link to itself); one with no driver
  // behind it (writing to a pipe nobody reads fails as such a node does); or none.
  enum class Made { none, open, refused, driverless };
  void node(const fs::path& path, Made made) {
    fs::create_directories((root / path).parent_path());
    if (made == Made::open)
      file(path, "");
    if (made == Made::refused)
      fs::create_symlink(path.filename(), root / path);
    if (made == Made::driverless) {
      ASSERT_EQ(mkfifo((root / path).c_str(), 0666), 0);
    }
  }
  // A hidraw node and its HID device.
  void hidraw(int number, const std::string& id, const std::string& name, Made readable) {
    const fs::path entry = "sys/class/hidraw/hidraw" + std::to_string(number);
    file(entry / "device/uevent", "DRIVER=hid-generic\nHID_ID=" + id + "\nHID_NAME=" + name + "\n");
    node("dev/hidraw" + std::to_string(number), readable);
  }
  // An evdev node with the vendor, product and key capabilities of its input device.
  void event(int number, const std::string& vendor, const std::string& product,
             const std::string& name, const std::string& keys, Made readable,
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
  const Made open = Made::open, refused = Made::refused;
  hidraw(0, "0003:0000046D:0000C52B", "Logitech receiver", open);
  hidraw(3, "0003:000005F3:000000FF", "VEC USB Footpedal", refused);
  // Keyboard: F12 (bit 88) among its keys; mouse: the left button (bit 272).
  const std::string keyboard = "1 0 0 ffffffff01000000 0";
  const std::string mouse = "1f0000 0 0 0 0";
  event(2, "0001", "0001", "AT keyboard", keyboard, open);
  event(10, "05f3", "00ff", "VEC USB Footpedal", "7 0 0 0", refused);
  event(11, "046d", "c077", "USB mouse", mouse, refused);
  event(12, "0000", "0000", "Power Button", "10000000000000 0", refused);  // neither: left out
  event(13, "0000", "0000", "Quillfen keyboard", keyboard, refused, "quillfen/keyboard");
  node("dev/uinput", open);

  const Findings found = survey(root);
  std::vector<std::string> seen;
  for (const Node& node : found.nodes)
    seen.push_back(fs::path(node.path).lexically_relative(root).string() + " " + node.name + " " +
                   std::to_string(static_cast<int>(node.state)));
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "dev/hidraw3 VEC USB Footpedal 1",
                      "dev/input/event10 VEC USB Footpedal 1",
                      "dev/input/event2 AT keyboard 0",
                      "dev/input/event11 USB mouse 1",
                      "dev/uinput  0",
                  }));

  const std::string text = report(found);
  EXPECT_EQ(text.rfind("Quillfen cannot open every device it needs.", 0), 0u) << text;
  EXPECT_NE(text.find("cannot open  " + (root / "dev/hidraw3").string() + "  (VEC USB Footpedal)"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("can open     " + (root / "dev/uinput").string()), std::string::npos);
  EXPECT_NE(text.find("sudo udevadm control --reload"), std::string::npos);
}

TEST_F(Devices, ReportWithoutAPedalAndWithEverythingOpen) {
  Findings found;
  found.nodes = {{Node::Use::input, "/dev/input/event2", "AT keyboard", Node::State::opened},
                 {Node::Use::uinput, "/dev/uinput", "", Node::State::opened}};
  const std::string text = report(found);
  EXPECT_EQ(text.rfind("Quillfen can open every device it needs.", 0), 0u) << text;
  EXPECT_NE(text.find("No pedal (05f3:00ff) is plugged in"), std::string::npos);
  EXPECT_EQ(text.find("udevadm"), std::string::npos) << "nothing to do";
}

// No udev rule makes /dev/uinput appear: when it is missing, or there without its driver, the
// advice is the kernel's uinput module, as the running kernel's module lists tell of it.
TEST_F(Devices, MissingUinputIsAMatterOfTheKernelsModule) {
  struct Case {
    const char* name;
    Made uinput;
    const char* listed;  // the module list that names uinput: "" none; null: no lists at all
    Module module;
    std::vector<std::string> said, unsaid;
  };
  const std::string modprobe = "sudo modprobe uinput", rule = "sudo udevadm control --reload";
  // clang-format off
  const std::vector<Case> cases{
      {"loadable", Made::none, "modules.dep", Module::loadable,
       {"missing      ", modprobe, "/etc/modules-load.d/"}, {rule, "built without"}},
      {"its node, its module not loaded", Made::driverless, "modules.dep", Module::loadable,
       {"missing      ", modprobe}, {rule}},
      {"absent from the kernel", Made::none, "", Module::absent,
       {"This kernel (6.1.0-9-test) has no uinput module"}, {modprobe, rule}},
      {"no module lists", Made::none, nullptr, Module::unknown,
       {modprobe, "built without it"}, {rule}},
      {"built in", Made::none, "modules.builtin", Module::builtin, {"built in"}, {modprobe, rule}},
      {"refused", Made::refused, "modules.dep", Module::loadable, {"cannot open  ", rule},
       {modprobe}},
  };
  // clang-format on
  for (const Case& item : cases) {
    SCOPED_TRACE(item.name);
    for (const char* folder : {"dev", "lib", "proc"})
      fs::remove_all(root / folder);
    file("proc/sys/kernel/osrelease", "6.1.0-9-test\n");
    const fs::path modules = "lib/modules/6.1.0-9-test";
    if (item.listed != nullptr) {
      file(modules / "modules.dep", "kernel/drivers/input/evdev.ko:\n");
      file(modules / "modules.builtin", "kernel/drivers/hid/hid.ko\n");
      if (*item.listed != '\0')
        file(modules / item.listed, "kernel/drivers/input/misc/uinput.ko.xz:\n");
    }
    node("dev/uinput", item.uinput);

    const Findings found = survey(root);
    EXPECT_EQ(found.uinput, item.module);
    const std::string text = report(found);
    for (const std::string& words : item.said)
      EXPECT_NE(text.find(words), std::string::npos) << words << " in:\n" << text;
    for (const std::string& words : item.unsaid)
      EXPECT_EQ(text.find(words), std::string::npos) << words << " in:\n" << text;
  }
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
