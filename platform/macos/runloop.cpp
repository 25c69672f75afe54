// Core Foundation run loops: the worker's own loop, run in the default mode.

#include "platform/macos/objects.h"

namespace platform {

RunLoop runLoopGetCurrent() {
  return std::make_shared<RunLoopObject>(CFRunLoopGetCurrent());
}

int runLoopRunInMode(double seconds, bool returnAfterSourceHandled) {
  const CFRunLoopRunResult result =
      CFRunLoopRunInMode(kCFRunLoopDefaultMode, seconds, returnAfterSourceHandled);
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
