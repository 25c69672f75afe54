#pragma once

// A caller of quillfen-access that says exactly what the test makes it say, and hears every frame
// and descriptor the helper writes.

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "access/protocol.h"
#include "platform/linux/fd.h"

class Client {
 public:
  explicit Client(const std::string& path) : fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      fd.reset();
  }

  bool send(const std::vector<std::uint8_t>& bytes) {
    return ::send(fd.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }
  bool open(protocol::Kind kind) { return send(protocol::encode(protocol::Open{kind, nonce})); }

  // The helper's next frame, and in `fds` the descriptors that came with it; none when the helper
  // closed the connection, wrote something malformed, or nothing came within `ms`.
  std::optional<protocol::Reply> next(std::vector<linuxplatform::Fd>* fds = nullptr,
                                      int ms = 5000) {
    for (;;) {
      const auto decoded = protocol::decodeReply(bytes_);
      if (decoded.result == protocol::Decoded<protocol::Reply>::Result::malformed)
        return std::nullopt;
      if (decoded.result == protocol::Decoded<protocol::Reply>::Result::complete) {
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(decoded.used));
        return decoded.value;
      }
      pollfd ready{fd.get(), POLLIN, 0};
      if (poll(&ready, 1, ms) != 1)
        return std::nullopt;
      std::uint8_t chunk[protocol::maxReply];
      alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * protocol::maxNodes)];
      iovec part{chunk, sizeof chunk};
      msghdr message{};
      message.msg_iov = &part;
      message.msg_iovlen = 1;
      message.msg_control = control;
      message.msg_controllen = sizeof control;
      const ssize_t n = recvmsg(fd.get(), &message, MSG_CMSG_CLOEXEC);
      for (cmsghdr* header = n > 0 ? CMSG_FIRSTHDR(&message) : nullptr; header;
           header = CMSG_NXTHDR(&message, header)) {
        for (std::size_t i = 0; i < (header->cmsg_len - CMSG_LEN(0)) / sizeof(int); ++i) {
          int received;
          std::memcpy(&received, CMSG_DATA(header) + i * sizeof(int), sizeof received);
          if (fds)
            fds->emplace_back(received);
          else
            close(received);
        }
      }
      if (n <= 0)
        return std::nullopt;
      bytes_.insert(bytes_.end(), chunk, chunk + n);
    }
  }

  // Reads the hello and keeps its nonce; false when the helper said anything else.
  bool greeted() {
    const auto reply = next();
    if (!reply || !std::holds_alternative<protocol::Hello>(*reply))
      return false;
    nonce = std::get<protocol::Hello>(*reply).nonce;
    return true;
  }

  // The answer to the request just sent, with its descriptors.
  std::optional<protocol::Answer> answer(std::vector<linuxplatform::Fd>* fds = nullptr) {
    const auto reply = next(fds);
    if (!reply || !std::holds_alternative<protocol::Answer>(*reply))
      return std::nullopt;
    return std::get<protocol::Answer>(*reply);
  }

  // Whether the helper closed the connection, with nothing more said, within `ms`. A connection
  // closed with bytes of ours still unread there reads as reset.
  bool closed(int ms = 5000) {
    pollfd ready{fd.get(), POLLIN, 0};
    char byte;
    if (!bytes_.empty() || poll(&ready, 1, ms) != 1)
      return false;
    const ssize_t n = recv(fd.get(), &byte, 1, 0);
    return n == 0 || (n < 0 && errno == ECONNRESET);
  }

  linuxplatform::Fd fd;
  protocol::Nonce nonce{};

 private:
  std::vector<std::uint8_t> bytes_;
};
