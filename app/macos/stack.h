#pragma once

#import <AppKit/AppKit.h>

// The window's one column: a vertical stack view that lays its rows out from the top of the
// scroll view downwards, because it is flipped.
@interface ContentStack : NSStackView
@end
