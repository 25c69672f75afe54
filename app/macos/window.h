#pragma once

// The window: one scrolling column of widgets made from the App's rows. It forwards clicks,
// check-box and pop-up changes to the App and shows the App's state.

#import <AppKit/AppKit.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/app.h"

@interface Window : NSObject {
 @public
  NSWindow* window;
  NSTextField* status;
  NSMutableArray<NSPopUpButton*>* menus;  // the mapping pop-ups, in `controls` order
  NSPopUpButton* scope;
  NSButton* review;
  NSButton* verified;
  NSMutableDictionary<NSString*, NSButton*>* buttons;  // every push button, by its title
}

// Makes the window and its widgets from the rows of `app`, which must outlive the window.
- (instancetype)initWithApp:(App&)app;
// Every widget shows what the App holds.
- (void)refresh;
// Brings the window to the front and makes it key.
- (void)raise;
// Writes a PNG picture of the window's content to `path`; any failure writes nothing.
- (void)picture:(const std::string&)path;

// A push button was clicked: the App runs the action of its row.
- (void)clicked:(NSButton*)sender;
// A check box or a pop-up changed: the App learns its new state.
- (void)edited:(id)sender;

@end

// Text for AppKit from UTF-8 bytes; bytes that are not UTF-8 still give a text.
NSString* nsText(std::string_view words);
