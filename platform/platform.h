#pragma once

// The seam between the capture backend and the operating system: HID enumeration and seizing,
// the worker's run loop, permissions, key and button state, synthesized events and the mouse
// event tap. One library implements it (sim, linux or macos); which one is chosen at link time.
//
// Names, argument order and results follow the macOS services they stand for, so key codes,
// modifier flags, button numbers, event types and field numbers here are the macOS values; other
// implementations translate them. Every function is called on the backend's worker thread, except
// `uptime`, `runLoopStop`, `requestListenEventAccess`, `isProcessTrustedWithPrompt` and
// `accessReport`, which any thread may call.

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace platform {

// Opaque handles. Each owns its resource: the resource is released with the last copy of the
// handle. An empty handle means "none".
struct ManagerObject;  // enumerates the HID services of one vendor and product
struct DeviceObject;   // one HID service
struct RunLoopObject;  // a thread's run loop
struct TapObject;      // a mouse event tap
struct SourceObject;   // the run-loop source of a tap
struct EventObject;    // an input event, synthesized or seen by a tap

using Manager = std::shared_ptr<ManagerObject>;
using Device = std::shared_ptr<DeviceObject>;
using RunLoop = std::shared_ptr<RunLoopObject>;
using Tap = std::shared_ptr<TapObject>;
using Source = std::shared_ptr<SourceObject>;
using Event = std::shared_ptr<EventObject>;

// ---- results and constants

using Return = std::int32_t;  // an IOKit return code
inline constexpr Return success = 0;
inline constexpr Return exclusiveAccess = static_cast<Return>(0xE00002C5u);  // held by another
inline constexpr Return notPermitted = static_cast<Return>(0xE00002E2u);
inline constexpr Return noDevice = static_cast<Return>(0xE00002C0u);  // the device is gone

inline constexpr std::uint32_t seizeDevice = 1;  // exclusive-open option

// Results of `runLoopRunInMode`.
inline constexpr int runFinished = 1;  // no sources or timers at all
inline constexpr int runTimedOut = 3;
inline constexpr int runHandledSource = 4;

inline constexpr int combinedSessionState = 0;  // event-source state for key and button queries

// Modifier flag bits.
inline constexpr std::uint64_t flagShift = 0x20000;
inline constexpr std::uint64_t flagControl = 0x40000;
inline constexpr std::uint64_t flagOption = 0x80000;
inline constexpr std::uint64_t flagCommand = 0x100000;

// Virtual key codes used by the program.
inline constexpr std::uint16_t keyF12 = 111;

// Event types.
inline constexpr std::uint32_t leftMouseDown = 1;
inline constexpr std::uint32_t leftMouseUp = 2;
inline constexpr std::uint32_t rightMouseDown = 3;
inline constexpr std::uint32_t rightMouseUp = 4;
inline constexpr std::uint32_t keyDown = 10;
inline constexpr std::uint32_t keyUp = 11;
inline constexpr std::uint32_t scrollWheel = 22;
inline constexpr std::uint32_t otherMouseDown = 25;
inline constexpr std::uint32_t otherMouseUp = 26;
inline constexpr std::uint32_t tapDisabledByTimeout = 0xFFFFFFFE;
inline constexpr std::uint32_t tapDisabledByUserInput = 0xFFFFFFFF;

// Event fields.
inline constexpr int fieldButtonNumber = 3;
inline constexpr int fieldUserData = 42;

// Event tap placement.
inline constexpr int sessionEventTap = 1;  // location: the login session
inline constexpr int headInsertEventTap = 0;
inline constexpr int tapOptionDefault = 0;  // an active filter that may drop events

inline constexpr int scrollUnitLine = 1;

// ---- callbacks, in the C form: a function pointer and an unretained context

// Called on the run loop the device is scheduled on, once per input report, with the report
// written into the buffer given at registration. `sender` and `type` carry no meaning the program
// uses.
using InputReportCallback = void (*)(void* context, Return result, void* sender, std::uint32_t type,
                                     std::uint32_t reportID, std::uint8_t* report,
                                     std::int64_t length);

// Called on the run loop the tap's source is added to, for each event of interest and when the
// tap is disabled. Returns `event` to let it pass, or nullptr to drop it. `proxy` is opaque.
using TapCallback = EventObject* (*)(void* proxy, std::uint32_t type, EventObject* event,
                                     void* userInfo);

// ---- HID manager

// A manager with no device matching yet, or none on failure.
Manager managerCreate(std::uint32_t options);
// From now on the manager's device set holds every HID service of this vendor and product.
void managerSetDeviceMatching(const Manager& manager, std::int64_t vendorID,
                              std::int64_t productID);
// The manager follows devices arriving and leaving while that run loop runs.
void managerScheduleWithRunLoop(const Manager& manager, const RunLoop& runLoop);
void managerUnscheduleFromRunLoop(const Manager& manager, const RunLoop& runLoop);
void managerClose(const Manager& manager, std::uint32_t options);
// The matching services present now; empty when there are none or the query fails, and for an
// empty manager.
std::vector<Device> managerCopyDevices(const Manager& manager);

// ---- HID device

// A device property: absent, a text or a number.
using Property = std::variant<std::monostate, std::string, std::int64_t>;

// "Transport", "MaxInputReportSize" or "Product" (other keys may be absent).
Property deviceGetProperty(const Device& device, const std::string& key);
// The registry entry ID of the device's service; 0 when the query fails.
std::uint64_t deviceRegistryEntryID(const Device& device);
// `success` when the device was opened (with `seizeDevice`: exclusively); anything else refuses.
Return deviceOpen(const Device& device, std::uint32_t options);
Return deviceClose(const Device& device, std::uint32_t options);
// Each input report is written into `report` (at most `length` bytes) and handed to `callback`
// with `context`. A null callback removes the registration.
void deviceRegisterInputReportCallback(const Device& device, std::uint8_t* report,
                                       std::int64_t length, InputReportCallback callback,
                                       void* context);
void deviceScheduleWithRunLoop(const Device& device, const RunLoop& runLoop);
void deviceUnscheduleFromRunLoop(const Device& device, const RunLoop& runLoop);

// ---- run loop

// The calling thread's run loop.
RunLoop runLoopGetCurrent();
// Runs the calling thread's run loop in the default mode for at most `seconds`; with
// `returnAfterSourceHandled` it returns after the first handled source. Returns `runTimedOut`,
// `runHandledSource` or `runFinished`.
int runLoopRunInMode(double seconds, bool returnAfterSourceHandled);
void runLoopAddSource(const RunLoop& runLoop, const Source& source);
void runLoopRemoveSource(const RunLoop& runLoop, const Source& source);
// Any thread: makes the loop's current run return at once (`runTimedOut` or `runHandledSource`).
// On Linux and the simulated platform a stop that comes while the loop is not running makes its
// next run return at once; on macOS it is lost, as CFRunLoopStop's is.
void runLoopStop(const RunLoop& runLoop);
// Whether the state the worker watches (the permissions, the devices present, the keys held) must
// be polled: true where some change of it ends no run of the loop by itself. Where false, every
// such change is a source of the worker's run loop.
bool statePolled();

// An autorelease pool for the life of the object, made and ended on one thread: what the
// platform's frameworks autorelease meanwhile is released when it ends. The worker holds one for
// each pass, so nothing accumulates while it runs. Nothing on a platform without such pools.
class Pool {
 public:
  Pool();
  ~Pool();
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

 private:
  void* token;
};

// ---- permissions

bool preflightListenEventAccess();  // the process may monitor input
bool preflightPostEventAccess();    // the process may post events
bool isProcessTrusted();            // the process is trusted for Accessibility
// Ask the user for Input Monitoring, and for Accessibility with the system's prompt. Results are
// ignored by the program.
void requestListenEventAccess();
void isProcessTrustedWithPrompt();
// Where the system cannot ask the user, what the program may have of the devices it needs and how
// to give it the rest, in plain words for the Permissions window; empty where the requests above
// ask the user. Any thread.
std::string accessReport();

// ---- key, modifier and button state

bool keyState(int stateID, std::uint16_t key);
std::uint64_t flagsState(int stateID);
bool buttonState(int stateID, std::uint32_t button);

// ---- synthesized events

// A key event with no event source and no modifier flags, or none on failure.
Event createKeyboardEvent(std::uint16_t key, bool down);
// A scroll-wheel event with no event source, or none on failure.
Event createScrollWheelEvent(int units, std::uint32_t wheelCount, std::int32_t wheel1,
                             std::int32_t wheel2, std::int32_t wheel3);
void setIntegerValueField(EventObject* event, int field, std::int64_t value);
std::int64_t getIntegerValueField(EventObject* event, int field);
// Posts the event into the event stream at the tap location (`sessionEventTap`).
void post(int location, const Event& event);

// ---- mouse event tap

// A tap on the event types whose bits are set in `mask`, or none when refused. The tap starts
// enabled but sees nothing until its source is added to a run loop.
Tap tapCreate(int location, int placement, int options, std::uint64_t mask, TapCallback callback,
              void* userInfo);
// The tap's run-loop source (one per tap), or none on failure.
Source tapCreateRunLoopSource(const Tap& tap, std::int64_t order);
void tapEnable(const Tap& tap, bool enable);
// The tap is dead for good: it sees no further events.
void tapInvalidate(const Tap& tap);

// ---- clock

// System uptime in seconds, monotonic. The backend installs it as the source of `milliseconds`.
double uptime();

}  // namespace platform
