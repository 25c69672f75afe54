// Compiles only when the framework double declares what the macOS SDK declares: after the SDK's
// headers, platform/frameworks/apple.h in its checking form declares every function, typedef and
// extern object again (a conflicting redeclaration does not compile) and asserts the value of every
// enumerator and constant.

#include <ApplicationServices/ApplicationServices.h>
#include <Carbon/Carbon.h>
#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOKitLib.h>
#include <IOKit/hid/IOHIDDevice.h>
#include <IOKit/hid/IOHIDManager.h>
#include <IOKit/hidsystem/IOHIDLib.h>
#include <time.h>

#ifndef DOUBLE_PROBE
#define QUILLFEN_DOUBLE_CHECK
#include "platform/frameworks/apple.h"
#else
// The probe: one constant that is not the SDK's must not compile.
#define kCGEventSourceUserData 41
#define QUILLFEN_DOUBLE_CHECK
#include "platform/frameworks/apple.h"
#endif
