#pragma once

// The one way the Linux platform comes by the device nodes it needs: the pedal's hidraw and evdev
// nodes, the keyboards' and pointing devices' evdev nodes, and /dev/uinput. Where the socket of
// quillfen-access (the privileged device helper) exists and the program does not run as root,
// the helper hands them over; otherwise the program opens them itself (as root, or where a udev
// rule gives them to the user, as in development).

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "access/protocol.h"
#include "platform/linux/fd.h"

namespace linuxplatform {

// One connection to quillfen-access. Closed, it has no socket.
struct Link {
  Fd socket;
  bool broken = false;  // a frame could not be sent whole: the conversation is over
  // Gives an evdev descriptor back.
  void release(std::uint32_t id);
};

// A device node's descriptor. One that quillfen-access handed over and keeps a duplicate of is
// given back when closed, so that the helper revokes and drops its duplicate.
class Opened {
 public:
  Opened() = default;
  explicit Opened(Fd fd) : fd_(std::move(fd)) {}
  Opened(Fd fd, std::shared_ptr<Link> link, std::uint32_t id)
      : fd_(std::move(fd)), link_(std::move(link)), id_(id) {}
  Opened(Opened&& other) noexcept;
  Opened& operator=(Opened&& other) noexcept;
  ~Opened() { reset(); }

  int get() const { return fd_.get(); }
  explicit operator bool() const { return static_cast<bool>(fd_); }
  void reset();
  // The connection it came through; none for a node the program opened itself.
  const std::shared_ptr<Link>& link() const { return link_; }

 private:
  Fd fd_;
  std::shared_ptr<Link> link_;
  std::uint32_t id_ = 0;
};

// Where the device nodes come from.
enum class Route { direct, helper };

// The device nodes of one user of them: the platform's on the worker thread (`worker`), or one of
// its own (the Permissions survey), each with its own connection to the helper. Not thread-safe.
//
// The helper hands nodes over by kind, every node of the kind at once, each a fresh open file
// description. Those not asked for yet are kept for a second, so that opening every keyboard in
// turn costs one request.
class Nodes {
 public:
  // `socket` is the helper's; empty, the program opens every node itself.
  explicit Nodes(std::string socket);
  Nodes(const Nodes&) = delete;
  Nodes& operator=(const Nodes&) = delete;

  // The platform's: the helper's socket, unless the program runs as root.
  static Nodes& worker();

  // Before it first asks the helper, the program makes itself non-dumpable, so that no other
  // process of its user can attach to it or open its descriptors. Tests of this class keep the
  // test process as it is.
  bool undumpable = true;

  // A descriptor of the node `path` of `kind`; none, with errno set, when it cannot be had (ENOENT
  // when there is no such node). `flags` are open()'s for a node the program opens itself; the
  // helper opens each kind as it is needed (see protocol::Kind), non-blocking, close-on-exec.
  Opened open(protocol::Kind kind, const std::string& path, int flags);
  // 0 when `path`, a node of `kind`, can be had (opened itself: access() with `mode`), else the
  // errno of the refusal.
  int check(protocol::Kind kind, const std::string& path, int mode);
  // Whether the connection that handed `opened` over still stands; true for a node the program
  // opened itself. A descriptor from a connection that ended may have been revoked. `current`
  // first looks whether the helper ended the connection; `stands` goes by what is known.
  bool current(const Opened& opened);
  bool stands(const Opened& opened) const { return !opened.link() || opened.link() == link_; }

  // Decides where nodes come from, connecting to the helper, when that is not decided yet or a
  // second has passed since the helper refused or could not be reached.
  Route route();
  // The helper's refusal: of the program (`program`, after which it opens nodes itself), of its
  // process or of its session; `failed` when the helper's socket exists but it did not answer;
  // `granted` when there was none.
  protocol::Status refusal() const { return refusal_; }

  // The connection, for the worker's loop to watch; -1 when there is none. When it becomes
  // readable, call `readable`: the helper writes only answers, so anything else is its end.
  int connection() const;
  void readable();
  // Told whenever a connection is made or ends, and after each answer of the helper.
  using Listener = void (*)(void* context);
  void listen(Listener listener, void* context) {
    listener_ = listener;
    listenerContext_ = context;
  }

 private:
  using Clock = std::chrono::steady_clock;
  struct Kept {
    protocol::Kind kind;
    std::string path;
    Opened fd;
    Clock::time_point at;
  };

  void decide();
  bool ask(protocol::Kind kind);
  void end();
  void notify();
  bool listed(protocol::Kind kind, const std::string& path) const;
  void prune();
  Opened take(protocol::Kind kind, const std::string& path);
  int missing(const std::string& path) const;

  std::string socket_;
  enum class State { undecided, direct, helper, refused } state_ = State::undecided;
  protocol::Status refusal_ = protocol::Status::granted;
  Clock::time_point retry_{};
  std::shared_ptr<Link> link_;
  protocol::Nonce nonce_{};
  std::vector<Kept> kept_;
  std::map<protocol::Kind, std::vector<std::string>> lists_;  // paths of each kind's last answer
  Listener listener_ = nullptr;
  void* listenerContext_ = nullptr;
};

}  // namespace linuxplatform
