#pragma once

// The objects behind the seam's opaque handles on macOS, shared by the files that implement it.
// Each holds Core Foundation references of its own (created, or retained when they came from a
// Get function) and releases each exactly once, when the last handle goes. The backend creates,
// uses and drops every handle on its worker thread, so that is where they are released.

#include <CoreFoundation/CoreFoundation.h>
#include <CoreGraphics/CoreGraphics.h>
#include <IOKit/hid/IOHIDDevice.h>
#include <IOKit/hid/IOHIDManager.h>

#include "platform/platform.h"

namespace macos {

// One Core Foundation reference of ours, released exactly once; empty when null.
template <class Ref>
class Owned {
 public:
  Owned() = default;
  explicit Owned(Ref ref) : ref_(ref) {}
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Owned(Owned&& other) noexcept : ref_(other.ref_) { other.ref_ = nullptr; }
  ~Owned() {
    if (ref_ != nullptr)
      CFRelease(ref_);
  }
  Ref get() const { return ref_; }
  // Takes over `ref`; releases the reference held before.
  void adopt(Ref ref) {
    if (ref_ != nullptr)
      CFRelease(ref_);
    ref_ = ref;
  }

 private:
  Ref ref_ = nullptr;
};

// A reference of our own to what a Get function returned.
template <class Ref>
Ref retained(Ref ref) {
  if (ref != nullptr)
    CFRetain(ref);
  return ref;
}

// Removes the input-report registrations that were let go of while their device's report was
// being handed out; the worker calls it each time its run loop returns.
void unregisterDeferred();

}  // namespace macos

namespace platform {

struct RunLoopObject {
  explicit RunLoopObject(CFRunLoopRef loop) : loop(macos::retained(loop)) {}
  macos::Owned<CFRunLoopRef> loop;
};

struct ManagerObject {
  explicit ManagerObject(IOHIDManagerRef manager) : manager(manager) {}
  macos::Owned<IOHIDManagerRef> manager;
};

// One HID service. IOKit calls the input-report trampoline with this object as context; the
// trampoline hands the report to the program's callback, whose C type is not IOKit's (CFIndex is
// long, std::int64_t long long).
struct DeviceObject {
  explicit DeviceObject(IOHIDDeviceRef device) : device(macos::retained(device)) {}
  // A device still open when its last handle goes is closed first: nothing stays seized.
  ~DeviceObject();

  macos::Owned<IOHIDDeviceRef> device;
  InputReportCallback callback = nullptr;
  void* context = nullptr;
  std::uint8_t* report = nullptr;  // the buffer given with the callback
  CFIndex length = 0;
  macos::Owned<CFRunLoopRef> scheduled;  // the run loop the device is scheduled on, if any
  bool open = false;
};

// A mouse event tap. Quartz calls the tap trampoline with this object as user info; the
// trampoline wraps the event for the program's callback and unwraps its answer.
struct TapObject {
  TapObject(TapCallback callback, void* userInfo) : callback(callback), userInfo(userInfo) {}
  // A tap not yet invalidated when its last handle goes is invalidated first, so Quartz never
  // calls the trampoline with a freed object.
  ~TapObject();

  macos::Owned<CFMachPortRef> port;
  TapCallback callback;
  void* userInfo;
  bool invalidated = false;
};

struct SourceObject {
  explicit SourceObject(CFRunLoopSourceRef source) : source(source) {}
  macos::Owned<CFRunLoopSourceRef> source;
};

// An event: one the program created (released with its last handle), or one a tap sees, wrapped
// for the length of one callback without a reference of its own.
struct EventObject {
  CGEventRef event;
};

}  // namespace platform
