// The run loop, the posting permissions, key and button state, synthesized events and the clock
// of the seam on Linux.

#include <linux/input.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <optional>
#include <vector>

#include "platform/linux/inputs.h"
#include "platform/linux/keys.h"
#include "platform/linux/objects.h"
#include "platform/linux/uinput.h"

namespace platform {

namespace {

// The program's one virtual device for keys and scrolls, made when first needed.
std::optional<linuxplatform::Virtual>& poster() {
  static std::optional<linuxplatform::Virtual> device;
  return device;
}

bool ensurePoster() {
  if (!poster())
    poster() = linuxplatform::createPoster();
  return poster().has_value();
}

// Events posted and not yet written: the events of one report (a key's down and up) go to the
// kernel in one write when the report has been handled.
std::vector<input_event>& pending() {
  static std::vector<input_event> events;
  return events;
}

input_event event(std::uint16_t type, std::uint16_t code, std::int32_t value) {
  input_event e{};
  e.type = type;
  e.code = code;
  e.value = value;
  return e;
}

}  // namespace

// ---- run loop

RunLoop runLoopGetCurrent() {
  linuxplatform::Loop& loop = linuxplatform::Loop::current();
  return std::make_shared<RunLoopObject>(RunLoopObject{&loop, loop.waker()});
}

void runLoopStop(const RunLoop& runLoop) {
  if (runLoop)
    linuxplatform::Loop::stop(runLoop->waker);
}

int runLoopRunInMode(double seconds, bool returnAfterSourceHandled) {
  linuxplatform::flushPosted();
  switch (linuxplatform::Loop::current().run(seconds, returnAfterSourceHandled)) {
    case linuxplatform::Loop::Result::finished:
      return runFinished;
    case linuxplatform::Loop::Result::handled:
      return runHandledSource;
    case linuxplatform::Loop::Result::timedOut:
      break;
  }
  return runTimedOut;
}

// Linux has no autorelease pools.
Pool::Pool() : token(nullptr) {}

Pool::~Pool() = default;

// ---- permissions: posting is writing to uinput

bool preflightPostEventAccess() {
  // Posting needs our virtual device. Making it as soon as posting is asked about (at activation)
  // gives the desktop time to take it up before the first press arrives.
  return linuxplatform::uinputWritable() && ensurePoster();
}

bool isProcessTrusted() {
  return linuxplatform::uinputWritable();
}

void isProcessTrustedWithPrompt() {}

// ---- key, modifier and button state

bool keyState(int, std::uint16_t key) {
  const auto code = linuxplatform::evdevKey(key);
  return code && linuxplatform::Inputs::instance().down(*code);
}

std::uint64_t flagsState(int) {
  return linuxplatform::Inputs::instance().flags();
}

bool buttonState(int, std::uint32_t button) {
  const auto code = linuxplatform::evdevButton(button);
  return code && linuxplatform::Inputs::instance().down(*code);
}

// ---- synthesized events

Event createKeyboardEvent(std::uint16_t key, bool down) {
  const auto code = linuxplatform::evdevKey(key);
  if (!code || *code == KEY_F12)  // F12 is read, never posted
    return nullptr;
  auto made = std::make_shared<EventObject>();
  made->kind = EventObject::Kind::key;
  made->code = *code;
  made->down = down;
  return made;
}

Event createScrollWheelEvent(int units, std::uint32_t wheelCount, std::int32_t wheel1,
                             std::int32_t wheel2, std::int32_t wheel3) {
  if (wheelCount < 1 || wheelCount > 3)
    return nullptr;
  auto made = std::make_shared<EventObject>();
  made->kind = EventObject::Kind::scroll;
  made->units = units;
  made->wheel[0] = wheel1;
  made->wheel[1] = wheelCount > 1 ? wheel2 : 0;
  made->wheel[2] = wheelCount > 2 ? wheel3 : 0;
  return made;
}

void setIntegerValueField(EventObject* event, int field, std::int64_t value) {
  if (!event)
    return;
  if (field == fieldUserData)
    event->userData = value;
  else if (field == fieldButtonNumber)
    event->button = value;
}

std::int64_t getIntegerValueField(EventObject* event, int field) {
  if (!event)
    return 0;
  if (field == fieldUserData)
    return event->userData;
  if (field == fieldButtonNumber)
    return event->button;
  return 0;
}

void post(int, const Event& posted) {
  if (!posted || !ensurePoster())
    return;
  input_event events[3];
  std::size_t count = 0;
  if (posted->kind == EventObject::Kind::key) {
    events[count++] = event(EV_KEY, posted->code, posted->down ? 1 : 0);
  } else if (posted->kind == EventObject::Kind::scroll) {
    // Desktops scroll three lines per wheel detent; high-resolution wheels count 120 a detent.
    const std::int32_t lines = posted->wheel[0];
    const std::int32_t hiRes = posted->units == scrollUnitLine ? lines * 40 : lines;
    if (hiRes / 120 != 0)
      events[count++] = event(EV_REL, REL_WHEEL, hiRes / 120);
    if (hiRes != 0)
      events[count++] = event(EV_REL, REL_WHEEL_HI_RES, hiRes);
  } else {
    return;
  }
  events[count++] = event(EV_SYN, SYN_REPORT, 0);
  pending().insert(pending().end(), events, events + count);
}

// ---- clock

double uptime() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace platform

void linuxplatform::flushPosted() {
  auto& events = platform::pending();
  if (!events.empty() && platform::poster())
    emit(*platform::poster(), events.data(), events.size());
  events.clear();
}
