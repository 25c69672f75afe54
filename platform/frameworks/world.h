#pragma once

// The framework double's world: the objects behind Core Foundation, IOKit and Quartz references,
// the hardware they stand for, and the rules Apple's frameworks follow, each checked where it
// applies. A broken rule is a fault: the double says which and aborts, so the test fails there.
//
// One mutex guards the world and every object's fields; it is never held while a callback of the
// program runs. Reference counts are atomic. A released object keeps its memory until the world
// is reset (a zombie), so a late release or use of it is caught rather than undefined.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/frameworks/apple.h"
#include "platform/sim/sim.h"
#include "platform/sim/state.h"

namespace frameworks {

enum class Kind {
  string,
  number,
  boolean,
  dictionary,
  set,
  runLoop,
  source,
  port,
  manager,
  device,
  event
};

// What every reference of the double points to.
struct Object {
  explicit Object(Kind kind) : kind(kind) {}
  Kind kind;
  std::atomic<long> count{1};     // Create and Copy give the caller one (Apple's ownership rule)
  bool immortal = false;          // the frameworks' constants ignore retain and release
  std::atomic<bool> dead{false};  // released for good; kept as a zombie until reset
  void (*finalize)(Object&) = nullptr;  // releases what the object holds
};

struct String : Object {
  String() : Object(Kind::string) {}
  std::string text;
};

struct Number : Object {
  Number() : Object(Kind::number) {}
  std::int64_t value = 0;
};

struct Dictionary : Object {
  Dictionary() : Object(Kind::dictionary) {}
  std::vector<std::pair<const Object*, const Object*>> entries;  // retained
};

struct Set : Object {
  Set() : Object(Kind::set) {}
  std::vector<const Object*> members;  // retained
};

// A piece of work handed to a run loop for one of its sources.
struct Work {
  const Object* source;
  std::function<void()> run;
};

struct RunLoop : Object {
  RunLoop() : Object(Kind::runLoop) {}
  std::thread::id thread;
  std::atomic<bool> ended{false};  // its thread has ended
  std::mutex mutex;                // guards `pending`, `running` and `stopped`
  std::condition_variable wake;
  std::deque<Work> pending;
  bool running = false;             // inside CFRunLoopRunInMode
  bool stopped = false;             // CFRunLoopStop came during this run
  std::set<const Object*> sources;  // managers, devices and run-loop sources (world mutex)
};

struct Port;

// The run-loop source of a tap's mach port.
struct Source : Object {
  Source() : Object(Kind::source) {}
  Port* port = nullptr;  // retained
  RunLoop* loop = nullptr;
};

// A mouse event tap's mach port.
struct Port : Object {
  Port() : Object(Kind::port) {}
  CGEventMask mask = 0;
  CGEventTapCallBack callback = nullptr;
  void* userInfo = nullptr;
  bool enabled = true;
  bool valid = true;
  Source* source = nullptr;  // not retained: the source retains the port
};

// A piece of hardware: one HID service. Not a Core Foundation object; IOKit names it by a port.
struct Service {
  io_service_t port = 0;
  std::map<std::string, const Object*> values;  // the service's properties, held by the world
  bool present = true;
  const Object* opener = nullptr;  // the device reference that holds it open
};

struct Device;

struct Manager : Object {
  Manager() : Object(Kind::manager) {}
  const Dictionary* matching = nullptr;  // retained
  bool matched = false;                  // matching was set: arrivals and removals are followed
  bool enumerated = false;       // a device was found once: the device set exists from then on
  std::vector<Device*> devices;  // retained
  RunLoop* loop = nullptr;
  std::vector<std::function<void()>> queued;  // notifications waiting for a run loop
};

// One registration of the input-report callback set: equal when the context is (IOKitUser,
// IOHIDDevice.c, __IOHIDDeviceCallbackBaseDataIsEqual).
struct Registration {
  void* context;
  IOHIDReportCallback callback;
};

struct Device : Object {
  Device() : Object(Kind::device) {}
  std::shared_ptr<Service> service;  // open while its opener is this device
  RunLoop* loop = nullptr;
  std::vector<Registration> callbacks;
  bool applying = false;  // the callbacks are being called for a report
  std::uint8_t* buffer = nullptr;
  CFIndex length = 0;
};

struct Event : Object {
  Event() : Object(Kind::event) {}
  CGEventType type = kCGEventNull;
  CGKeyCode key = 0;
  std::int32_t wheel[3] = {0, 0, 0};
  std::map<CGEventField, std::int64_t> fields;
};

struct World {
  std::mutex& mutex = sim::state().mutex;  // the world's one mutex, shared with its plain state
  std::mutex registry;                     // guards `objects`; taken after `mutex` where both are
  std::vector<std::pair<Object*, void (*)(Object*)>> objects;  // every object, to free at reset
  std::map<std::uint64_t, std::shared_ptr<Service>> services;  // by registry ID
  std::uint64_t nextID = 0x100000A00;
  io_service_t nextPort = 0x1003;
  std::uint64_t checks = 0;  // round trips to the privacy service
};

World& world();

// Reports a broken rule and aborts.
[[noreturn]] void fault(const std::string& what);

// A new object of type T with one reference, known to the world.
template <class T>
T* make() {
  auto* object = new T();
  std::lock_guard hold(world().registry);
  world().objects.emplace_back(object, [](Object* o) { delete static_cast<T*>(o); });
  return object;
}

// The object behind a reference, checked to be alive and of the expected kind.
template <class T>
T& use(const void* ref, Kind kind, const char* what) {
  if (ref == nullptr)
    fault(std::string(what) + ": a null reference");
  auto* object = static_cast<T*>(static_cast<Object*>(const_cast<void*>(ref)));
  if (object->kind != kind)
    fault(std::string(what) + ": a reference of the wrong type");
  if (object->dead)
    fault(std::string(what) + ": a reference that was released for good");
  return *object;
}

void retain(const Object* object);
void release(const Object* object);

// The reference of type Ref that stands for `object`.
template <class Ref>
Ref reference(const Object* object) {
  return static_cast<Ref>(const_cast<void*>(static_cast<const void*>(object)));
}

// A new set holding `members`, each retained (kCFTypeSetCallBacks).
CFSetRef makeSet(const std::vector<const Object*>& members);

// The calling thread's run loop; created on first use, released when the thread ends.
RunLoop& currentLoop();
// Faults unless the calling thread is the one of the run loop `object` is scheduled on.
void onLoopThread(const RunLoop* loop, const char* what);
// Hands `work` to a run loop for `source`; it runs while that thread runs its loop.
void hand(RunLoop& loop, const Object* source, std::function<void()> work);
// Adds or removes one of a run loop's sources. Call with the world's mutex held.
void schedule(RunLoop& loop, const Object* source);
void unschedule(RunLoop& loop, const Object* source);
// The mode argument of every run-loop call: only the default mode is modelled.
void defaultMode(CFRunLoopMode mode, const char* what);

// Every live object of a kind. World mutex held.
std::vector<Object*> live(Kind kind);

// A string or number held by the world, for the properties of plugged devices.
const Object* worldString(const std::string& text);
const Object* worldNumber(std::int64_t value);
// Equal strings or numbers (the matching of a HID manager compares property values).
bool equal(const Object* a, const Object* b);

// The HID side of the controls: plugging and unplugging, delivery of reports.
void arrive(const std::shared_ptr<Service>& service);
void leave(const std::shared_ptr<Service>& service);

}  // namespace frameworks
