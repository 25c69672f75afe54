// What Permissions finds on Linux: device nodes found through sysfs in a folder standing in for
// the file system, opened directly or handed over by quillfen-access, and the words for it.

#include "platform/linux/survey.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "../../support/files.h"
#include "tests/access/serving.h"

namespace {

namespace fs = std::filesystem;
using namespace linuxplatform;

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
  // The pedal, a keyboard (F12, bit 88, among its keys), a keypad with Space (bit 57) but no F12,
  // a mouse (the left button, bit 272), a device that is neither, and one of the program's own.
  void devices(Made pedal, Made mouse) {
    const std::string keyboard = "1 0 0 ffffffff01000000 0";
    hidraw(0, "0003:0000046D:0000C52B", "Logitech receiver", Made::open);
    hidraw(3, "0003:000005F3:000000FF", "VEC USB Footpedal", pedal);
    event(2, "0001", "0001", "AT keyboard", keyboard, Made::open);
    event(10, "05f3", "00ff", "VEC USB Footpedal", "7 0 0 0", pedal);
    event(11, "046d", "c077", "USB mouse", "1f0000 0 0 0 0", mouse);
    event(14, "1234", "0001", "Keypad", "200000000000000", Made::open);
    event(12, "0000", "0000", "Power Button", "10000000000000 0", Made::refused);
    event(13, "0000", "0000", "Quillfen keyboard", keyboard, Made::refused, "quillfen/keyboard");
    node("dev/uinput", Made::open);
  }
  std::vector<std::string> seen(const Findings& found) {
    std::vector<std::string> lines;
    for (const Finding& node : found.nodes)
      lines.push_back(fs::path(node.path).lexically_relative(root).string() + " " + node.name +
                      " " + std::to_string(static_cast<int>(node.state)));
    return lines;
  }

  fs::path root;
};

TEST_F(Devices, SurveyFindsWhatCanAndCannotBeOpened) {
  devices(Made::refused, Made::refused);
  Nodes direct("");
  Findings found = survey(root, direct);
  EXPECT_EQ(seen(found), (std::vector<std::string>{
                             "dev/hidraw3 VEC USB Footpedal 1",
                             "dev/input/event10 VEC USB Footpedal 1",
                             "dev/input/event2 AT keyboard 0",
                             "dev/input/event11 USB mouse 1",
                             "dev/input/event14 Keypad 0",
                             "dev/uinput  0",
                         }));
  EXPECT_EQ(found.route, Route::direct);

  found.root = false;  // as a user's program sees it, whoever runs the test
  const std::string text = report(found);
  EXPECT_EQ(text.rfind("Quillfen cannot open every device it needs.", 0), 0u) << text;
  for (const std::string& words :
       {"cannot open  " + (root / "dev/hidraw3").string() + "  (VEC USB Footpedal)",
        "can open     " + (root / "dev/uinput").string(), std::string("is not installed here"),
        std::string("Install Quillfen's package"), std::string("71-quillfen-uaccess.rules"),
        std::string("sudo udevadm control --reload")})
    EXPECT_NE(text.find(words), std::string::npos) << words << " in:\n" << text;
  found.root = true;
  EXPECT_NE(report(found).find("runs as root and opens the devices itself"), std::string::npos);
}

// Where quillfen-access hands the nodes over, what it hands over is what the program has, and no
// udev rule is offered.
TEST_F(Devices, WhatTheHelperHandsOverIsWhatTheProgramHas) {
  devices(Made::open, Made::open);
  Serving serving(root);
  ASSERT_TRUE(serving.listening());
  serving.with([&](Serving::Told& told) {
    told.nodes[protocol::Kind::pedal] = {{(root / "dev/hidraw3").string(), false},
                                         {(root / "dev/input/event10").string(), true}};
    told.nodes[protocol::Kind::input] = {{(root / "dev/input/event2").string(), true}};
    told.nodes[protocol::Kind::uinput] = {{(root / "dev/uinput").string(), false}};
  });
  Nodes nodes(serving.socket);
  nodes.undumpable = false;
  Findings found = survey(root, nodes);
  found.root = false;
  EXPECT_EQ(seen(found), (std::vector<std::string>{
                             "dev/hidraw3 VEC USB Footpedal 0",
                             "dev/input/event10 VEC USB Footpedal 0",
                             "dev/input/event2 AT keyboard 0",
                             "dev/input/event11 USB mouse 1",
                             "dev/input/event14 Keypad 1",
                             "dev/uinput  0",
                         }))
      << "the mouse and the keypad are not handed over, though the program could open them";
  std::string text = report(found);
  EXPECT_NE(text.find("hands these devices to the installed Quillfen alone"), std::string::npos)
      << text;
  EXPECT_EQ(text.find("udevadm"), std::string::npos) << text;

  // Its session not the active one: nothing at all, and the reason.
  serving.with([](Serving::Told& told) { told.active = false; });
  Nodes refused(serving.socket);
  refused.undumpable = false;
  found = survey(root, refused);
  for (const Finding& node : found.nodes)
    EXPECT_EQ(node.state, Finding::State::denied) << node.path;
  text = report(found);
  EXPECT_NE(text.find("only while your session is the active one"), std::string::npos) << text;
  EXPECT_EQ(text.find("udevadm"), std::string::npos) << text;
}

TEST_F(Devices, ReportWithoutAPedalAndWithEverythingOpen) {
  Findings found;
  found.nodes = {{Finding::Use::input, "/dev/input/event2", "AT keyboard", Finding::State::opened},
                 {Finding::Use::uinput, "/dev/uinput", "", Finding::State::opened}};
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

    Nodes direct("");
    Findings found = survey(root, direct);
    found.root = false;
    EXPECT_EQ(found.uinput, item.module);
    const std::string text = report(found);
    for (const std::string& words : item.said)
      EXPECT_NE(text.find(words), std::string::npos) << words << " in:\n" << text;
    for (const std::string& words : item.unsaid)
      EXPECT_EQ(text.find(words), std::string::npos) << words << " in:\n" << text;
  }
}

}  // namespace
