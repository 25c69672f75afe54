#pragma once

// The part of Apple's frameworks that platform/macos calls, declared as the macOS SDK declares it,
// so that the same source files compile on Linux against the double in this folder. Only what
// platform/macos uses is here: Core Foundation's objects, strings, numbers, dictionaries, sets,
// run loops and mach-port sources; IOKit's HID manager and device, registry IDs, return codes and
// access checks; Quartz event services (state, events, posting, taps, permissions); the
// Accessibility trust checks; one key code of Carbon; and Darwin's uptime clock.
//
// With QUILLFEN_DOUBLE_CHECK defined, after the SDK's own headers, the same file becomes the check
// that every declaration here is the SDK's: functions, typedefs and extern objects are declared
// again (the compiler refuses a conflicting redeclaration), and each enumerator and constant
// becomes a static_assert of its value. The macOS cross build compiles that check.

#include <cstdint>
#include <ctime>
#include <type_traits>

// An enumeration: `list(X)` names each enumerator with X(name, value).
#ifndef QUILLFEN_DOUBLE_CHECK
#define DOUBLE_NAMED_ENUM(type, name, list)     \
  enum name : type { list(DOUBLE_ENUMERATOR) }; \
  typedef enum name name;
#define DOUBLE_ENUM(type, list) enum : type { list(DOUBLE_ENUMERATOR) };
#define DOUBLE_TYPEDEF_ENUM(name, list) typedef enum { list(DOUBLE_ENUMERATOR) } name;
#define DOUBLE_ENUMERATOR(name, value) name = value,
#define DOUBLE_CONSTANT(type, name, value) constexpr type name = static_cast<type>(value);
#else
#define DOUBLE_NAMED_ENUM(type, name, list) \
  enum name : type;                         \
  list(DOUBLE_VALUE)
#define DOUBLE_ENUM(type, list) list(DOUBLE_VALUE)
#define DOUBLE_TYPEDEF_ENUM(name, list) \
  static_assert(std::is_enum_v<name>);  \
  list(DOUBLE_VALUE)
#define DOUBLE_VALUE(name, value) static_assert(name == value, #name);
#define DOUBLE_CONSTANT(type, name, value) \
  static_assert(static_cast<type>(name) == static_cast<type>(value), #name);
#endif

// ---- Core Foundation (CFBase.h, CFString.h, CFNumber.h, CFDictionary.h, CFSet.h, CFRunLoop.h,
// CFMachPort.h)

typedef unsigned char Boolean;
typedef unsigned char UInt8;
typedef unsigned int UInt32;
typedef signed int SInt32;
typedef unsigned long CFTypeID;
typedef unsigned long CFOptionFlags;
typedef unsigned long CFHashCode;
typedef signed long CFIndex;
typedef double CFTimeInterval;
typedef const void* CFTypeRef;
typedef const struct __CFString* CFStringRef;
typedef const struct __CFAllocator* CFAllocatorRef;
typedef const struct __CFBoolean* CFBooleanRef;
typedef const struct __CFNumber* CFNumberRef;
typedef const struct __CFDictionary* CFDictionaryRef;
typedef const struct __CFSet* CFSetRef;
typedef struct __CFRunLoop* CFRunLoopRef;
typedef struct __CFRunLoopSource* CFRunLoopSourceRef;
typedef struct __CFMachPort* CFMachPortRef;
typedef CFStringRef CFRunLoopMode;
typedef UInt32 CFStringEncoding;

typedef const void* (*CFDictionaryRetainCallBack)(CFAllocatorRef allocator, const void* value);
typedef void (*CFDictionaryReleaseCallBack)(CFAllocatorRef allocator, const void* value);
typedef CFStringRef (*CFDictionaryCopyDescriptionCallBack)(const void* value);
typedef Boolean (*CFDictionaryEqualCallBack)(const void* value1, const void* value2);
typedef CFHashCode (*CFDictionaryHashCallBack)(const void* value);
#ifndef QUILLFEN_DOUBLE_CHECK
typedef struct {
  CFIndex version;
  CFDictionaryRetainCallBack retain;
  CFDictionaryReleaseCallBack release;
  CFDictionaryCopyDescriptionCallBack copyDescription;
  CFDictionaryEqualCallBack equal;
  CFDictionaryHashCallBack hash;
} CFDictionaryKeyCallBacks;
typedef struct {
  CFIndex version;
  CFDictionaryRetainCallBack retain;
  CFDictionaryReleaseCallBack release;
  CFDictionaryCopyDescriptionCallBack copyDescription;
  CFDictionaryEqualCallBack equal;
} CFDictionaryValueCallBacks;
#endif

// clang-format off
#define DOUBLE_RUN_RESULTS(X) \
  X(kCFRunLoopRunFinished, 1) \
  X(kCFRunLoopRunStopped, 2) \
  X(kCFRunLoopRunTimedOut, 3) \
  X(kCFRunLoopRunHandledSource, 4)
// clang-format on
DOUBLE_NAMED_ENUM(SInt32, CFRunLoopRunResult, DOUBLE_RUN_RESULTS)
// clang-format off
#define DOUBLE_NUMBER_TYPES(X) \
  X(kCFNumberSInt32Type, 3) \
  X(kCFNumberSInt64Type, 4)
// clang-format on
DOUBLE_NAMED_ENUM(CFIndex, CFNumberType, DOUBLE_NUMBER_TYPES)
// clang-format off
#define DOUBLE_ENCODINGS(X) \
  X(kCFStringEncodingUTF8, 0x08000100)
// clang-format on
DOUBLE_NAMED_ENUM(CFStringEncoding, CFStringBuiltInEncodings, DOUBLE_ENCODINGS)

extern "C" {
extern const CFAllocatorRef kCFAllocatorDefault;
extern const CFBooleanRef kCFBooleanTrue;
extern const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;
extern const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;
extern const CFRunLoopMode kCFRunLoopDefaultMode;

CFTypeRef CFRetain(CFTypeRef cf);
void CFRelease(CFTypeRef cf);
CFTypeID CFGetTypeID(CFTypeRef cf);

CFTypeID CFStringGetTypeID(void);
CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const UInt8* bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean isExternalRepresentation);
CFIndex CFStringGetLength(CFStringRef theString);
CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding);
Boolean CFStringGetCString(CFStringRef theString, char* buffer, CFIndex bufferSize,
                           CFStringEncoding encoding);

CFTypeID CFNumberGetTypeID(void);
CFNumberRef CFNumberCreate(CFAllocatorRef allocator, CFNumberType theType, const void* valuePtr);
Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType, void* valuePtr);

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef allocator, const void** keys, const void** values,
                                   CFIndex numValues, const CFDictionaryKeyCallBacks* keyCallBacks,
                                   const CFDictionaryValueCallBacks* valueCallBacks);

CFIndex CFSetGetCount(CFSetRef theSet);
void CFSetGetValues(CFSetRef theSet, const void** values);

CFRunLoopRef CFRunLoopGetCurrent(void);
CFRunLoopRunResult CFRunLoopRunInMode(CFRunLoopMode mode, CFTimeInterval seconds,
                                      Boolean returnAfterSourceHandled);
void CFRunLoopStop(CFRunLoopRef rl);
void CFRunLoopAddSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode);
void CFRunLoopRemoveSource(CFRunLoopRef rl, CFRunLoopSourceRef source, CFRunLoopMode mode);

CFRunLoopSourceRef CFMachPortCreateRunLoopSource(CFAllocatorRef allocator, CFMachPortRef port,
                                                 CFIndex order);
void CFMachPortInvalidate(CFMachPortRef port);
}

// ---- IOKit (IOTypes.h, IOReturn.h, IOKitLib.h, hid/IOHIDBase.h, hid/IOHIDKeys.h,
// hid/IOHIDDeviceKeys.h, hid/IOHIDDeviceTypes.h, hid/IOHIDDevice.h, hid/IOHIDManager.h,
// hidsystem/IOHIDLib.h)

typedef unsigned int mach_port_t;
typedef int kern_return_t;
typedef kern_return_t IOReturn;
typedef UInt32 IOOptionBits;
typedef mach_port_t io_object_t;
typedef io_object_t io_registry_entry_t;
typedef io_object_t io_service_t;
typedef struct __IOHIDDevice* IOHIDDeviceRef;
typedef struct __IOHIDManager* IOHIDManagerRef;

DOUBLE_CONSTANT(IOReturn, kIOReturnSuccess, 0)
DOUBLE_CONSTANT(IOReturn, kIOReturnNoDevice, 0xe00002c0u)
DOUBLE_CONSTANT(IOReturn, kIOReturnExclusiveAccess, 0xe00002c5u)
DOUBLE_CONSTANT(IOReturn, kIOReturnNotPermitted, 0xe00002e2u)
DOUBLE_CONSTANT(IOReturn, kIOReturnBadArgument, 0xe00002c2u)

// clang-format off
#define DOUBLE_OPEN_OPTIONS(X) \
  X(kIOHIDOptionsTypeNone, 0x00) \
  X(kIOHIDOptionsTypeSeizeDevice, 0x01)
// clang-format on
DOUBLE_ENUM(UInt32, DOUBLE_OPEN_OPTIONS)
typedef uint32_t IOHIDOptionsType;

#ifndef QUILLFEN_DOUBLE_CHECK
enum IOHIDReportType {
  kIOHIDReportTypeInput = 0,
  kIOHIDReportTypeOutput,
  kIOHIDReportTypeFeature,
  kIOHIDReportTypeCount
};
#else
static_assert(kIOHIDReportTypeInput == 0);
#endif
typedef enum IOHIDReportType IOHIDReportType;

// clang-format off
#define DOUBLE_REQUEST_TYPES(X) \
  X(kIOHIDRequestTypePostEvent, 0) \
  X(kIOHIDRequestTypeListenEvent, 1)
// clang-format on
DOUBLE_TYPEDEF_ENUM(IOHIDRequestType, DOUBLE_REQUEST_TYPES)
// clang-format off
#define DOUBLE_ACCESS_TYPES(X) \
  X(kIOHIDAccessTypeGranted, 0) \
  X(kIOHIDAccessTypeDenied, 1) \
  X(kIOHIDAccessTypeUnknown, 2)
// clang-format on
DOUBLE_TYPEDEF_ENUM(IOHIDAccessType, DOUBLE_ACCESS_TYPES)

#define kIOHIDTransportKey "Transport"
#define kIOHIDVendorIDKey "VendorID"
#define kIOHIDProductIDKey "ProductID"
#define kIOHIDProductKey "Product"
#define kIOHIDMaxInputReportSizeKey "MaxInputReportSize"

typedef void (*IOHIDReportCallback)(void* context, IOReturn result, void* sender,
                                    IOHIDReportType type, uint32_t reportID, uint8_t* report,
                                    CFIndex reportLength);

extern "C" {
kern_return_t IORegistryEntryGetRegistryEntryID(io_registry_entry_t entry, uint64_t* entryID);

IOHIDManagerRef IOHIDManagerCreate(CFAllocatorRef allocator, IOOptionBits options);
IOReturn IOHIDManagerClose(IOHIDManagerRef manager, IOOptionBits options);
void IOHIDManagerScheduleWithRunLoop(IOHIDManagerRef manager, CFRunLoopRef runLoop,
                                     CFStringRef runLoopMode);
void IOHIDManagerUnscheduleFromRunLoop(IOHIDManagerRef manager, CFRunLoopRef runLoop,
                                       CFStringRef runLoopMode);
void IOHIDManagerSetDeviceMatching(IOHIDManagerRef manager, CFDictionaryRef matching);
CFSetRef IOHIDManagerCopyDevices(IOHIDManagerRef manager);

io_service_t IOHIDDeviceGetService(IOHIDDeviceRef device);
IOReturn IOHIDDeviceOpen(IOHIDDeviceRef device, IOOptionBits options);
IOReturn IOHIDDeviceClose(IOHIDDeviceRef device, IOOptionBits options);
CFTypeRef IOHIDDeviceGetProperty(IOHIDDeviceRef device, CFStringRef key);
void IOHIDDeviceScheduleWithRunLoop(IOHIDDeviceRef device, CFRunLoopRef runLoop,
                                    CFStringRef runLoopMode);
void IOHIDDeviceUnscheduleFromRunLoop(IOHIDDeviceRef device, CFRunLoopRef runLoop,
                                      CFStringRef runLoopMode);
void IOHIDDeviceRegisterInputReportCallback(IOHIDDeviceRef device, uint8_t* report,
                                            CFIndex reportLength, IOHIDReportCallback callback,
                                            void* context);

IOHIDAccessType IOHIDCheckAccess(IOHIDRequestType requestType);
bool IOHIDRequestAccess(IOHIDRequestType requestType);
}

// ---- Quartz event services (CGEventTypes.h, CGEvent.h, CGEventSource.h, CGRemoteOperation.h)

typedef uint16_t CGKeyCode;
typedef uint64_t CGEventMask;
typedef uint64_t CGEventFlags;
typedef struct __CGEvent* CGEventRef;
typedef struct __CGEventSource* CGEventSourceRef;
typedef struct __CGEventTapProxy* CGEventTapProxy;

// clang-format off
#define DOUBLE_BUTTONS(X) \
  X(kCGMouseButtonLeft, 0) \
  X(kCGMouseButtonRight, 1) \
  X(kCGMouseButtonCenter, 2)
// clang-format on
DOUBLE_NAMED_ENUM(uint32_t, CGMouseButton, DOUBLE_BUTTONS)
// clang-format off
#define DOUBLE_SCROLL_UNITS(X) \
  X(kCGScrollEventUnitPixel, 0) \
  X(kCGScrollEventUnitLine, 1)
// clang-format on
DOUBLE_NAMED_ENUM(uint32_t, CGScrollEventUnit, DOUBLE_SCROLL_UNITS)
// clang-format off
#define DOUBLE_FLAGS(X) \
  X(kCGEventFlagMaskShift, 0x00020000) \
  X(kCGEventFlagMaskControl, 0x00040000) \
  X(kCGEventFlagMaskAlternate, 0x00080000) \
  X(kCGEventFlagMaskCommand, 0x00100000)
// clang-format on
DOUBLE_ENUM(CGEventFlags, DOUBLE_FLAGS)
// clang-format off
#define DOUBLE_EVENT_TYPES(X) \
  X(kCGEventNull, 0) \
  X(kCGEventLeftMouseDown, 1) \
  X(kCGEventLeftMouseUp, 2) \
  X(kCGEventRightMouseDown, 3) \
  X(kCGEventRightMouseUp, 4) \
  X(kCGEventKeyDown, 10) \
  X(kCGEventKeyUp, 11) \
  X(kCGEventScrollWheel, 22) \
  X(kCGEventOtherMouseDown, 25) \
  X(kCGEventOtherMouseUp, 26) \
  X(kCGEventTapDisabledByTimeout, 0xFFFFFFFE) \
  X(kCGEventTapDisabledByUserInput, 0xFFFFFFFF)
// clang-format on
DOUBLE_NAMED_ENUM(uint32_t, CGEventType, DOUBLE_EVENT_TYPES)
// clang-format off
#define DOUBLE_FIELDS(X) \
  X(kCGMouseEventButtonNumber, 3) \
  X(kCGEventSourceUserData, 42)
// clang-format on
DOUBLE_NAMED_ENUM(uint32_t, CGEventField, DOUBLE_FIELDS)
// clang-format off
#define DOUBLE_TAP_LOCATIONS(X) \
  X(kCGHIDEventTap, 0) \
  X(kCGSessionEventTap, 1) \
  X(kCGAnnotatedSessionEventTap, 2)
// clang-format on
DOUBLE_NAMED_ENUM(uint32_t, CGEventTapLocation, DOUBLE_TAP_LOCATIONS)
// clang-format off
#define DOUBLE_TAP_PLACEMENTS(X) \
  X(kCGHeadInsertEventTap, 0) \
  X(kCGTailAppendEventTap, 1)
// clang-format on
DOUBLE_NAMED_ENUM(uint32_t, CGEventTapPlacement, DOUBLE_TAP_PLACEMENTS)
// clang-format off
#define DOUBLE_TAP_OPTIONS(X) \
  X(kCGEventTapOptionDefault, 0) \
  X(kCGEventTapOptionListenOnly, 1)
// clang-format on
DOUBLE_NAMED_ENUM(uint32_t, CGEventTapOptions, DOUBLE_TAP_OPTIONS)
// clang-format off
#define DOUBLE_STATES(X) \
  X(kCGEventSourceStatePrivate, -1) \
  X(kCGEventSourceStateCombinedSessionState, 0) \
  X(kCGEventSourceStateHIDSystemState, 1)
// clang-format on
DOUBLE_NAMED_ENUM(int32_t, CGEventSourceStateID, DOUBLE_STATES)

typedef CGEventRef (*CGEventTapCallBack)(CGEventTapProxy proxy, CGEventType type, CGEventRef event,
                                         void* userInfo);

extern "C" {
bool CGPreflightListenEventAccess(void);
bool CGRequestListenEventAccess(void);
bool CGPreflightPostEventAccess(void);

bool CGEventSourceKeyState(CGEventSourceStateID stateID, CGKeyCode key);
CGEventFlags CGEventSourceFlagsState(CGEventSourceStateID stateID);
bool CGEventSourceButtonState(CGEventSourceStateID stateID, CGMouseButton button);

CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey, bool keyDown);
CGEventRef CGEventCreateScrollWheelEvent2(CGEventSourceRef source, CGScrollEventUnit units,
                                          uint32_t wheelCount, int32_t wheel1, int32_t wheel2,
                                          int32_t wheel3);
int64_t CGEventGetIntegerValueField(CGEventRef event, CGEventField field);
void CGEventSetIntegerValueField(CGEventRef event, CGEventField field, int64_t value);
void CGEventPost(CGEventTapLocation tap, CGEventRef event);

CFMachPortRef CGEventTapCreate(CGEventTapLocation tap, CGEventTapPlacement place,
                               CGEventTapOptions options, CGEventMask eventsOfInterest,
                               CGEventTapCallBack callback, void* userInfo);
void CGEventTapEnable(CFMachPortRef tap, bool enable);
}

// ---- Accessibility (HIServices' AXUIElement.h)

extern "C" {
extern CFStringRef kAXTrustedCheckOptionPrompt;
Boolean AXIsProcessTrusted(void);
Boolean AXIsProcessTrustedWithOptions(CFDictionaryRef options);
}

// ---- Carbon (HIToolbox's Events.h): the one key code the program names

#ifndef QUILLFEN_DOUBLE_CHECK
enum { kVK_F12 = 0x6F };
#else
static_assert(kVK_F12 == 0x6F);
#endif

// ---- Darwin's libc (time.h): the uptime clock

DOUBLE_CONSTANT(clockid_t, CLOCK_UPTIME_RAW, 8)
extern "C" uint64_t clock_gettime_nsec_np(clockid_t clock);
