// Must not compile: NSOnState is deprecated since macOS 10.14, for NSControlStateValueOn.
#import <AppKit/AppKit.h>

int main() {
  return static_cast<int>(NSOnState);
}
