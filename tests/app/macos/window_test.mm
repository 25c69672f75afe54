// The real AppKit window over the simulated platform: what only its widgets show. The rules
// behind them are tested without a toolkit in tests/app.

#import "app/macos/window.h"
#import "app/macos/delegate.h"
#import "app/macos/stack.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "../../support/files.h"
#include "app/file.h"
#include "backend/backend.h"
#include "core/settings.h"
#include "core/vocabulary.h"
#include "platform/sim/sim.h"

namespace {

const std::string started =
    "Isolated test started. Release pedals to establish neutral, then learn each pedal. Verify "
    "originals and ordinary mouse in another app.";

std::string string(NSString* text) {
  return text != nil ? std::string(text.UTF8String) : std::string();
}

bool sameColour(NSColor* actual, const Rgb& expected) {
  NSColor* rgb = [actual colorUsingColorSpace:NSColorSpace.genericRGBColorSpace];
  return rgb != nil && std::abs(rgb.redComponent - expected.red) < 1e-3 &&
         std::abs(rgb.greenComponent - expected.green) < 1e-3 &&
         std::abs(rgb.blueComponent - expected.blue) < 1e-3;
}

// One launched window per test over a fresh simulated world, with its settings in a folder of its
// own.
class AppKit : public testing::Test {
 protected:
  void SetUp() override {
    // A regular application, as the program makes itself, so that its window can be shown.
    [[NSApplication sharedApplication] setActivationPolicy:NSApplicationActivationPolicyRegular];
    sim::reset();
    home = scratchFolder("mac");
    ASSERT_FALSE(home.empty());
    if (const char* value = std::getenv("HOME"))
      savedHome = value;
    setenv("HOME", home.c_str(), 1);
    @autoreleasepool {
      delegate = [[Delegate alloc] initWithArguments:{"quillfen"} folder:home / "bin"];
      [delegate applicationDidFinishLaunching:
                    [NSNotification notificationWithName:NSApplicationDidFinishLaunchingNotification
                                                  object:NSApp]];
    }
    window = delegate->window;
    ASSERT_NE(window, nil);
  }

  // Ends the window and waits until the worker thread has let go of the backend.
  void TearDown() override {
    const std::weak_ptr<Backend> engine = delegate->app->backend;
    @autoreleasepool {
      [delegate
          applicationWillTerminate:[NSNotification
                                       notificationWithName:NSApplicationWillTerminateNotification
                                                     object:NSApp]];
      [window->window close];
      window = nil;
      delegate = nil;
    }
    EXPECT_TRUE(until([&] { return engine.expired(); })) << "the worker thread did not end";
    std::filesystem::remove_all(home);
    if (savedHome)
      setenv("HOME", savedHome->c_str(), 1);
    else
      unsetenv("HOME");
  }

  // Runs the main run loop, where statuses arrive, until `done` holds, at most five seconds.
  static bool until(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
      if (std::chrono::steady_clock::now() > end)
        return false;
      [NSRunLoop.mainRunLoop runMode:NSDefaultRunLoopMode
                          beforeDate:[NSDate dateWithTimeIntervalSinceNow:0.01]];
    }
    return true;
  }
  void expectStatus(const std::string& text) {
    until([&] { return string(window->status.stringValue) == text; });
    EXPECT_EQ(string(window->status.stringValue), text);
  }
  // Clicks a push button; it must be enabled.
  void click(NSString* title) {
    NSButton* button = window->buttons[title];
    ASSERT_NE(button, nil) << string(title);
    ASSERT_TRUE(button.enabled) << string(title);
    [button performClick:nil];
  }
  // Every control shows what the App holds.
  void expectWidgetsFollowTheApp() {
    const App& app = *delegate->app;
    ASSERT_EQ(window->buttons.count, app.buttons.size());
    for (const auto& [title, enabled] : app.buttons)
      EXPECT_EQ(window->buttons[nsText(title)].enabled, enabled) << title;
    for (NSUInteger i = 0; i < window->menus.count; ++i) {
      EXPECT_EQ(window->menus[i].enabled, !app.activated);
      EXPECT_EQ(window->menus[i].indexOfSelectedItem, app.menus.at(i));
    }
    EXPECT_EQ(window->scope.enabled, !app.activated);
    EXPECT_EQ(window->review.state == NSControlStateValueOn, app.review);
    EXPECT_EQ(window->verified.state == NSControlStateValueOn, app.verified);
    EXPECT_EQ(string(window->status.stringValue), app.status);
  }

  ContentStack* column() const {
    NSScrollView* scroll = window->window.contentView.subviews.firstObject;
    return scroll.documentView;
  }

  std::filesystem::path home;
  std::optional<std::string> savedHome;
  Delegate* delegate = nil;
  Window* window = nil;
};

TEST_F(AppKit, EachRowIsItsWidget) {
  NSArray<NSView*>* views = column().arrangedSubviews;
  const std::vector<Row>& rows = delegate->app->rows;
  ASSERT_EQ(views.count, rows.size());
  NSMutableArray<NSView*>* menus = [NSMutableArray array];
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    NSView* view = views[i];
    SCOPED_TRACE("row " + std::to_string(i + 1) + ": " + row.text);
    switch (row.kind) {
      case Kind::text: {
        ASSERT_TRUE([view isKindOfClass:NSTextField.class]);
        NSTextField* label = (NSTextField*)view;
        EXPECT_EQ(string(label.stringValue), row.text);
        EXPECT_EQ(label.font.pointSize, row.size);
        EXPECT_TRUE(
            sameColour(label.textColor, row.colour == Colour::accent ? accentColour : textColour));
        EXPECT_FALSE(label.editable);
        break;
      }
      case Kind::button: {
        ASSERT_TRUE([view isKindOfClass:NSButton.class]);
        NSButton* button = (NSButton*)view;
        EXPECT_EQ(string(button.title), row.text);
        EXPECT_EQ(window->buttons[button.title], button);
        EXPECT_EQ(button.tag, row.tag);
        EXPECT_EQ(button.target, window);
        if (row.look == Look::prominent) {
          EXPECT_TRUE(sameColour(button.bezelColor, accentColour));
          EXPECT_TRUE(sameColour(button.contentTintColor, Rgb{1, 1, 1}));
        } else if (row.look == Look::tinted) {
          EXPECT_EQ(button.bezelColor, nil);
          EXPECT_TRUE(sameColour(button.contentTintColor, accentColour));
        } else {
          EXPECT_EQ(button.contentTintColor, nil) << "the learn buttons keep the default look";
        }
        break;
      }
      case Kind::status:
        EXPECT_EQ(view, window->status);
        EXPECT_EQ(string(window->status.stringValue), App::idle);
        break;
      case Kind::review:
      case Kind::verified:
        EXPECT_EQ(view, row.kind == Kind::review ? window->review : window->verified);
        EXPECT_EQ(string(((NSButton*)view).title), row.text);
        break;
      case Kind::menu:
        [menus addObject:view];
        break;
      case Kind::scope:
        EXPECT_EQ(view, window->scope);
        break;
    }
  }
  EXPECT_TRUE([menus isEqualToArray:window->menus]);
  EXPECT_EQ(window->buttons.count, 11u);

  std::vector<std::string> titles;
  for (NSString* title in window->menus[0].itemTitles)
    titles.push_back(string(title));
  EXPECT_EQ(titles, (std::vector<std::string>{"No action", "Scroll up", "Scroll down",
                                              "Space (application shortcut)", "Enter", "F13", "F14",
                                              "F15", "F16", "F17", "F18", "F19", "F20"}));
  EXPECT_EQ(string(window->scope.itemTitles[1]),
            "All mouse buttons: left, middle, right & additional");
}

TEST_F(AppKit, WindowAndItsColumn) {
  NSWindow* frame = window->window;
  EXPECT_EQ(string(frame.title), "Quillfen · macOS developer preview");
  // AppKit fits a window that is taller than the screen into it.
  const NSRect content = [frame contentRectForFrameRect:frame.frame];
  const NSRect screen = [frame contentRectForFrameRect:frame.screen.visibleFrame];
  EXPECT_EQ(content.size.width, 800);
  EXPECT_EQ(content.size.height, std::min(820.0, screen.size.height));
  EXPECT_EQ(frame.minSize.width, 720);
  EXPECT_EQ(frame.minSize.height, 500);
  EXPECT_TRUE(frame.styleMask & NSWindowStyleMaskResizable);
  EXPECT_TRUE(frame.visible);
  EXPECT_TRUE(sameColour(frame.backgroundColor, windowColour));

  NSScrollView* scroll = frame.contentView.subviews.firstObject;
  ASSERT_TRUE([scroll isKindOfClass:NSScrollView.class]);
  EXPECT_TRUE(scroll.hasVerticalScroller);
  EXPECT_FALSE(scroll.hasHorizontalScroller);
  EXPECT_TRUE(sameColour(scroll.backgroundColor, columnColour));

  // At the minimum size: the column fills the visible width and starts at the top, rows 16
  // points apart from the inset down, texts within the column less 48 points.
  [frame setContentSize:NSMakeSize(720, 500)];
  [frame.contentView layoutSubtreeIfNeeded];
  ContentStack* stack = column();
  ASSERT_TRUE([stack isKindOfClass:ContentStack.class]);
  EXPECT_TRUE(stack.flipped);
  EXPECT_EQ(stack.frame.size.width, scroll.contentView.bounds.size.width);
  EXPECT_GT(stack.frame.size.height, 500) << "the rows scroll vertically";
  // Within a pixel: AppKit aligns frames to the screen's pixels.
  NSArray<NSView*>* views = stack.arrangedSubviews;
  EXPECT_NEAR(views.firstObject.frame.origin.y, 24, 1);
  for (NSUInteger i = 1; i < views.count; ++i)
    EXPECT_NEAR(views[i].frame.origin.y, NSMaxY(views[i - 1].frame) + 16, 1) << i;
  for (NSView* view in views) {
    EXPECT_NEAR(view.frame.origin.x, 24, 1);
    if ([view isKindOfClass:NSTextField.class])
      EXPECT_LE(view.frame.size.width, stack.frame.size.width - 48 + 1);
  }
}

TEST_F(AppKit, SessionThroughTheWidgets) {
  expectWidgetsFollowTheApp();
  const std::uint64_t pedal = sim::plug();
  click(@"Inspect pedal");
  until([&] { return delegate->app->status != App::idle; });
  [window->review performClick:nil];
  EXPECT_TRUE(delegate->app->review) << "the check box tells the App";
  click(@"Start isolated test");
  expectStatus(started);
  expectWidgetsFollowTheApp();
  EXPECT_TRUE(sim::opened(pedal));

  // A choice in a pop-up reaches the saved record.
  [window->menus[1] selectItemAtIndex:5];
  [window->menus[1] sendAction:window->menus[1].action to:window->menus[1].target];
  [window->verified performClick:nil];
  click(@"Save actions & guard");
  expectStatus("Saved locally. Activation remains explicit.");
  EXPECT_EQ(window->verified.state, NSControlStateValueOff) << "a save asks for it again";
  EXPECT_EQ(contents(location()),
            encode(Settings(1, {{"left", "none"}, {"middle", "f13"}, {"right", "none"}}, "off")));

  [window->verified performClick:nil];
  click(@"Stop capture");
  expectStatus("Capture stopped. Original input restored.");
  expectWidgetsFollowTheApp();
  EXPECT_EQ(window->verified.state, NSControlStateValueOff);
  EXPECT_FALSE(sim::opened(pedal));
}

TEST_F(AppKit, PictureOfTheWindowIsAPng) {
  const std::filesystem::path png = home / "window.png";
  [window picture:png.string()];
  std::ifstream file(png, std::ios::binary);
  std::string magic(8, '\0');
  file.read(magic.data(), 8);
  EXPECT_EQ(magic, "\x89PNG\r\n\x1a\n");
  // A folder that does not exist: nothing is written, nothing fails.
  [window picture:(home / "missing" / "window.png").string()];
  EXPECT_FALSE(std::filesystem::exists(home / "missing"));
}

}  // namespace
