#pragma once

#include <libudev.h>
#include <linux/input-event-codes.h>

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "access/protocol.h"
#include "platform/linux/fd.h"
#include "platform/linux/loop.h"
#include "platform/linux/nodes.h"
#include "platform/linux/role.h"

namespace linuxplatform {

// An evdev key bitmap, as EVIOCGKEY writes it.
using KeyBits = std::array<unsigned long, KEY_MAX / (8 * sizeof(unsigned long)) + 1>;

// One evdev node of the input subsystem, with the role the program gives it.
struct InputNode : Role {
  std::string sysname;  // eventN
  std::string devnode;  // /dev/input/eventN
  bool ours = false;
  std::vector<std::uint64_t> keys;  // its key capabilities, as parseCapabilities gives them
  // Opened for the state of its keys. On a keyboard the kernel queues only the events of the keys
  // the program asks about (EVIOCSMASK), which the loop reads into `held`; nothing else is queued.
  Opened state;
  std::uint64_t watch = 0;  // the loop's watch of `state`
  // While watched: bit i set when askedKeys[i] is down, from the last query of the kernel's key
  // state (EVIOCGKEY, which also empties the queue of key events) and the key events since.
  std::uint32_t held = 0;
  bool excluded = false;  // a node of a seized device: no one's input
  bool grabbed = false;   // grabbed by the mouse guard: its events reach no other descriptor
};

// The input devices present and what the program asks of them: which keys and buttons are held
// on the user's keyboards and pointers, and whether this process may read them.
//
// Attached to the worker's loop, everything that can be announced is: a udev monitor tells of
// devices arriving and leaving, inotify of changed access to their nodes (and to any other node
// asked about with `accessError`), or, where quillfen-access hands the nodes over, the end of its
// connection, and each keyboard's events of the keys the program asks about keep their state.
// Between announcements the answers come from what was learnt, so neither the watchdog's pass nor a
// press makes a system call for them. A key found down that way is asked of the kernel before it
// counts, so a release that never reached us (another program grabbed the device meanwhile) can
// never leave a key held; a press that never reached us counts as up, as the desktop, which reads
// the same device, did not get it either. Not attached, every query reads afresh. Used on the
// backend's worker thread only.
class Inputs {
 public:
  static Inputs& instance();

  // Keeps the state current from `loop` (the worker's), until as many `detach` as `attach`.
  // Only one loop at a time: a second loop is not attached.
  void attach(Loop& loop);
  void detach(Loop& loop);

  // Applies the device arrivals and departures the monitor has seen since the last call.
  void refresh();
  const std::map<std::string, InputNode>& nodes() const { return nodes_; }

  // Whether any keyboard or pointer present holds evdev key `code` down. Our own devices and
  // the excluded nodes (a seized pedal's) are no one's input and never count; only devices that
  // have the key are asked.
  bool down(std::uint16_t code);
  // The modifier flags (keys.h) held on any keyboard, counted as `down` counts keys.
  std::uint64_t flags();
  // Whether every required keyboard and pointing device present is readable by this process.
  bool readable();
  // 0 when the node `path` of `kind` can be had (Nodes::check), else the errno of the refusal.
  // Remembered while attached: for nodes opened directly, until inotify reports a change of the
  // node's attributes (a chmod, an ACL given or taken) or its removal; for nodes of the helper,
  // until its connection ends or it answers again. With `kept`, tells whether the answer is
  // remembered: then any change of it counts up `generation`.
  int accessError(protocol::Kind kind, const std::string& path, int mode, bool* kept = nullptr);
  // A number that changes whenever a remembered answer of `accessError` or `readable` may have
  // changed; 0 while not attached, when nothing is remembered. Answers that depend only on
  // remembered ones may be kept by their askers for as long as it stays the same.
  std::uint64_t generation() const { return live() ? generation_ : 0; }
  // Whether the answers above change only with events on the attached loop, so that their askers
  // need not ask again before one comes: attached, every keyboard that counts followed there, and
  // no access answer given since the last call that could not be remembered.
  bool announced();

  // The evdev nodes of a seized device: their state stops counting as input while excluded.
  void exclude(const std::string& devnode, bool excluded);
  bool excluded(const std::string& devnode) const { return excluded_.count(devnode) != 0; }
  // A node the mouse guard grabs: its key events reach only the guard, so its state is asked of
  // the kernel while it is grabbed.
  void grab(const std::string& devnode, bool grabbed);

  // Told about every pointing device that arrives or leaves (not ours), after `refresh`.
  using Listener = void (*)(void* context, const std::string& sysname, bool added);
  void listen(Listener listener, void* context) {
    listener_ = listener;
    listenerContext_ = context;
  }

  udev* context() const { return udev_; }

 private:
  Inputs();
  void scan();
  // `classified`: whether udev classifies input devices (udevRuns).
  void add(udev_device* device, bool classified);
  void erase(std::map<std::string, InputNode>::iterator node);
  void open(InputNode& node);
  bool live() const;
  bool readableNow();
  void track(InputNode& node);
  void unwatch(InputNode& node);
  void summarize();
  void changed();       // inotify reported
  void followHelper();  // watches the helper's connection of the moment
  static void helperChanged(void* context);
  static void helperReady(void* context, std::uint32_t events);
  bool counts(const InputNode& node) const { return !node.ours && node.state && !node.excluded; }
  bool query(InputNode& node, KeyBits& bits);
  // Sets `flag` of the nodes of `devnode`, and keeps it in `marked` for nodes that arrive later.
  void mark(std::set<std::string>& marked, bool InputNode::*flag, const std::string& devnode,
            bool on);
  static bool maybeDown(const InputNode& node, std::uint16_t code);
  static void monitorReady(void* context, std::uint32_t events);
  static void changedReady(void* context, std::uint32_t events);
  static void keysReady(void* context, std::uint32_t events);

  udev* udev_ = nullptr;
  udev_monitor* monitor_ = nullptr;
  std::map<std::string, InputNode> nodes_;
  std::set<std::string> excluded_;
  std::set<std::string> grabbed_;
  Listener listener_ = nullptr;
  void* listenerContext_ = nullptr;

  Loop* loop_ = nullptr;
  int attached_ = 0;
  std::uint64_t monitorWatch_ = 0;
  std::uint64_t changedWatch_ = 0;
  int helperFd_ = -1;
  std::uint64_t helperWatch_ = 0;
  // While `summarized_`: bit i set when a node that counts may hold askedKeys[i] down, as far as
  // its events tell, or has it and is not followed. Any change of the nodes, their watches, the
  // keys held, the exclusions or the grabs clears `summarized_`.
  bool summarized_ = false;
  std::uint32_t maybe_ = 0;
  bool unfollowed_ = false;  // a keyboard that counts is not followed: its keys must be asked
  // Answers that hold until anything they depend on changes: every change of the nodes, their
  // access or the exclusions counts up `generation_`.
  std::uint64_t generation_ = 1;
  std::uint64_t readableAt_ = 0;
  bool readable_ = false;
  bool unremembered_ = false;  // an access answer was asked afresh since `announced`

  struct Access {
    protocol::Kind kind;
    int mode;
    int error;  // of access(): 0 when granted
    int watch;  // inotify's watch descriptor
  };
  Fd inotify_;
  std::map<std::string, Access> access_;  // by path
};

// Makes the kernel queue on the evdev descriptor `fd` only the key events of askedKeys (with
// `asked`) or no event at all: for descriptors opened for state or for a grab, whose other events
// nobody reads, and whose queue then costs nothing. Without EVIOCSMASK (kernels before 4.4)
// every event is queued, as if this had not been called.
void maskEvents(int fd, bool asked);

// The keys and buttons from `first` to `last` the kernel holds down on the evdev node of `fd`;
// none when it cannot be asked.
std::vector<std::uint16_t> keysDown(int fd, unsigned first = 0, unsigned last = KEY_MAX);

// Reads a whole small file (sysfs attribute, uevent); empty when it cannot be read.
std::string readText(const std::string& path);

// "udev" when a udev daemon runs (its events come after its rules gave the nodes their
// permissions), otherwise "kernel".
const char* monitorSource();

}  // namespace linuxplatform
