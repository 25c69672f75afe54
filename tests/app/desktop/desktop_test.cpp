// The program on a real X server with a window manager, as a person and a screen reader meet it:
// every control named, the status spoken, the keyboard alone, the wheel, the window on small and
// scaled screens, a large desktop font at the minimum size, and a second start.

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "atspi.h"
#include "desk.h"

namespace {

const QString title = "Quillfen · Linux developer preview";
const QString idle = "Inspect your pedal to begin. No input is captured.";
const QString review = "I reviewed recovery and understand exclusive pedal capture.";
const QString verified = "I verified original outputs are absent and my ordinary mouse works.";
const QString guard = "Optional 250 ms click guard";

// A control as a screen reader presents it: its role and what it is for (a pop-up by its label).
using Control = std::pair<QString, QString>;
Control control(const Node& node) {
  return {node.role, node.role == "combo box" ? node.labelledBy.join(", ") : node.name};
}

std::string slurp(const std::filesystem::path& path) {
  std::ifstream input(path);
  std::ostringstream text;
  text << input.rdbuf();
  return text.str();
}

class Desktop : public testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = missingTools(); !missing.empty())
      GTEST_SKIP() << "not installed: " << missing << " (scripts/deps.sh test installs them)";
  }

  // A desktop of `width` by `height` pixels, with a screen reader's view of it when `reader`.
  void desktop(int width, int height, bool reader = true) {
    desk = std::make_unique<Desk>(width, height);
    ASSERT_TRUE(desk->ready()) << "the X server, window manager or session bus did not start";
    if (!reader)
      return;
    const QString address = desk->accessibility();
    ASSERT_FALSE(address.isEmpty()) << "no accessibility bus";
    atspi = std::make_unique<Atspi>(address);
    ASSERT_TRUE(atspi->connected());
    atspi->listen("object:state-changed:");
    atspi->listen("object:property-change:accessible-name");
  }

  // Starts the program and waits until its window is shown, framed and active.
  void start(const std::vector<std::string>& extra = {}) {
    program = desk->program({}, extra);
    ASSERT_TRUE(until([&] { return !windows().empty(); }))
        << "no window on " << desk->display
        << "; the program said: " << slurp(desk->root / "quillfen.err")
        << " and the window manager: " << slurp(desk->root / "openbox.err");
    window = windows().front();
    if (atspi) {
      ASSERT_TRUE(until([&] {
        const auto apps = atspi->applications("Quillfen");
        if (apps.empty())
          return false;
        app = apps.front();
        const Node windows = atspi->read(app, 1);
        const Node* found = frame(windows);
        return found != nullptr && found->is(active);
      })) << "the window never became active for assistive technologies";
    }
  }

  // The program's main window in a tree read from the application.
  static const Node* frame(const Node& tree) { return tree.find("frame", title); }
  Node tree() { return atspi->read(app); }
  Node main() {
    const Node all = tree();
    const Node* found = frame(all);
    return found != nullptr ? *found : Node{};
  }
  // The focused control of the main window; empty when none.
  Control focus() {
    const Node all = main();
    for (const Node* node : all.all()) {
      if (node->is(focused) && node->role != "frame")
        return control(*node);
    }
    return {};
  }
  // Whether a window of the program with this title is shown.
  bool shown(const QString& name) {
    const Node all = tree();
    const Node* found = all.find("frame", name);
    return found != nullptr && found->is(showing);
  }
  QString status() {
    const Node all = main();
    for (const Node* node : all.all()) {
      if (node->role == "alert message")
        return node->name;
    }
    return {};
  }

  // X windows of the program's title that are mapped.
  std::vector<std::string> windows() {
    // A pattern without the middle dot, which xdotool may not match in the X window name.
    std::istringstream ids(desk->x(
        {"xdotool", "search", "--onlyvisible", "--name", "^Quillfen .* Linux developer preview$"}));
    std::vector<std::string> found;
    for (std::string id; ids >> id;)
      found.push_back(id);
    return found;
  }
  // The window's place on the screen and its frame: x, y, width, height, then the frame's left,
  // right, top and bottom.
  std::vector<int> geometry() {
    const std::string info = desk->x({"xwininfo", "-id", window});
    std::vector<int> values;
    for (const char* field :
         {"Absolute upper-left X:", "Absolute upper-left Y:", "Width:", "Height:"}) {
      const auto at = info.find(field);
      values.push_back(at == std::string::npos ? -1 : std::atoi(info.c_str() + at + strlen(field)));
    }
    const std::string frame = desk->x({"xprop", "-id", window, "_NET_FRAME_EXTENTS"});
    const auto equals = frame.find('=');
    if (equals == std::string::npos)
      return values;
    std::istringstream numbers(frame.substr(equals + 1));
    for (std::string number; std::getline(numbers, number, ',');)
      values.push_back(std::atoi(number.c_str()));
    return values;
  }
  void keys(const std::vector<std::string>& names) { desk->keys(names); }

  std::unique_ptr<Desk> desk;
  std::unique_ptr<Atspi> atspi;
  Child program;
  Ref app;
  std::string window;
};

TEST_F(Desktop, ScreenReaderReadsEveryControlAndHearsTheStatus) {
  desktop(1366, 768);
  start();
  const Node all = tree();
  std::ofstream(QUILLFEN_TREE) << all.dump().toStdString();
  const Node* top = frame(all);
  ASSERT_NE(top, nullptr) << all.dump().toStdString();

  // Every stop of the keyboard is a control that says what it is for: no unnamed frame or
  // scroll area among them, pop-ups by their label.
  std::vector<Control> stops;
  for (const Node* node : top->all()) {
    if (node->is(focusable) && node->role != "list" && node->role != "list item")
      stops.push_back(control(*node));
  }
  const QString button = "push button", box = "check box", menu = "combo box";
  EXPECT_EQ(stops, (std::vector<Control>{
                       {button, "Permissions"},
                       {button, "Inspect pedal"},
                       {box, review},
                       {button, "Start isolated test"},
                       {menu, "Left"},
                       {button, "Learn left"},
                       {menu, "Middle"},
                       {button, "Learn middle"},
                       {menu, "Right"},
                       {button, "Learn right"},
                       {menu, guard},
                       {button, "Save actions & guard"},
                       {box, verified},
                       {button, "Activate actions"},
                       {button, "Pause actions"},
                       {button, "Stop capture"},
                       {button, "Setup & recovery guide"},
                   }));
  EXPECT_NE(top->find("alert message", idle), nullptr) << "the status line is an alert";
  EXPECT_EQ(focus(), (Control{button, "Permissions"})) << "the window opens on its first control";

  // Inspecting changes the status line: a screen reader hears it as an alert shown anew, while
  // the focus stays on the button.
  atspi->events.clear();
  keys({"Tab", "Return"});
  ASSERT_TRUE(until([&] { return status() != idle; }));
  const QString message = status();
  EXPECT_TRUE(until([&] {
    for (const Event& event : atspi->events) {
      if (event.member == "StateChanged" && event.kind == "showing" && event.detail == 1 &&
          event.source == message)
        return true;
    }
    return false;
  })) << "no announcement of "
      << message.toStdString();
  EXPECT_EQ(focus(), (Control{button, "Inspect pedal"}));
}

TEST_F(Desktop, KeyboardAloneWorksTheWindow) {
  desktop(1366, 768);
  start();
  const QString button = "push button", box = "check box", menu = "combo box";
  // Tab follows the rows through every enabled control and comes round again.
  const std::vector<Control> order{{button, "Inspect pedal"},
                                   {box, review},
                                   {button, "Start isolated test"},
                                   {menu, "Left"},
                                   {menu, "Middle"},
                                   {menu, "Right"},
                                   {menu, guard},
                                   {button, "Save actions & guard"},
                                   {box, verified},
                                   {button, "Setup & recovery guide"},
                                   {button, "Permissions"}};
  ASSERT_EQ(focus(), (Control{button, "Permissions"}));
  for (const Control& next : order) {
    keys({"Tab"});
    ASSERT_TRUE(until([&] { return focus() == next; }))
        << "Tab did not reach " << next.second.toStdString();
  }

  // Return presses a button: the Permissions window says what the program can open.
  keys({"Return"});
  ASSERT_TRUE(until([&] { return shown("Quillfen · Permissions"); }));
  const Node windows = tree();
  const Node* findings = windows.find("frame", "Quillfen · Permissions");
  const Node* text = findings->find("label", "Permissions");
  ASSERT_NE(text, nullptr) << findings->dump().toStdString();
  EXPECT_TRUE(text->is(focused));
  EXPECT_TRUE(atspi->text(text->ref).contains("/dev/uinput")) << findings->dump().toStdString();
  keys({"Escape"});
  ASSERT_TRUE(until([&] { return !shown("Quillfen · Permissions"); }));
  ASSERT_TRUE(until([&] { return focus() == Control{button, "Permissions"}; }));

  // Space ticks and unticks a check box.
  keys({"Tab", "Tab", "space"});
  ASSERT_TRUE(until([&] { return main().find(box, review)->is(checked); }));
  keys({"space"});
  ASSERT_TRUE(until([&] { return !main().find(box, review)->is(checked); }));

  // A pop-up opens and chooses with the keyboard; Return on Save stores the choice.
  keys({"Tab", "Tab", "space"});
  keys({"Down", "Down", "Return"});
  ASSERT_TRUE(until([&] {
    const Node shown = main();
    for (const Node* node : shown.all())
      if (node->role == menu && node->labelledBy == QStringList{"Left"})
        return node->name == "Scroll down";
    return false;
  }));
  keys({"Tab", "Tab", "Tab", "Tab", "Return"});
  ASSERT_TRUE(until([&] { return status() == "Saved locally. Activation remains explicit."; }));
  EXPECT_NE(slurp(desk->root / "config/Quillfen/settings.json").find(R"("left":"scrollDown")"),
            std::string::npos);

  // Space presses a button: with no program to open it, the guide opens in a window of its own.
  keys({"Tab", "Tab", "space"});
  EXPECT_TRUE(until([&] { return shown("Quillfen · Setup & recovery guide"); }));
  const Node windows2 = tree();
  const Node* guide = windows2.find("label", "Setup & recovery guide");
  ASSERT_NE(guide, nullptr);
  EXPECT_TRUE(atspi->text(guide->ref).contains("Recovery: getting your pedal and mouse back"));
  keys({"Escape"});
  EXPECT_TRUE(until([&] { return !shown("Quillfen · Setup & recovery guide"); }));
  // Nothing of all this was an error worth a line on standard error.
  EXPECT_EQ(slurp(desk->root / "quillfen.err"), "");
}

TEST_F(Desktop, WheelOverAPopUpScrollsTheColumnAndKeepsTheChoice) {
  desktop(1366, 768);
  start();
  auto left = [&] {
    const Node shown = main();
    for (const Node* node : shown.all())
      if (node->role == "combo box" && node->labelledBy == QStringList{"Left"})
        return *node;
    return Node{};
  };
  const Node before = left();
  ASSERT_EQ(before.name, "No action");
  const QPoint over = before.box.center();
  desk->x({"xdotool", "mousemove", std::to_string(over.x()), std::to_string(over.y())});
  desk->x({"xdotool", "click", "--repeat", "3", "--delay", "80", "5"});
  ASSERT_TRUE(until([&] { return left().box.y() < before.box.y(); }))
      << "the column did not scroll";
  EXPECT_EQ(left().name, "No action") << "the wheel changed the pedal's action";
  desk->x({"xdotool", "click", "--repeat", "3", "--delay", "80", "4"});
  ASSERT_TRUE(until([&] { return left().box.y() == before.box.y(); }));
  EXPECT_EQ(left().name, "No action");
}

TEST_F(Desktop, OpensWhollyOnSmallAndScaledScreens) {
  struct Case {
    int width, height;
    std::vector<std::string> variables;
    int logical;  // device-independent pixels per screen pixel
  };
  for (const Case& screen : {Case{1366, 768, {}, 1}, Case{1920, 1080, {"QT_SCALE_FACTOR=2"}, 2}}) {
    SCOPED_TRACE(std::to_string(screen.width) + "x" + std::to_string(screen.height) + " at " +
                 std::to_string(screen.logical));
    desktop(screen.width, screen.height, false);
    start(screen.variables);
    std::vector<int> g;
    // Placed again once the window manager has framed it: then the frame fits.
    const bool fits = until([&] {
      g = geometry();
      return g.size() == 8 && g[0] - g[4] >= 0 && g[1] - g[6] >= 0 &&
             g[0] + g[2] + g[5] <= screen.width && g[1] + g[3] + g[7] <= screen.height;
    });
    ASSERT_TRUE(fits) << "x " << g[0] << " y " << g[1] << " size " << g[2] << "x" << g[3];
    const int scale = screen.logical;
    EXPECT_EQ(g[2], 800 * scale);
    // The largest height that fits, since 820 does not; a pixel of rounding at a scale of 2.
    EXPECT_NEAR(g[3], screen.height - g[6] - g[7], scale);
    EXPECT_NEAR(g[0] - g[4], (screen.width - g[2] - g[4] - g[5]) / 2, scale) << "centred";
    program.end();
  }
}

TEST_F(Desktop, LargeDesktopFontKeepsEveryRowInTheColumnAtTheMinimumSize) {
  for (int points : {16, 22}) {
    SCOPED_TRACE(std::to_string(points) + " points");
    desktop(1920, 1080);
    // The desktop's font as Plasma keeps it, which Qt reads on a KDE desktop.
    std::ofstream(desk->root / "config/kdeglobals")
        << "[General]\nfont=DejaVu Sans," << points << ",-1,5,50,0,0,0,0,0\n";
    start({"XDG_CURRENT_DESKTOP=KDE", "KDE_SESSION_VERSION=5"});

    // The controls' natural widths, in a wide window; then the window at its minimum size.
    desk->x({"xdotool", "windowsize", window, "1800", "1000"});
    std::map<QString, int> natural;
    ASSERT_TRUE(until([&] { return main().box.width() == 1800; }));
    const Node wide = main();
    for (const Node* node : wide.all())
      if (node->role == "push button" || node->role == "check box")
        natural[node->name] = node->box.width();
    desk->x({"xdotool", "windowsize", window, "10", "10"});
    ASSERT_TRUE(until([&] { return main().box.width() < 1800; }));
    QRect last;
    ASSERT_TRUE(until([&] {
      const QRect now = main().box;
      const bool settled = now == last;
      last = now;
      return settled;
    }));

    const Node top = main();
    EXPECT_GT(top.find("push button", "Permissions")->box.height(), 28)
        << "the desktop's font was not taken";
    // The column is the object that holds the rows; its parent is the visible part.
    const Node* column = nullptr;
    const Node* visible = nullptr;
    for (const Node* node : top.all()) {
      for (const Node& child : node->children) {
        if (child.find("label", "Your pedal. Across your computer.") != nullptr &&
            child.children.size() > 20 && column == nullptr) {
          visible = node;
          column = &child;
        }
      }
    }
    ASSERT_NE(column, nullptr) << top.dump().toStdString();
    const int right = visible->box.right() - 24;  // within the column's inset
    for (const Node& row : column->children) {
      SCOPED_TRACE(row.role.toStdString() + " " + row.name.left(40).toStdString());
      EXPECT_LE(row.box.right(), right) << "reaches past the visible column";
      if (natural.count(row.name)) {
        EXPECT_EQ(row.box.width(), natural[row.name]) << "its title is cut";
      }
    }
    for (const Node* node : top.all()) {
      if (node->role == "scroll bar" && node->is(showing)) {
        EXPECT_GT(node->box.height(), node->box.width()) << "a horizontal scroll bar";
      }
    }
    program.end();
  }
}

TEST_F(Desktop, SecondStartBringsTheRunningWindowForward) {
  desktop(1366, 768, false);
  start();
  desk->x({"xdotool", "windowminimize", window});
  ASSERT_TRUE(until([&] { return windows().empty(); })) << "not minimised";
  Child second = desk->program();
  ASSERT_TRUE(until([&] { return second.wait(0) != -1; }, 20000)) << "the second start runs on";
  const int outcome = second.wait(0);
  EXPECT_TRUE(WIFEXITED(outcome) && WEXITSTATUS(outcome) == 0);
  EXPECT_NE(slurp(desk->root / "quillfen.err").find("already running"), std::string::npos);
  ASSERT_TRUE(until([&] { return windows().size() == 1; })) << "the window did not come back";
  EXPECT_EQ(windows().front(), window) << "a second window opened";
  EXPECT_TRUE(until([&] {
    std::string active = desk->x({"xdotool", "getactivewindow"});
    return active.substr(0, active.find('\n')) == window;
  })) << "the window is not the active one";
}

}  // namespace
