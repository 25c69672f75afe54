#pragma once

// quillfen-access's one event loop: the listening socket, the callers' connections and whatever
// else it is told to watch. Every socket is non-blocking and every buffer bounded, and a
// connection that has an answer waiting to be written is not read from, so a caller that stops
// reading holds up nobody but itself.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "access/devices.h"
#include "access/protocol.h"
#include "platform/linux/fd.h"

namespace helper {

class Server {
 public:
  // How the server judges callers and comes by nodes; the program wires the real ones, tests
  // their own.
  // Examines the process `pid` at the other end of a connection (see peer.h).
  std::function<protocol::Status(pid_t pid)> examine;
  // Whether `uid` has an active local session (see session.h).
  std::function<bool(uid_t uid)> session;
  // Every node of a kind, opened afresh (see devices.h).
  std::function<std::vector<Found>(protocol::Kind kind)> find;
  // Revokes an evdev descriptor: every descriptor of its open file description stops working.
  std::function<void(int fd)> revoke;

  static constexpr std::size_t maxConnections = 64;
  static constexpr std::size_t maxPerUser = 8;
  static constexpr std::size_t maxKept = 256;  // evdev duplicates held for one connection

  // Serves the listening socket `listener`, which stays the caller's.
  explicit Server(int listener);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Calls `ready` from `turn` whenever `fd` (the caller's) is readable.
  void watch(int fd, std::function<void()> ready);
  // Waits at most `milliseconds` (-1: without limit) and handles what became ready. False when
  // the loop cannot wait at all.
  bool turn(int milliseconds);
  // Callers whose user no longer has an active local session lose every descriptor and their
  // connection.
  void sessionsChanged();
  // Revokes every descriptor held and closes every connection.
  void shutdown();

  std::size_t connections() const { return connections_.size(); }

 private:
  struct Connection {
    linuxplatform::Fd socket;
    pid_t pid = 0;
    uid_t uid = 0;
    linuxplatform::Fd pidfd;  // the process that connected, for as long as it lives
    protocol::Nonce nonce{};
    std::vector<std::uint8_t> in;   // what has come of the next request, at most one frame
    std::vector<std::uint8_t> out;  // the answer being written
    std::size_t sent = 0;
    std::vector<linuxplatform::Fd> passing;  // its descriptors, until they have gone
    bool closing = false;                    // closed once `out` is written
    bool dead = false;
    std::map<std::uint32_t, linuxplatform::Fd> kept;  // evdev duplicates, by release number
  };

  void accept();
  protocol::Status judge(Connection& connection);
  void serve(std::uint64_t token, Connection& connection, std::uint32_t events);
  bool readRequest(Connection& connection);
  void handle(Connection& connection, const protocol::Request& request);
  void answer(Connection& connection, const protocol::Answer& answer,
              std::vector<linuxplatform::Fd> fds = {});
  void refuse(Connection& connection, protocol::Status status);
  bool write(std::uint64_t token, Connection& connection);
  void finish(Connection& connection);
  void listenFor(std::uint64_t token, const Connection& connection, std::uint32_t events);

  int listener_;
  linuxplatform::Fd epoll_;
  std::uint64_t next_ = 1;  // tokens; 0 is the listener's
  std::uint32_t nextId_ = 1;
  std::map<std::uint64_t, std::unique_ptr<Connection>> connections_;
  std::map<std::uint64_t, std::function<void()>> watches_;
};

}  // namespace helper
