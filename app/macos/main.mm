// The window application on AppKit: the application object, its delegate, the signals that end
// it, and its event loop.

#import "app/macos/delegate.h"

#include <csignal>

namespace {

// The one delegate; this reference keeps it, and the App it owns, for the life of the process.
Delegate* delegate = nil;
// The dispatch sources that turn SIGTERM, SIGINT and SIGHUP into a quit on the main thread.
NSMutableArray<dispatch_source_t>* signals = nil;

// The signals quit the application like every other way out, so the termination steps release
// the pedal before the process ends.
void watchSignals() {
  signals = [NSMutableArray array];
  for (int number : {SIGTERM, SIGINT, SIGHUP}) {
    // The signal's default action would end the process at once; its source sees it all the same.
    std::signal(number, SIG_IGN);
    dispatch_source_t source = dispatch_source_create(
        DISPATCH_SOURCE_TYPE_SIGNAL, static_cast<uintptr_t>(number), 0, dispatch_get_main_queue());
    dispatch_source_set_event_handler(source, ^{
      [NSApp terminate:nil];
    });
    dispatch_resume(source);
    [signals addObject:source];
  }
}

}  // namespace

int runWindow(int argc, char** argv) {
  @autoreleasepool {
    std::vector<std::string> arguments(argv, argv + argc);
    NSApplication* application = [NSApplication sharedApplication];
    NSString* executable = NSBundle.mainBundle.executablePath;
    const std::filesystem::path folder =
        executable != nil ? std::filesystem::path(executable.fileSystemRepresentation).parent_path()
                          : std::filesystem::path();
    delegate = [[Delegate alloc] initWithArguments:std::move(arguments) folder:folder];
    application.delegate = delegate;
    // A regular application with a Dock icon; it builds no menu bar of its own.
    [application setActivationPolicy:NSApplicationActivationPolicyRegular];
    watchSignals();
    [application run];
  }
  return 0;
}
