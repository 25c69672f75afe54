#include "platform/linux/nodes.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace linuxplatform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto answerTime = std::chrono::seconds(5);  // for each frame of the helper
constexpr auto keptFor = std::chrono::seconds(1);
constexpr auto askAgain = std::chrono::seconds(1);     // after a refusal
constexpr auto reachAgain = std::chrono::seconds(10);  // after a helper that did not answer
constexpr timeval sendTime{2, 0};

// Writes a whole frame, waiting at most `sendTime`.
bool sendFrame(int socket, const std::vector<std::uint8_t>& frame) {
  std::size_t sent = 0;
  while (sent < frame.size()) {
    const ssize_t n = send(socket, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

// The helper's next frame and the descriptors that came with it. The helper writes a frame only
// when one is due, so bytes beyond it, a malformed frame, a descriptor too many for the control
// buffer, or no frame within `answerTime` are all the end of the conversation.
bool receive(int socket, protocol::Reply& reply, std::vector<Fd>& fds) {
  std::vector<std::uint8_t> bytes;
  const auto deadline = Clock::now() + answerTime;
  for (;;) {
    const auto decoded = protocol::decodeReply(bytes);
    using Result = protocol::Decoded<protocol::Reply>::Result;
    if (decoded.result == Result::malformed)
      return false;
    if (decoded.result == Result::complete) {
      reply = decoded.value;
      return decoded.used == bytes.size();
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd ready{socket, POLLIN, 0};
    if (left <= 0)
      return false;
    const int n = poll(&ready, 1, static_cast<int>(left));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    std::uint8_t chunk[protocol::maxReply];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * protocol::maxNodes)];
    iovec part{chunk, protocol::maxReply - bytes.size()};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    if (got < 0 && errno == EINTR)
      continue;
    // Whatever else happens, the descriptors that came are owned, and closed with `fds`.
    for (cmsghdr* header = got >= 0 ? CMSG_FIRSTHDR(&message) : nullptr; header;
         header = CMSG_NXTHDR(&message, header)) {
      if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
        continue;
      const std::size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
      for (std::size_t i = 0; i < count; ++i) {
        int fd;
        std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof fd);
        fds.emplace_back(fd);
      }
    }
    if (got <= 0 || (message.msg_flags & MSG_CTRUNC))
      return false;
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
}

Fd reach(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path)
    return Fd();
  std::memcpy(address.sun_path, path.data(), path.size());
  Fd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  // The timeout also bounds connect(), should the helper's backlog be full.
  if (!fd || setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &sendTime, sizeof sendTime) != 0 ||
      connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return Fd();
  return fd;
}

}  // namespace

void Link::release(std::uint32_t id) {
  if (socket && !broken && !sendFrame(socket.get(), protocol::encode(protocol::Release{id})))
    broken = true;
}

Opened::Opened(Opened&& other) noexcept
    : fd_(std::move(other.fd_)), link_(std::move(other.link_)), id_(std::exchange(other.id_, 0)) {}

Opened& Opened::operator=(Opened&& other) noexcept {
  if (this != &other) {
    reset();
    fd_ = std::move(other.fd_);
    link_ = std::move(other.link_);
    id_ = std::exchange(other.id_, 0);
  }
  return *this;
}

void Opened::reset() {
  fd_.reset();
  // Closed here first: the helper's revocation then ends nothing this process still uses.
  if (link_ && id_ != 0)
    link_->release(id_);
  link_.reset();
  id_ = 0;
}

Nodes::Nodes(std::string socket) : socket_(std::move(socket)) {}

Nodes& Nodes::worker() {
  static Nodes nodes(geteuid() == 0 ? std::string() : std::string(protocol::socketPath));
  return nodes;
}

Route Nodes::route() {
  prune();
  if (link_ && link_->broken)
    end();
  if (state_ == State::undecided || (state_ != State::helper && Clock::now() >= retry_))
    decide();
  return state_ == State::direct ? Route::direct : Route::helper;
}

void Nodes::decide() {
  state_ = State::direct;
  refusal_ = protocol::Status::granted;
  retry_ = Clock::time_point::max();
  if (socket_.empty())
    return;
  struct stat info {};
  if (stat(socket_.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) {
    retry_ = Clock::now() + askAgain;  // the helper may yet be installed
    return;
  }
  // Before anything is asked: from here on no other process of this user can attach to this one
  // or open its descriptors, and the helper checks that it is so.
  if (undumpable)
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  auto link = std::make_shared<Link>();
  link->socket = reach(socket_);
  protocol::Reply reply;
  std::vector<Fd> fds;
  if (!link->socket || !receive(link->socket.get(), reply, fds) || !fds.empty()) {
    refusal_ = protocol::Status::failed;
    retry_ = Clock::now() + reachAgain;
    return;
  }
  if (const auto* hello = std::get_if<protocol::Hello>(&reply)) {
    state_ = State::helper;
    link_ = std::move(link);
    nonce_ = hello->nonce;
    notify();
    return;
  }
  // A grant before anything was asked is no answer the helper gives.
  const protocol::Status status = std::get<protocol::Answer>(reply).status;
  refusal_ = status == protocol::Status::granted ? protocol::Status::failed : status;
  // Another program than the installed one opens its nodes itself, for good: it stays another.
  if (status == protocol::Status::program)
    return;
  state_ = State::refused;
  retry_ = Clock::now() + askAgain;
}

bool Nodes::ask(protocol::Kind kind) {
  protocol::Reply reply;
  std::vector<Fd> fds;
  if (!sendFrame(link_->socket.get(), protocol::encode(protocol::Open{kind, nonce_})) ||
      !receive(link_->socket.get(), reply, fds) ||
      !std::holds_alternative<protocol::Answer>(reply)) {
    end();
    return false;
  }
  auto& answer = std::get<protocol::Answer>(reply);
  if (answer.status != protocol::Status::granted) {
    refusal_ = answer.status;
    end();
    state_ = State::refused;
    retry_ = Clock::now() + askAgain;
    return false;
  }
  if (fds.size() != answer.nodes.size()) {
    end();
    return false;
  }
  // What is left of the kind's last answer is stale now.
  std::erase_if(kept_, [kind](const Kept& kept) { return kept.kind == kind; });
  std::vector<std::string>& list = lists_[kind];
  list.clear();
  const auto now = Clock::now();
  for (std::size_t i = 0; i < fds.size(); ++i) {
    list.push_back(answer.nodes[i].path);
    kept_.push_back(
        {kind, answer.nodes[i].path, Opened(std::move(fds[i]), link_, answer.nodes[i].id), now});
  }
  notify();  // what the helper grants may have changed
  return true;
}

void Nodes::end() {
  // The watcher lets go of the socket before it is closed, so that its number, once reused, is
  // never mistaken for this one.
  const std::shared_ptr<Link> ended = std::move(link_);
  // The helper takes back everything of a connection that ends: nothing is given back on it.
  if (ended)
    ended->broken = true;
  kept_.clear();
  lists_.clear();
  if (state_ == State::helper)
    state_ = State::undecided;
  notify();
  if (ended)
    ended->socket.reset();
}

void Nodes::notify() {
  if (listener_)
    listener_(listenerContext_);
}

bool Nodes::listed(protocol::Kind kind, const std::string& path) const {
  const auto found = lists_.find(kind);
  return found != lists_.end() &&
         std::find(found->second.begin(), found->second.end(), path) != found->second.end();
}

// Gives back the descriptors kept longer than a second. Every use of the nodes comes by `route`.
void Nodes::prune() {
  const auto now = Clock::now();
  std::erase_if(kept_, [now](const Kept& kept) { return now - kept.at > keptFor; });
}

Opened Nodes::take(protocol::Kind kind, const std::string& path) {
  prune();
  for (auto kept = kept_.begin(); kept != kept_.end(); ++kept) {
    if (kept->kind == kind && kept->path == path) {
      Opened fd = std::move(kept->fd);
      kept_.erase(kept);
      return fd;
    }
  }
  return Opened();
}

int Nodes::missing(const std::string& path) const {
  struct stat info {};
  return stat(path.c_str(), &info) != 0 && errno == ENOENT ? ENOENT : EACCES;
}

Opened Nodes::open(protocol::Kind kind, const std::string& path, int flags) {
  if (route() == Route::direct)
    return Opened(Fd(::open(path.c_str(), flags)));
  if (state_ == State::refused) {
    errno = EACCES;
    return Opened();
  }
  if (Opened taken = take(kind, path))
    return taken;
  if (!ask(kind)) {
    errno = EACCES;
    return Opened();
  }
  if (Opened taken = take(kind, path))
    return taken;
  errno = missing(path);
  return Opened();
}

int Nodes::check(protocol::Kind kind, const std::string& path, int mode) {
  if (route() == Route::direct)
    return ::access(path.c_str(), mode) == 0 ? 0 : errno;
  if (state_ == State::refused)
    return EACCES;
  if (listed(kind, path))
    return 0;
  if (!ask(kind))
    return EACCES;
  return listed(kind, path) ? 0 : missing(path);
}

bool Nodes::current(const Opened& opened) {
  if (opened.link())
    readable();
  return stands(opened);
}

int Nodes::connection() const {
  return link_ && link_->socket ? link_->socket.get() : -1;
}

void Nodes::readable() {
  if (!link_)
    return;
  char byte;
  if (!link_->broken && recv(link_->socket.get(), &byte, 1, MSG_DONTWAIT | MSG_PEEK) < 0 &&
      (errno == EAGAIN || errno == EINTR))
    return;
  end();
}

}  // namespace linuxplatform
