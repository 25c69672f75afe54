#include "platform/linux/inputs.h"

#include <fcntl.h>
#include <linux/input.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/linux/classes.h"
#include "platform/linux/keys.h"
#include "platform/linux/sysfs.h"

namespace linuxplatform {

namespace {

constexpr std::size_t longBits = 8 * sizeof(unsigned long);

bool bitSet(const KeyBits& bits, unsigned code) {
  return (bits[code / longBits] >> (code % longBits) & 1) != 0;
}

// The asked keys down in a key bitmap, as InputNode::held holds them.
std::uint32_t askedDown(const KeyBits& bits) {
  std::uint32_t held = 0;
  for (int i = 0; i < static_cast<int>(std::size(askedKeys)); ++i)
    if (bitSet(bits, askedKeys[i]))
      held |= std::uint32_t{1} << i;
  return held;
}

}  // namespace

void maskEvents(int fd, bool asked) {
  std::array<unsigned long, EV_CNT / longBits + 1> types{};
  types[EV_KEY / longBits] |= 1UL << (EV_KEY % longBits);
  KeyBits keys{};
  if (asked)
    for (const std::uint16_t code : askedKeys)
      keys[code / longBits] |= 1UL << (code % longBits);
  input_mask typeMask{0, sizeof types, reinterpret_cast<std::uintptr_t>(types.data())};
  input_mask keyMask{EV_KEY, sizeof keys, reinterpret_cast<std::uintptr_t>(keys.data())};
  ioctl(fd, EVIOCSMASK, &keyMask);
  ioctl(fd, EVIOCSMASK, &typeMask);
}

std::vector<std::uint16_t> keysDown(int fd, unsigned first, unsigned last) {
  KeyBits bits{};
  std::vector<std::uint16_t> down;
  if (ioctl(fd, EVIOCGKEY(sizeof bits), bits.data()) < 0)
    return down;
  for (unsigned code = first; code <= last; ++code)
    if (bitSet(bits, code))
      down.push_back(static_cast<std::uint16_t>(code));
  return down;
}

std::string readText(const std::string& path) {
  Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd)
    return {};
  std::string text;
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(fd.get(), chunk, sizeof chunk);
    if (n <= 0 || text.size() > (1u << 20))
      break;
    text.append(chunk, static_cast<std::size_t>(n));
  }
  return text;
}

const char* monitorSource() {
  return udevRuns() ? "udev" : "kernel";
}

Inputs& Inputs::instance() {
  static Inputs inputs;
  return inputs;
}

Inputs::Inputs() : udev_(udev_new()), inotify_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
  if (!udev_)
    return;
  // The monitor is listening before the enumeration, so no arrival falls between the two.
  monitor_ = udev_monitor_new_from_netlink(udev_, monitorSource());
  if (monitor_) {
    udev_monitor_filter_add_match_subsystem_devtype(monitor_, "input", nullptr);
    if (udev_monitor_enable_receiving(monitor_) < 0) {
      udev_monitor_unref(monitor_);
      monitor_ = nullptr;
    } else {
      const int fd = udev_monitor_get_fd(monitor_);
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
      fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
  }
  Nodes::worker().listen(&Inputs::helperChanged, this);
  scan();
}

bool Inputs::live() const {
  return loop_ && monitorWatch_ && changedWatch_;
}

void Inputs::attach(Loop& loop) {
  if (loop_ && loop_ != &loop)
    return;
  if (attached_++ > 0)
    return;
  loop_ = &loop;
  ++generation_;
  refresh();
  if (monitor_)
    monitorWatch_ = loop.add(udev_monitor_get_fd(monitor_), &Inputs::monitorReady, this);
  if (inotify_)
    changedWatch_ = loop.add(inotify_.get(), &Inputs::changedReady, this);
  followHelper();
  for (auto& [sysname, node] : nodes_)
    track(node);
}

void Inputs::detach(Loop& loop) {
  if (loop_ != &loop || attached_ == 0 || --attached_ > 0)
    return;
  loop.remove(monitorWatch_);
  loop.remove(changedWatch_);
  loop.remove(helperWatch_);
  monitorWatch_ = changedWatch_ = helperWatch_ = 0;
  helperFd_ = -1;
  for (auto& [sysname, node] : nodes_)
    unwatch(node);
  for (const auto& [path, entry] : access_)
    inotify_rm_watch(inotify_.get(), entry.watch);
  access_.clear();
  loop_ = nullptr;
  ++generation_;
}

void Inputs::scan() {
  // Devices that left while events were lost are told to the listener as departures.
  std::set<std::string> before;
  for (const auto& [sysname, node] : nodes_)
    if (node.pointer && !node.ours)
      before.insert(sysname);
  while (!nodes_.empty())
    erase(nodes_.begin());
  udev_enumerate* enumerate = udev_enumerate_new(udev_);
  udev_enumerate_add_match_subsystem(enumerate, "input");
  udev_enumerate_add_match_sysname(enumerate, "event*");
  udev_enumerate_scan_devices(enumerate);
  const bool classified = udevRuns();
  udev_list_entry* entry;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
    udev_device* device = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry));
    if (device) {
      add(device, classified);
      udev_device_unref(device);
    }
  }
  udev_enumerate_unref(enumerate);
  for (const std::string& sysname : before)
    if (!nodes_.count(sysname) && listener_)
      listener_(listenerContext_, sysname, false);
}

void Inputs::erase(std::map<std::string, InputNode>::iterator node) {
  unwatch(node->second);
  nodes_.erase(node);
  summarized_ = false;
  ++generation_;
}

void Inputs::unwatch(InputNode& node) {
  if (loop_ && node.watch)
    loop_->remove(node.watch);
  node.watch = 0;
  summarized_ = false;
}

void Inputs::add(udev_device* device, bool classified) {
  const char* sysname = udev_device_get_sysname(device);
  const char* devnode = udev_device_get_devnode(device);
  if (!sysname || !devnode || std::strncmp(sysname, "event", 5) != 0)
    return;
  udev_device* parent = udev_device_get_parent_with_subsystem_devtype(device, "input", nullptr);
  if (!parent)
    return;
  if (const auto old = nodes_.find(sysname); old != nodes_.end())
    erase(old);
  InputNode node;
  node.sysname = sysname;
  node.devnode = devnode;
  const std::string syspath = udev_device_get_syspath(parent);
  const std::string phys = readText(syspath + "/phys");
  node.ours = std::string_view(phys).starts_with(ourPhysPrefix);
  node.excluded = excluded_.count(node.devnode) != 0;
  node.grabbed = grabbed_.count(node.devnode) != 0;
  if (auto keys = parseCapabilities(readText(syspath + "/capabilities/key")))
    node.keys = std::move(*keys);
  static_cast<Role&>(node) = roleOf(node.keys, classesOf(device, classified));
  if (!node.ours && node.read())
    open(node);
  const bool pointer = node.pointer && !node.ours;
  InputNode& added = nodes_.insert_or_assign(node.sysname, std::move(node)).first->second;
  summarized_ = false;
  track(added);
  ++generation_;
  if (pointer && listener_)
    listener_(listenerContext_, sysname, true);
}

void Inputs::open(InputNode& node) {
  ++generation_;
  summarized_ = false;
  node.state =
      Nodes::worker().open(protocol::Kind::input, node.devnode, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (node.state)
    maskEvents(node.state.get(), node.keyboard);
}

void Inputs::track(InputNode& node) {
  if (!loop_ || node.watch || !node.state || node.ours || !node.keyboard)
    return;
  node.watch = loop_->add(node.state.get(), &Inputs::keysReady, &node);
  summarized_ = false;
  // The kernel has queued the asked keys' events on `state` since it was opened. The query gives
  // their state now and empties the queue of the key events before it, so the events read from
  // here on are exactly the changes since.
  KeyBits bits{};
  if (node.watch && !query(node, bits))
    node.held = 0;
}

bool Inputs::query(InputNode& node, KeyBits& bits) {
  if (ioctl(node.state.get(), EVIOCGKEY(sizeof bits), bits.data()) < 0)
    return false;
  if (node.watch) {
    node.held = askedDown(bits);
    summarized_ = false;
  }
  return true;
}

bool Inputs::maybeDown(const InputNode& node, std::uint16_t code) {
  const int asked = askedIndex(code);
  return asked < 0 || !node.watch || node.grabbed || (node.held >> asked & 1) != 0;
}

void Inputs::monitorReady(void* context, std::uint32_t) {
  static_cast<Inputs*>(context)->refresh();
}

void Inputs::keysReady(void* context, std::uint32_t events) {
  auto& node = *static_cast<InputNode*>(context);
  Inputs& inputs = instance();
  input_event seen[32];
  ssize_t n;
  bool dropped = false;
  do {
    n = read(node.state.get(), seen, sizeof seen);
    for (ssize_t i = 0; i < n / static_cast<ssize_t>(sizeof(input_event)); ++i) {
      const input_event& event = seen[i];
      if (event.type == EV_SYN && event.code == SYN_DROPPED) {
        dropped = true;
      } else if (event.type == EV_KEY) {
        const int asked = askedIndex(event.code);
        const std::uint32_t bit = asked < 0 ? 0 : std::uint32_t{1} << asked;
        node.held = event.value != 0 ? node.held | bit : node.held & ~bit;  // 2 is a repeat
      }
    }
  } while (n == static_cast<ssize_t>(sizeof seen));
  // A device that fails or hangs up is about to leave; its removal comes from the monitor. Until
  // then its state is asked of the kernel.
  inputs.summarized_ = false;
  if ((n < 0 && errno != EAGAIN && errno != EINTR) || (events & (EPOLLHUP | EPOLLERR))) {
    inputs.unwatch(node);
    return;
  }
  // The queue overflowed and the kernel dropped events: the state is asked again, which also
  // empties the queue of every key event older than the answer.
  KeyBits bits{};
  if (dropped && !inputs.query(node, bits))
    inputs.unwatch(node);
}

void Inputs::followHelper() {
  const int fd = Nodes::worker().connection();
  if (fd == helperFd_ && (helperWatch_ != 0) == (loop_ != nullptr && fd >= 0))
    return;
  if (loop_ && helperWatch_)
    loop_->remove(helperWatch_);
  helperWatch_ = 0;
  helperFd_ = fd;
  if (loop_ && fd >= 0)
    helperWatch_ = loop_->add(fd, &Inputs::helperReady, this);
}

void Inputs::helperChanged(void* context) {
  auto& inputs = *static_cast<Inputs*>(context);
  ++inputs.generation_;
  inputs.followHelper();
  // The descriptors of a connection that ended are revoked: closed here, not left unwatched and
  // asked at every pass. A required node is opened again when `readable` is next asked.
  for (auto& [sysname, node] : inputs.nodes_) {
    if (node.state && !Nodes::worker().stands(node.state)) {
      inputs.unwatch(node);
      node.state.reset();
      inputs.summarized_ = false;
    }
  }
}

void Inputs::helperReady(void*, std::uint32_t) {
  // Anything the helper writes unasked is its end, which reaches `helperChanged`.
  Nodes::worker().readable();
}

void Inputs::changedReady(void* context, std::uint32_t) {
  static_cast<Inputs*>(context)->changed();
}

void Inputs::changed() {
  ++generation_;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t n = read(inotify_.get(), buffer, sizeof buffer);
    if (n <= 0)
      return;
    for (std::size_t at = 0; at < static_cast<std::size_t>(n);) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += sizeof(inotify_event) + event->len;
      if (event->mask & IN_Q_OVERFLOW) {
        // Changes were lost: ask every node again.
        for (const auto& [path, entry] : access_)
          inotify_rm_watch(inotify_.get(), entry.watch);
        access_.clear();
        continue;
      }
      const bool gone = (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) != 0;
      for (auto entry = access_.begin(); entry != access_.end();) {
        if (entry->second.watch != event->wd) {
          ++entry;
        } else if (gone) {
          if (!(event->mask & IN_IGNORED))
            inotify_rm_watch(inotify_.get(), entry->second.watch);
          entry = access_.erase(entry);
        } else {
          entry->second.error =
              Nodes::worker().check(entry->second.kind, entry->first, entry->second.mode);
          ++entry;
        }
      }
    }
  }
}

void Inputs::refresh() {
  if (!monitor_)
    return;
  std::optional<bool> classified;  // asked at the first arrival
  errno = 0;
  while (udev_device* device = udev_monitor_receive_device(monitor_)) {
    const char* action = udev_device_get_action(device);
    const char* sysname = udev_device_get_sysname(device);
    // A change (udevadm trigger, a new rule) may change the device's class and our access.
    if (action && sysname &&
        (std::strcmp(action, "add") == 0 || std::strcmp(action, "change") == 0)) {
      if (!classified)
        classified = udevRuns();
      add(device, *classified);
    } else if (action && sysname && std::strcmp(action, "remove") == 0) {
      const auto found = nodes_.find(sysname);
      if (found != nodes_.end()) {
        const bool pointer = found->second.pointer && !found->second.ours;
        erase(found);
        if (pointer && listener_)
          listener_(listenerContext_, sysname, false);
      }
    }
    udev_device_unref(device);
  }
  // The socket overflowed while nobody read it: what it dropped is learnt by a new scan.
  if (errno == ENOBUFS)
    scan();
}

void Inputs::summarize() {
  maybe_ = 0;
  unfollowed_ = false;
  for (const auto& [name, node] : nodes_) {
    if (counts(node))
      maybe_ |= node.watch && !node.grabbed ? node.held : node.asks;
    unfollowed_ = unfollowed_ || (counts(node) && node.keyboard && !node.watch);
  }
  summarized_ = true;
}

bool Inputs::down(std::uint16_t code) {
  if (!live())
    refresh();
  if (!summarized_)
    summarize();
  // The question of every pass and of every press, answered without a look at the nodes while
  // no keyboard may hold the key.
  if (const int asked = askedIndex(code); asked >= 0 && (maybe_ >> asked & 1) == 0)
    return false;
  for (auto& [name, node] : nodes_) {
    if (!counts(node) || !hasCapability(node.keys, code) || !maybeDown(node, code))
      continue;
    KeyBits bits{};
    if (query(node, bits) && bitSet(bits, code))
      return true;
  }
  return false;
}

std::uint64_t Inputs::flags() {
  if (!live())
    refresh();
  if (!summarized_)
    summarize();
  std::uint32_t modifiers = 0;
  for (const FlagKey& key : flagKeys)
    modifiers |= std::uint32_t{1} << askedIndex(key.code);
  if ((maybe_ & modifiers) == 0)
    return 0;
  std::uint64_t flags = 0;
  for (auto& [name, node] : nodes_) {
    if (!counts(node))
      continue;
    bool ask = false;
    for (const FlagKey& key : flagKeys)
      ask = ask || (hasCapability(node.keys, key.code) && maybeDown(node, key.code));
    KeyBits bits{};
    if (!ask || !query(node, bits))
      continue;
    for (const FlagKey& key : flagKeys)
      if (bitSet(bits, key.code))
        flags |= key.flag;
  }
  return flags;
}

bool Inputs::readable() {
  const bool current = live();
  if (!current)
    refresh();
  else if (readableAt_ == generation_)
    return readable_;
  readable_ = readableNow();
  // A refusal is asked again next time: a node that could not be opened may open then.
  readableAt_ = current && readable_ ? generation_ : 0;
  return readable_;
}

bool Inputs::readableNow() {
  if (!udev_)
    return false;
  Nodes& nodes = Nodes::worker();
  for (auto& [name, node] : nodes_) {
    if (node.ours || !node.required)
      continue;
    // A descriptor from a connection of the helper that has ended may have been revoked: the
    // node is opened again.
    if (node.state && !nodes.current(node.state)) {
      unwatch(node);
      node.state.reset();
    }
    // A node that is gone belongs to a device that is leaving: the monitor tells of it.
    const int error = accessError(protocol::Kind::input, node.devnode, R_OK);
    if (error == ENOENT)
      continue;
    if (error != 0)
      return false;
    // Access granted since the device arrived (the user logged in, the rule was installed).
    if (!node.state) {
      open(node);
      track(node);
    }
    if (!node.state)
      return false;
  }
  return true;
}

int Inputs::accessError(protocol::Kind kind, const std::string& path, int mode, bool* kept) {
  if (kept)
    *kept = false;
  Nodes& nodes = Nodes::worker();
  if (nodes.route() == Route::helper) {
    // The helper's answers change when its connection ends or it answers anew, both told through
    // `helperChanged`, so they hold while that connection is watched.
    const int error = nodes.check(kind, path, mode);
    const bool remembered = live() && helperWatch_ != 0;
    if (kept)
      *kept = remembered;
    unremembered_ = unremembered_ || !remembered;
    return error;
  }
  if (!live())
    return nodes.check(kind, path, mode);
  const auto found = access_.find(path);
  if (found != access_.end() && found->second.mode == mode) {
    if (kept)
      *kept = true;
    return found->second.error;
  }
  // Watching first, so that no change falls between the answer and the watch.
  const int watch =
      inotify_add_watch(inotify_.get(), path.c_str(), IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF);
  const int error = nodes.check(kind, path, mode);
  if (watch >= 0 && found == access_.end()) {
    access_.emplace(path, Access{kind, mode, error, watch});
    if (kept)
      *kept = true;
  } else {
    unremembered_ = true;
  }
  return error;
}

bool Inputs::announced() {
  const bool remembered = !std::exchange(unremembered_, false);
  if (!live() || !remembered)
    return false;
  if (!summarized_)
    summarize();
  return !unfollowed_;
}

void Inputs::exclude(const std::string& devnode, bool excluded) {
  ++generation_;
  mark(excluded_, &InputNode::excluded, devnode, excluded);
}

void Inputs::grab(const std::string& devnode, bool grabbed) {
  mark(grabbed_, &InputNode::grabbed, devnode, grabbed);
}

void Inputs::mark(std::set<std::string>& marked, bool InputNode::*flag, const std::string& devnode,
                  bool on) {
  if (on)
    marked.insert(devnode);
  else
    marked.erase(devnode);
  for (auto& [name, node] : nodes_) {
    if (node.devnode != devnode)
      continue;
    node.*flag = on;
    summarized_ = false;
    // The seize's or the guard's grab kept the device's events from our descriptor: once it
    // ends, the state is asked again.
    KeyBits bits{};
    if (!on && node.watch && !query(node, bits))
      node.held = 0;
  }
}

}  // namespace linuxplatform
