// The seam's constants are the macOS values; here each is compared with the SDK's own name for
// it, so a wrong value cannot build.

#include <ApplicationServices/ApplicationServices.h>
#include <Carbon/Carbon.h>
#include <IOKit/IOReturn.h>
#include <IOKit/hid/IOHIDKeys.h>

#include <string_view>

#include "platform/platform.h"

namespace platform {

static_assert(success == kIOReturnSuccess);
static_assert(exclusiveAccess == kIOReturnExclusiveAccess);
static_assert(notPermitted == kIOReturnNotPermitted);
static_assert(noDevice == kIOReturnNoDevice);
static_assert(seizeDevice == kIOHIDOptionsTypeSeizeDevice);

static_assert(runFinished == kCFRunLoopRunFinished);
static_assert(runTimedOut == kCFRunLoopRunTimedOut);
static_assert(runHandledSource == kCFRunLoopRunHandledSource);

static_assert(combinedSessionState == kCGEventSourceStateCombinedSessionState);

static_assert(flagShift == kCGEventFlagMaskShift);
static_assert(flagControl == kCGEventFlagMaskControl);
static_assert(flagOption == kCGEventFlagMaskAlternate);
static_assert(flagCommand == kCGEventFlagMaskCommand);

static_assert(keyF12 == kVK_F12);

static_assert(leftMouseDown == kCGEventLeftMouseDown);
static_assert(leftMouseUp == kCGEventLeftMouseUp);
static_assert(rightMouseDown == kCGEventRightMouseDown);
static_assert(rightMouseUp == kCGEventRightMouseUp);
static_assert(keyDown == kCGEventKeyDown);
static_assert(keyUp == kCGEventKeyUp);
static_assert(scrollWheel == kCGEventScrollWheel);
static_assert(otherMouseDown == kCGEventOtherMouseDown);
static_assert(otherMouseUp == kCGEventOtherMouseUp);
static_assert(tapDisabledByTimeout == kCGEventTapDisabledByTimeout);
static_assert(tapDisabledByUserInput == kCGEventTapDisabledByUserInput);

static_assert(fieldButtonNumber == kCGMouseEventButtonNumber);
static_assert(fieldUserData == kCGEventSourceUserData);

static_assert(sessionEventTap == kCGSessionEventTap);
static_assert(headInsertEventTap == kCGHeadInsertEventTap);
static_assert(tapOptionDefault == kCGEventTapOptionDefault);
static_assert(scrollUnitLine == kCGScrollEventUnitLine);

// The property and matching keys the backend and the manager name.
static_assert(std::string_view(kIOHIDTransportKey) == "Transport");
static_assert(std::string_view(kIOHIDMaxInputReportSizeKey) == "MaxInputReportSize");
static_assert(std::string_view(kIOHIDProductKey) == "Product");
static_assert(std::string_view(kIOHIDVendorIDKey) == "VendorID");
static_assert(std::string_view(kIOHIDProductIDKey) == "ProductID");

}  // namespace platform
