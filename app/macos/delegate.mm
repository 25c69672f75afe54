// The application's delegate: the App's launch and termination, and the services of AppKit,
// the main dispatch queue and the workspace that the App asks for.

#import "app/macos/delegate.h"
#import "app/macos/window.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <utility>

#if !__has_feature(objc_arc)
#error "app/macos needs automatic reference counting (-fobjc-arc)"
#endif

@implementation Delegate

- (instancetype)initWithArguments:(std::vector<std::string>)arguments
                           folder:(std::filesystem::path)folder {
  self = [super init];
  if (self == nil)
    return nil;
  app = std::make_unique<App>(std::move(arguments), std::move(folder));
  observers = [NSMutableArray array];
  [self connect];
  return self;
}

- (void)dealloc {
  [timer invalidate];
  for (id<NSObject> token in observers) {
    [NSWorkspace.sharedWorkspace.notificationCenter removeObserver:token];
    [NSDistributedNotificationCenter.defaultCenter removeObserver:token];
  }
  if (activity != nil)
    [NSProcessInfo.processInfo endActivity:activity];
}

// The App's toolkit. Its tasks hold the delegate weakly: the delegate owns the App.
- (void)connect {
  __weak Delegate* weak = self;
  Toolkit& kit = app->toolkit;
  kit.look = [] { NSApp.appearance = [NSAppearance appearanceNamed:NSAppearanceNameAqua]; };
  kit.build = [weak] {
    Delegate* strong = weak;
    if (strong != nil)
      strong->window = [[Window alloc] initWithApp:*strong->app];
  };
  kit.changed = [weak] {
    Delegate* strong = weak;
    if (strong != nil)
      [strong->window refresh];
  };
  // The main queue runs its blocks in the order they were queued, also while a menu is open.
  kit.dispatch = [](Toolkit::Task task) {
    dispatch_async(dispatch_get_main_queue(), ^{
      task();
    });
  };
  // The workspace's own notification center, not the process's, for sleep, the displays'
  // sleep and the session switched away; and the distributed center for the screen locked,
  // which the workspace does not tell when the displays stay on. Each block runs on the thread
  // that delivers its notification and only queues a command.
  kit.observe = [weak](Toolkit::Task task) {
    Delegate* strong = weak;
    if (strong == nil)
      return;
    NSNotificationCenter* workspace = NSWorkspace.sharedWorkspace.notificationCenter;
    NSNotificationCenter* distributed = NSDistributedNotificationCenter.defaultCenter;
    const std::pair<NSNotificationCenter*, NSNotificationName> observed[] = {
        {workspace, NSWorkspaceWillSleepNotification},
        {workspace, NSWorkspaceSessionDidResignActiveNotification},
        {workspace, NSWorkspaceScreensDidSleepNotification},
        {distributed, @"com.apple.screenIsLocked"},
    };
    for (const auto& [center, name] : observed) {
      [strong->observers addObject:[center addObserverForName:name
                                                       object:nil
                                                        queue:nil
                                                   usingBlock:^(NSNotification*) {
                                                     task();
                                                   }]];
    }
  };
  // While a pedal is captured, Quillfen works in the background of another application with
  // its window unchanged, which is what App Nap waits for; a napping process's timers slip and
  // its threads run late. A user-initiated activity keeps it out of App Nap ("Prevent App Nap",
  // Energy Efficiency Guide for Mac Apps), while the Mac may still sleep when idle, which stops
  // capture like any sleep; its timers need no more than that (no latency-critical activity).
  kit.awake = [weak](bool on) {
    Delegate* strong = weak;
    if (strong == nil)
      return;
    if (on && strong->activity == nil) {
      strong->activity = [NSProcessInfo.processInfo
          beginActivityWithOptions:NSActivityUserInitiatedAllowingIdleSystemSleep
                            reason:@"A foot pedal is captured; its presses and the recovery keys "
                                   @"are handled in the background."];
    } else if (!on && strong->activity != nil) {
      [NSProcessInfo.processInfo endActivity:strong->activity];
      strong->activity = nil;
    }
  };
  kit.every = [weak](double seconds, Toolkit::Task task) {
    Delegate* strong = weak;
    if (strong == nil)
      return;
    strong->timer = [NSTimer timerWithTimeInterval:seconds
                                           repeats:YES
                                             block:^(NSTimer*) {
                                               task();
                                             }];
    // In the common modes the heartbeat also beats while a pop-up's menu is open or the window
    // is being resized: the main thread is not stuck then, and capture must not end.
    [NSRunLoop.mainRunLoop addTimer:strong->timer forMode:NSRunLoopCommonModes];
  };
  kit.cancel = [weak] {
    Delegate* strong = weak;
    if (strong == nil)
      return;
    [strong->timer invalidate];
    strong->timer = nil;
  };
  kit.raise = [weak] {
    Delegate* strong = weak;
    if (strong != nil)
      [strong->window raise];
  };
  kit.after = [weak](double seconds, Toolkit::Task task) {
    const auto delay = static_cast<std::int64_t>(seconds * NSEC_PER_SEC);
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, delay), dispatch_get_main_queue(), ^{
      // The task belongs to the App, which goes with its delegate.
      if (weak != nil)
        task();
    });
  };
  kit.open = [](const std::filesystem::path& document) {
    NSURL* url = [NSURL fileURLWithPath:nsText(document.string())];
    return static_cast<bool>([NSWorkspace.sharedWorkspace openURL:url]);
  };
  kit.picture = [weak](const std::string& path) {
    Delegate* strong = weak;
    if (strong != nil)
      [strong->window picture:path];
  };
  kit.quit = [] { [NSApp terminate:nil]; };
}

- (void)applicationDidFinishLaunching:(NSNotification*)notification {
  try {
    app->launch();
  } catch (const std::system_error& error) {
    // No worker thread (a process or thread limit, little address space): nothing can be
    // captured, and the program says so and ends.
    std::fprintf(stderr, "quillfen: cannot start the capture thread (%s); nothing was captured.\n",
                 error.code().message().c_str());
    app->terminate();
    std::exit(1);
  }
}

- (BOOL)applicationShouldTerminateAfterLastWindowClosed:(NSApplication*)sender {
  return YES;
}

// Said outright, so that macOS 14 and later print no warning about it at launch.
- (BOOL)applicationSupportsSecureRestorableState:(NSApplication*)sender {
  return YES;
}

// Every way out passes here: the window closed, a quit request, the startup check's end, and
// SIGTERM, SIGINT and SIGHUP (main.mm).
- (void)applicationWillTerminate:(NSNotification*)notification {
  app->terminate();
}

@end
