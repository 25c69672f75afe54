#import "app/macos/stack.h"

@implementation ContentStack

- (BOOL)isFlipped {
  return YES;
}

@end
