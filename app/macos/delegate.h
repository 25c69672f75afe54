#pragma once

// The AppKit front end's application delegate. It owns the window core (the C++ class App) and
// the window, runs the App's launch and termination, and gives the App AppKit's timer, the main
// dispatch queue and the workspace's notifications.

#import <AppKit/AppKit.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/app.h"

@class Window;

@interface Delegate : NSObject <NSApplicationDelegate> {
 @public
  std::unique_ptr<App> app;
  Window* window;  // the window and its controls, once the App's launch has built them
  NSTimer* timer;
  NSMutableArray<id<NSObject>>* observers;  // of the workspace's and the distributed centers
  id<NSObject> activity;                    // held while a pedal is captured: no App Nap
}

// `arguments`: the command line, the program path included. `folder`: the folder of the
// program's executable, where the guide is looked for.
- (instancetype)initWithArguments:(std::vector<std::string>)arguments
                           folder:(std::filesystem::path)folder;

@end
