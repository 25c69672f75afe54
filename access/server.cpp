#include "access/server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace helper {

namespace {

using linuxplatform::Fd;
using protocol::Status;

constexpr std::uint64_t listenerToken = 0;

// Debian 12's C library declares pidfd_open for C alone.
int pidfdOpen(pid_t pid) {
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

// Whether the process behind `pidfd` still runs: a pidfd becomes readable when it ends.
bool alive(const Fd& pidfd) {
  pollfd ended{pidfd.get(), POLLIN, 0};
  return poll(&ended, 1, 0) == 0;
}

}  // namespace

Server::Server(int listener) : listener_(listener), epoll_(epoll_create1(EPOLL_CLOEXEC)) {
  fcntl(listener_, F_SETFL, fcntl(listener_, F_GETFL) | O_NONBLOCK);
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = listenerToken;
  epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, listener_, &event);
}

Server::~Server() {
  shutdown();
}

void Server::watch(int fd, std::function<void()> ready) {
  const std::uint64_t token = next_++;
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = token;
  if (epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &event) == 0)
    watches_.emplace(token, std::move(ready));
}

bool Server::turn(int milliseconds) {
  if (!epoll_)
    return false;
  epoll_event events[16];
  const int n = epoll_wait(epoll_.get(), events, 16, milliseconds);
  if (n < 0)
    return errno == EINTR;
  for (int i = 0; i < n; ++i) {
    const std::uint64_t token = events[i].data.u64;
    if (token == listenerToken) {
      accept();
    } else if (const auto watch = watches_.find(token); watch != watches_.end()) {
      watch->second();
    } else if (const auto found = connections_.find(token); found != connections_.end()) {
      if (!found->second->dead)
        serve(token, *found->second, events[i].events);
    }
  }
  std::erase_if(connections_, [](const auto& entry) { return entry.second->dead; });
  return true;
}

void Server::accept() {
  for (;;) {
    Fd socket(accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!socket)
      return;
    ucred peer{};
    socklen_t size = sizeof peer;
    const int on = 1;
    if (getsockopt(socket.get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.pid <= 0 ||
        setsockopt(socket.get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0)
      continue;
    // Connections refused in this same turn are not gone yet, and count for nothing.
    std::size_t live = 0;
    std::size_t same = 0;
    for (const auto& [token, other] : connections_) {
      live += !other->dead;
      same += !other->dead && other->uid == peer.uid;
    }
    const std::uint64_t token = next_++;
    auto made = std::make_unique<Connection>();
    made->socket = std::move(socket);
    made->pid = peer.pid;
    made->uid = peer.uid;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = token;
    if (epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, made->socket.get(), &event) != 0)
      continue;
    Connection& connection = *(connections_[token] = std::move(made));
    if (live >= maxConnections || same >= maxPerUser) {
      refuse(connection, Status::limit);
    } else if (const Status status = judge(connection); status != Status::granted) {
      refuse(connection, status);
    } else if (getrandom(connection.nonce.data(), connection.nonce.size(), 0) !=
               static_cast<ssize_t>(connection.nonce.size())) {
      refuse(connection, Status::failed);
    } else {
      connection.out = protocol::encode(protocol::Reply(protocol::Hello{connection.nonce}));
    }
    write(token, connection);
  }
}

// The process that connected, as it is now. A pidfd taken before the examination and still
// showing the process alive after it means the pid named that one process throughout: a pid is
// reused only after its process has ended. Every request must come from that pid (its
// credentials, attached by the kernel, say so), and every request for nodes must carry the nonce
// of the hello, which is sent only after this first examination: so each comes from a process
// that was the installed program, not dumpable and not traced, before it could write the
// request, and that no other process can have attached to since. Each request for nodes is
// examined again, in the same way.
Status Server::judge(Connection& connection) {
  if (!connection.pidfd)
    connection.pidfd.reset(pidfdOpen(connection.pid));
  if (!connection.pidfd)
    return Status::failed;
  Status status = examine(connection.pid);
  if (status == Status::granted && !session(connection.uid))
    status = Status::session;
  if (status == Status::granted && !alive(connection.pidfd))
    status = Status::failed;
  return status;
}

void Server::serve(std::uint64_t token, Connection& connection, std::uint32_t events) {
  if (events & EPOLLERR) {
    finish(connection);
    return;
  }
  if (!write(token, connection))
    return;
  // One request at a time: its answer is written before the next is read.
  while (!connection.dead && connection.out.empty()) {
    const auto decoded = protocol::decodeRequest(connection.in);
    using Result = protocol::Decoded<protocol::Request>::Result;
    if (decoded.result == Result::malformed) {
      finish(connection);
      return;
    }
    if (decoded.result == Result::complete) {
      connection.in.erase(connection.in.begin(),
                          connection.in.begin() + static_cast<std::ptrdiff_t>(decoded.used));
      handle(connection, decoded.value);
      if (connection.dead || !write(token, connection))
        return;
      continue;
    }
    if (!readRequest(connection)) {
      // A refusal of what was read waits to be written.
      if (!connection.dead && !connection.out.empty())
        write(token, connection);
      return;
    }
  }
}

// Reads what there is of the next frame, never more than a request's largest size. False when
// nothing more can be read now, or the connection is over.
bool Server::readRequest(Connection& connection) {
  std::uint8_t bytes[protocol::maxRequest];
  iovec part{bytes, protocol::maxRequest - connection.in.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred)) + CMSG_SPACE(4 * sizeof(int))];
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t n = recvmsg(connection.socket.get(), &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
  if (n < 0 && (errno == EAGAIN || errno == EINTR))
    return false;
  // The program never sends descriptors: any that came are closed, and end the conversation.
  bool rights = false;
  bool credited = false;
  ucred sender{};
  for (cmsghdr* header = n >= 0 ? CMSG_FIRSTHDR(&message) : nullptr; header;
       header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level != SOL_SOCKET)
      continue;
    if (header->cmsg_type == SCM_RIGHTS) {
      rights = true;
      for (std::size_t i = 0; i < (header->cmsg_len - CMSG_LEN(0)) / sizeof(int); ++i) {
        int fd;
        std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
        close(fd);
      }
    } else if (header->cmsg_type == SCM_CREDENTIALS &&
               header->cmsg_len == CMSG_LEN(sizeof(ucred))) {
      std::memcpy(&sender, CMSG_DATA(header), sizeof sender);
      credited = true;
    }
  }
  if (n <= 0 || rights || (message.msg_flags & MSG_CTRUNC)) {
    finish(connection);
    return false;
  }
  if (!credited || sender.pid != connection.pid || sender.uid != connection.uid) {
    refuse(connection, Status::sender);
    return false;
  }
  connection.in.insert(connection.in.end(), bytes, bytes + n);
  return true;
}

void Server::handle(Connection& connection, const protocol::Request& request) {
  if (const auto* release = std::get_if<protocol::Release>(&request)) {
    const auto kept = connection.kept.find(release->id);
    if (kept == connection.kept.end()) {
      finish(connection);
      return;
    }
    revoke(kept->second.get());
    connection.kept.erase(kept);
    return;
  }
  const auto& open = std::get<protocol::Open>(request);
  if (open.nonce != connection.nonce) {
    finish(connection);
    return;
  }
  if (const Status status = judge(connection); status != Status::granted) {
    refuse(connection, status);
    return;
  }
  std::vector<Found> found = find(open.kind);
  if (found.size() > protocol::maxNodes)
    found.resize(protocol::maxNodes);
  const std::size_t evdev =
      std::count_if(found.begin(), found.end(), [](const Found& node) { return node.evdev; });
  if (connection.kept.size() + evdev > maxKept) {
    refuse(connection, Status::limit);
    return;
  }
  protocol::Answer granted{Status::granted, {}};
  std::vector<Fd> fds;
  for (Found& node : found) {
    std::uint32_t id = 0;
    if (node.evdev) {
      Fd duplicate(fcntl(node.fd.get(), F_DUPFD_CLOEXEC, 0));
      if (!duplicate)
        continue;  // what cannot be taken back is not handed over
      id = nextId_++;
      if (nextId_ == 0)
        nextId_ = 1;
      connection.kept.emplace(id, std::move(duplicate));
    }
    granted.nodes.push_back({id, node.path});
    fds.push_back(std::move(node.fd));
  }
  answer(connection, granted, std::move(fds));
}

void Server::answer(Connection& connection, const protocol::Answer& answer, std::vector<Fd> fds) {
  connection.out = protocol::encode(protocol::Reply(answer));
  connection.sent = 0;
  connection.passing = std::move(fds);
}

// The refusal is the connection's last word: every descriptor handed out on it is revoked at once.
void Server::refuse(Connection& connection, Status status) {
  for (auto& [id, fd] : connection.kept)
    revoke(fd.get());
  connection.kept.clear();
  answer(connection, protocol::Answer{status, {}});
  connection.closing = true;
  connection.in.clear();
}

// Writes what is left of the answer. False when the connection cannot go on now: the answer waits
// for the socket to take more (then only writability is watched), or the connection is over.
bool Server::write(std::uint64_t token, Connection& connection) {
  while (connection.sent < connection.out.size()) {
    iovec part{connection.out.data() + connection.sent, connection.out.size() - connection.sent};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    // The descriptors go with the answer's first bytes.
    std::vector<char> control;
    if (connection.sent == 0 && !connection.passing.empty()) {
      control.resize(CMSG_SPACE(sizeof(int) * connection.passing.size()));
      message.msg_control = control.data();
      message.msg_controllen = control.size();
      cmsghdr* header = CMSG_FIRSTHDR(&message);
      header->cmsg_level = SOL_SOCKET;
      header->cmsg_type = SCM_RIGHTS;
      header->cmsg_len = CMSG_LEN(sizeof(int) * connection.passing.size());
      for (std::size_t i = 0; i < connection.passing.size(); ++i) {
        const int fd = connection.passing[i].get();
        std::memcpy(CMSG_DATA(header) + i * sizeof(int), &fd, sizeof fd);
      }
    }
    const ssize_t n = sendmsg(connection.socket.get(), &message, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && errno == EAGAIN) {
      listenFor(token, connection, EPOLLOUT);
      return false;
    }
    if (n <= 0) {
      finish(connection);
      return false;
    }
    connection.passing.clear();
    connection.sent += static_cast<std::size_t>(n);
  }
  const bool written = !connection.out.empty();
  connection.out.clear();
  connection.sent = 0;
  if (connection.closing) {
    finish(connection);
    return false;
  }
  if (written)
    listenFor(token, connection, EPOLLIN);
  return true;
}

void Server::listenFor(std::uint64_t token, const Connection& connection, std::uint32_t events) {
  epoll_event event{};
  event.events = events;
  event.data.u64 = token;
  epoll_ctl(epoll_.get(), EPOLL_CTL_MOD, connection.socket.get(), &event);
}

void Server::finish(Connection& connection) {
  if (connection.dead)
    return;
  for (auto& [id, fd] : connection.kept)
    revoke(fd.get());
  connection.kept.clear();
  connection.passing.clear();
  epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, connection.socket.get(), nullptr);
  connection.socket.reset();
  connection.dead = true;
}

void Server::sessionsChanged() {
  for (auto& [token, connection] : connections_)
    if (!connection->dead && !session(connection->uid))
      finish(*connection);
  std::erase_if(connections_, [](const auto& entry) { return entry.second->dead; });
}

void Server::shutdown() {
  for (auto& [token, connection] : connections_)
    finish(*connection);
  connections_.clear();
}

}  // namespace helper
