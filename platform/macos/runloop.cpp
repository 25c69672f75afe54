// Core Foundation run loops: the worker's own loop, run in the default mode; and the autorelease
// pools of the Objective-C runtime, which the frameworks use on every thread.

#include "platform/macos/objects.h"

// The runtime's pool functions, which @autoreleasepool compiles to. No SDK header declares them;
// clang's documentation of automatic reference counting names them ("Runtime support").
extern "C" void* objc_autoreleasePoolPush(void);
extern "C" void objc_autoreleasePoolPop(void* pool);

namespace platform {

Pool::Pool() : token(objc_autoreleasePoolPush()) {}

Pool::~Pool() {
  objc_autoreleasePoolPop(token);
}

RunLoop runLoopGetCurrent() {
  return std::make_shared<RunLoopObject>(CFRunLoopGetCurrent());
}

int runLoopRunInMode(double seconds, bool returnAfterSourceHandled) {
  const CFRunLoopRunResult result =
      CFRunLoopRunInMode(kCFRunLoopDefaultMode, seconds, returnAfterSourceHandled);
  macos::unregisterDeferred();
  // A stop (`runLoopStop`) ends the wait early, as a timeout would.
  return result == kCFRunLoopRunStopped ? runTimedOut : static_cast<int>(result);
}

void runLoopStop(const RunLoop& runLoop) {
  if (runLoop)
    CFRunLoopStop(runLoop->loop.get());
}

// Input Monitoring, Accessibility and the keys held are asked of the system: nothing announces
// their changes on the worker's run loop.
bool statePolled() {
  return true;
}

void runLoopAddSource(const RunLoop& runLoop, const Source& source) {
  if (runLoop && source)
    CFRunLoopAddSource(runLoop->loop.get(), source->source.get(), kCFRunLoopDefaultMode);
}

void runLoopRemoveSource(const RunLoop& runLoop, const Source& source) {
  if (runLoop && source)
    CFRunLoopRemoveSource(runLoop->loop.get(), source->source.get(), kCFRunLoopDefaultMode);
}

}  // namespace platform
