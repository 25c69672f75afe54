// The mouse event tap of the seam on Linux: every pointing device (ours excluded) is grabbed with
// EVIOCGRAB and its events are forwarded to a uinput clone, except the button events the tap's
// callback drops. A device is grabbed only while none of its buttons is down, so the desktop
// never sees a press whose release it then misses.

#include <fcntl.h>
#include <linux/input.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "platform/linux/inputs.h"
#include "platform/linux/keys.h"
#include "platform/linux/objects.h"
#include "platform/linux/uinput.h"

namespace platform {

namespace {

std::int64_t nowMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

std::int64_t microseconds(const input_event& event) {
  return static_cast<std::int64_t>(event.input_event_sec) * 1000000 + event.input_event_usec;
}

// The mouse buttons of the device held down now.
std::vector<std::uint16_t> buttonsDown(int fd) {
  return linuxplatform::keysDown(fd, BTN_LEFT, BTN_TASK);
}

}  // namespace

struct Guarded;

struct TapObject : std::enable_shared_from_this<TapObject> {
  TapCallback callback = nullptr;
  void* userInfo = nullptr;
  std::uint64_t mask = 0;
  bool enabled = true;
  bool invalidated = false;

  linuxplatform::Loop* loop = nullptr;
  // Arrivals and departures are handled from the loop, by one deferred call at a time.
  std::uint64_t wake = 0;
  std::vector<std::pair<std::string, bool>> pending;  // (event node, arrived)
  std::map<std::string, std::unique_ptr<Guarded>> guarded;
  std::uint64_t generation = 0;  // changes whenever a guard is made or removed

  ~TapObject();
};

struct SourceObject {
  Tap tap;
};

struct Guarded {
  TapObject* tap = nullptr;
  std::string sysname;
  std::string devnode;
  linuxplatform::Opened source;  // the grabbed device; events are read here
  // A second descriptor for button state, whose queries discard nothing of `source`.
  linuxplatform::Opened state;
  linuxplatform::Virtual clone;
  bool grabbed = false;
  std::int64_t grabbedAt = 0;  // events stamped at or before this were seen by the desktop
  std::uint64_t watch = 0;
};

namespace {

void wakeReady(void* context, std::uint32_t);

void signal(TapObject& tap) {
  if (tap.loop && !tap.wake)
    tap.wake = tap.loop->defer(&wakeReady, &tap);
}

// Ends the grab. Its key events reach the program's state descriptor again.
void release(Guarded& guard) {
  ioctl(guard.source.get(), EVIOCGRAB, 0);
  linuxplatform::Inputs::instance().grab(guard.devnode, false);
}

void unguard(TapObject& tap, const std::string& sysname) {
  const auto found = tap.guarded.find(sysname);
  if (found == tap.guarded.end())
    return;
  Guarded& guard = *found->second;
  if (tap.loop && guard.watch)
    tap.loop->remove(guard.watch);
  if (guard.grabbed)
    release(guard);
  // Destroying the clone makes the kernel release whatever it still holds down.
  linuxplatform::destroy(guard.clone);
  tap.guarded.erase(found);
  ++tap.generation;
}

// Tells the callback that the tap no longer works, as a tap disabled by the system would.
void disable(TapObject& tap) {
  if (!tap.invalidated && tap.callback)
    tap.callback(nullptr, tapDisabledByUserInput, nullptr, tap.userInfo);
}

void fail(TapObject& tap, const std::string& sysname) {
  unguard(tap, sysname);
  disable(tap);
}

void forward(Guarded& guard, std::vector<input_event>& out) {
  if (!out.empty())
    linuxplatform::emit(guard.clone, out.data(), out.size());
  out.clear();
}

// Grabs the device unless one of its buttons is down. A button found down just after the grab
// may have been pressed before it, with the desktop waiting for a release it would then never
// see: the grab is undone and tried again with the device's next event. Returns false when the
// grab itself is refused.
bool tryGrab(Guarded& guard) {
  if (!buttonsDown(guard.state.get()).empty())
    return true;
  input_event discard[64];
  while (read(guard.source.get(), discard, sizeof discard) > 0) {
  }
  if (ioctl(guard.source.get(), EVIOCGRAB, 1) != 0)
    return false;
  const std::int64_t grabbedAt = nowMicroseconds();
  // While grabbed, the device's key events reach only `source`: a key of it is asked of the
  // kernel, not followed.
  linuxplatform::Inputs::instance().grab(guard.devnode, true);
  const auto down = buttonsDown(guard.state.get());
  if (!down.empty()) {
    release(guard);
    return true;
  }
  guard.grabbed = true;
  guard.grabbedAt = grabbedAt;
  return true;
}

void guardReady(void* context, std::uint32_t events) {
  Guarded& guard = *static_cast<Guarded*>(context);
  TapObject& tap = *guard.tap;
  const auto keep = tap.shared_from_this();
  input_event in[64];
  const ssize_t n = read(guard.source.get(), in, sizeof in);
  if (n < 0 && errno != EAGAIN && errno != EINTR) {
    fail(tap, guard.sysname);
    return;
  }
  if (n <= 0) {
    if (events & (EPOLLHUP | EPOLLERR))
      fail(tap, guard.sysname);
    return;
  }
  if (!guard.grabbed) {
    if (!tryGrab(guard))
      fail(tap, guard.sysname);
    return;
  }
  std::vector<input_event> out;
  const std::size_t count = static_cast<std::size_t>(n) / sizeof(input_event);
  for (std::size_t i = 0; i < count; ++i) {
    const input_event& event = in[i];
    // Events the desktop saw before the grab, and the kernel's notice of events dropped for a
    // full buffer, which means nothing to the clone, are not forwarded.
    if (microseconds(event) <= guard.grabbedAt ||
        (event.type == EV_SYN && event.code == SYN_DROPPED))
      continue;
    const auto button = event.type == EV_KEY ? linuxplatform::buttonNumber(event.code)
                                             : std::optional<std::uint32_t>();
    if (button && event.value != 2 && tap.enabled) {
      const std::uint32_t type = linuxplatform::mouseEventType(*button, event.value != 0);
      if (type < 64 && (tap.mask >> type & 1)) {
        forward(guard, out);
        EventObject seen;
        seen.kind = EventObject::Kind::mouse;
        seen.button = *button;
        seen.down = event.value != 0;
        const std::uint64_t generation = tap.generation;
        const bool pass = tap.callback(nullptr, type, &seen, tap.userInfo) != nullptr;
        if (tap.generation != generation || !tap.loop)
          return;  // the callback removed the guard
        if (!pass)
          continue;
      }
    }
    out.push_back(event);
  }
  forward(guard, out);
}

// Guards one pointing device; false when it cannot be guarded.
bool guard(TapObject& tap, const std::string& sysname) {
  if (tap.guarded.count(sysname))
    return true;
  const auto& nodes = linuxplatform::Inputs::instance().nodes();
  const auto node = nodes.find(sysname);
  if (node == nodes.end() || node->second.ours || !node->second.pointer ||
      linuxplatform::seized(node->second.devnode))
    return true;
  auto made = std::make_unique<Guarded>();
  made->tap = &tap;
  made->sysname = sysname;
  made->devnode = node->second.devnode;
  auto& opener = linuxplatform::Nodes::worker();
  constexpr int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
  made->source = opener.open(protocol::Kind::input, node->second.devnode, flags);
  made->state = opener.open(protocol::Kind::input, node->second.devnode, flags);
  if (!made->source || !made->state)
    return false;
  int clock = CLOCK_MONOTONIC;
  if (ioctl(made->source.get(), EVIOCSCLOCKID, &clock) != 0)
    return false;
  auto clone = linuxplatform::createClone(made->source.get());
  if (!clone)
    return false;
  made->clone = std::move(*clone);
  made->watch = tap.loop->add(made->source.get(), &guardReady, made.get());
  if (!made->watch || !tryGrab(*made)) {
    tap.loop->remove(made->watch);
    linuxplatform::destroy(made->clone);
    return false;
  }
  tap.guarded[sysname] = std::move(made);
  ++tap.generation;
  return true;
}

void wakeReady(void* context, std::uint32_t) {
  TapObject& tap = *static_cast<TapObject*>(context);
  const auto keep = tap.shared_from_this();
  tap.wake = 0;
  bool failed = false;
  const auto pending = std::exchange(tap.pending, {});
  for (const auto& [sysname, arrived] : pending) {
    if (arrived) {
      failed = !guard(tap, sysname) || failed;
    } else if (tap.guarded.count(sysname)) {
      unguard(tap, sysname);
      failed = true;
    }
  }
  if (failed)
    disable(tap);
}

void pointerChanged(void* context, const std::string& sysname, bool arrived) {
  TapObject& tap = *static_cast<TapObject*>(context);
  tap.pending.emplace_back(sysname, arrived);
  signal(tap);
}

void attach(TapObject& tap, linuxplatform::Loop& loop) {
  auto& inputs = linuxplatform::Inputs::instance();
  // Arrivals and departures reach the listener from the loop.
  inputs.attach(loop);
  inputs.refresh();
  tap.loop = &loop;
  inputs.listen(&pointerChanged, &tap);
  // Guarding starts from the loop, like every later arrival, so that a device that cannot be
  // guarded reaches the callback from the loop and never from inside this call.
  for (const auto& [sysname, node] : inputs.nodes())
    if (node.pointer && !node.ours)
      tap.pending.emplace_back(sysname, true);
  signal(tap);
}

void detach(TapObject& tap) {
  if (!tap.loop)
    return;
  auto& inputs = linuxplatform::Inputs::instance();
  inputs.listen(nullptr, nullptr);
  inputs.detach(*tap.loop);
  while (!tap.guarded.empty())
    unguard(tap, tap.guarded.begin()->first);
  tap.loop->remove(tap.wake);
  tap.wake = 0;
  tap.pending.clear();
  tap.loop = nullptr;
  ++tap.generation;
}

}  // namespace

TapObject::~TapObject() {
  detach(*this);
}

Tap tapCreate(int, int, int, std::uint64_t mask, TapCallback callback, void* userInfo) {
  // Every pointing device present must be readable, and clones need uinput.
  if (!callback || !linuxplatform::uinputWritable())
    return nullptr;
  auto& inputs = linuxplatform::Inputs::instance();
  inputs.refresh();
  for (const auto& [sysname, node] : inputs.nodes())
    if (node.pointer && !node.ours && !linuxplatform::seized(node.devnode) &&
        inputs.accessError(protocol::Kind::input, node.devnode, R_OK) != 0)
      return nullptr;
  auto tap = std::make_shared<TapObject>();
  tap->callback = callback;
  tap->userInfo = userInfo;
  tap->mask = mask;
  return tap;
}

Source tapCreateRunLoopSource(const Tap& tap, std::int64_t) {
  if (!tap || tap->invalidated)
    return nullptr;
  return std::make_shared<SourceObject>(SourceObject{tap});
}

void runLoopAddSource(const RunLoop& runLoop, const Source& source) {
  if (!runLoop || !source || !source->tap || source->tap->invalidated || source->tap->loop)
    return;
  attach(*source->tap, *runLoop->loop);
}

void runLoopRemoveSource(const RunLoop&, const Source& source) {
  if (source && source->tap)
    detach(*source->tap);
}

void tapEnable(const Tap& tap, bool enable) {
  if (tap)
    tap->enabled = enable;
}

void tapInvalidate(const Tap& tap) {
  if (!tap)
    return;
  detach(*tap);
  tap->invalidated = true;
}

}  // namespace platform
