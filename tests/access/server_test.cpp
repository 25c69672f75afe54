// quillfen-access's server with real sockets and a real caller, over nodes that are plain files:
// what it hands over, what it takes back and when, and what it refuses.

#include "access/server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "../support/files.h"
#include "tests/access/client.h"
#include "tests/access/serving.h"

namespace {

using linuxplatform::Fd;
using protocol::Kind;
using protocol::Status;

class Server : public Served {
 protected:
  static ino_t inode(int fd) {
    struct stat info {};
    fstat(fd, &info);
    return info.st_ino;
  }
  static ino_t inode(const std::string& path) {
    struct stat info {};
    stat(path.c_str(), &info);
    return info.st_ino;
  }
};

TEST_F(Server, HandsEveryNodeOfAKindOverAndTakesEvdevOnesBack) {
  const std::string a = node(Kind::input, "event1", true);
  const std::string b = node(Kind::input, "event2", true);
  const std::string u = node(Kind::uinput, "uinput", false);
  Client client(serving->socket);
  ASSERT_TRUE(client.greeted());

  std::vector<Fd> fds;
  ASSERT_TRUE(client.open(Kind::input));
  const auto inputs = client.answer(&fds);
  ASSERT_TRUE(inputs);
  ASSERT_EQ(inputs->status, Status::granted);
  ASSERT_EQ(inputs->nodes.size(), 2u);
  ASSERT_EQ(fds.size(), 2u);
  EXPECT_EQ(inputs->nodes[0].path, a);
  EXPECT_EQ(inode(fds[0].get()), inode(a)) << "each node's descriptor in the order named";
  EXPECT_EQ(inode(fds[1].get()), inode(b));
  EXPECT_NE(inputs->nodes[0].id, 0u);
  EXPECT_NE(inputs->nodes[0].id, inputs->nodes[1].id);

  fds.clear();
  ASSERT_TRUE(client.open(Kind::uinput));
  const auto uinput = client.answer(&fds);
  ASSERT_TRUE(uinput && uinput->nodes.size() == 1 && fds.size() == 1);
  EXPECT_EQ(uinput->nodes[0], (protocol::Node{0, u})) << "nothing to take back";

  // A release takes that node back at once; the end of the connection, the rest.
  ASSERT_TRUE(client.send(protocol::encode(protocol::Release{inputs->nodes[0].id})));
  EXPECT_EQ(revokedAtLeast(1), std::vector<std::string>{a});
  client.fd.reset();
  EXPECT_EQ(revokedAtLeast(2), (std::vector<std::string>{a, b}));
}

TEST_F(Server, RefusesAtOnceWhomItWillNotServe) {
  node(Kind::input, "event1", true);
  for (const Status verdict : {Status::program, Status::traced, Status::dumpable, Status::mapping,
                               Status::environment, Status::session}) {
    SCOPED_TRACE(static_cast<int>(verdict));
    serving->with([verdict](Serving::Told& told) {
      told.verdict = verdict == Status::session ? Status::granted : verdict;
      told.active = verdict != Status::session;
    });
    Client client(serving->socket);
    const auto answer = client.answer();
    ASSERT_TRUE(answer);
    EXPECT_EQ(*answer, (protocol::Answer{verdict, {}}));
    EXPECT_TRUE(client.closed());
  }
  EXPECT_EQ(serving->with([](Serving::Told& told) { return told.finds; }), 0);
}

// Whatever one connection says wrong ends that connection only: another caller keeps its nodes
// and is served on.
TEST_F(Server, AWrongRequestEndsOnlyItsConnection) {
  node(Kind::input, "event1", true);
  Client steady(serving->socket);
  ASSERT_TRUE(steady.greeted());
  ASSERT_TRUE(steady.open(Kind::input));
  std::vector<Fd> kept;
  ASSERT_TRUE(steady.answer(&kept));

  struct Case {
    const char* name;
    std::function<bool(Client&)> say;
  };
  const std::vector<Case> cases = {
      {"another nonce",
       [](Client& client) {
         client.nonce[0] ^= 1;
         return client.open(Kind::input);
       }},
      {"a malformed frame",
       [](Client& client) {
         return client.send({3, 0, 1, 2, 0});
       }},
      {"a length over any request, at once",
       [](Client& client) {
         return client.send({0xFF, 0x7F});
       }},
      {"a release of a number it was never given",
       [](Client& client) { return client.send(protocol::encode(protocol::Release{77})); }},
      {"descriptors",
       [](Client& client) {
         const auto bytes = protocol::encode(protocol::Open{Kind::input, client.nonce});
         iovec part{const_cast<std::uint8_t*>(bytes.data()), bytes.size()};
         alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
         msghdr message{};
         message.msg_iov = &part;
         message.msg_iovlen = 1;
         message.msg_control = control;
         message.msg_controllen = sizeof control;
         cmsghdr* header = CMSG_FIRSTHDR(&message);
         header->cmsg_level = SOL_SOCKET;
         header->cmsg_type = SCM_RIGHTS;
         header->cmsg_len = CMSG_LEN(sizeof(int));
         const int passed = 0;
         std::memcpy(CMSG_DATA(header), &passed, sizeof passed);
         return sendmsg(client.fd.get(), &message, MSG_NOSIGNAL) > 0;
       }},
  };
  for (const Case& item : cases) {
    SCOPED_TRACE(item.name);
    Client client(serving->socket);
    ASSERT_TRUE(client.greeted());
    ASSERT_TRUE(item.say(client));
    EXPECT_TRUE(client.closed()) << "closed with no answer";
  }
  EXPECT_TRUE(revoked().empty());
  ASSERT_TRUE(steady.open(Kind::input));
  const auto again = steady.answer();
  EXPECT_TRUE(again && again->status == Status::granted);
}

// A request written by another process than the one that connected, on a descriptor it was
// handed, is refused, and the connection's nodes are taken back.
TEST_F(Server, RequestsOfAnotherProcessAreRefused) {
  const std::string a = node(Kind::input, "event1", true);
  Client client(serving->socket);
  ASSERT_TRUE(client.greeted());
  ASSERT_TRUE(client.open(Kind::input));
  ASSERT_TRUE(client.answer());
  const auto request = protocol::encode(protocol::Open{Kind::input, client.nonce});
  const pid_t other = fork();
  if (other == 0) {
    const bool sent = ::send(client.fd.get(), request.data(), request.size(), MSG_NOSIGNAL) ==
                      static_cast<ssize_t>(request.size());
    _exit(sent ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(other, &status, 0), other);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const auto answer = client.answer();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, Status::sender);
  EXPECT_TRUE(client.closed());
  EXPECT_EQ(revokedAtLeast(1), std::vector<std::string>{a});
}

TEST_F(Server, TheEndOfTheSessionTakesEverythingBack) {
  const std::string a = node(Kind::input, "event1", true);
  Client client(serving->socket);
  ASSERT_TRUE(client.greeted());
  ASSERT_TRUE(client.open(Kind::input));
  ASSERT_TRUE(client.answer());
  serving->with([](Serving::Told& told) { told.active = false; });
  serving->sessionsChanged();
  EXPECT_TRUE(client.closed());
  EXPECT_EQ(revokedAtLeast(1), std::vector<std::string>{a});
  Client later(serving->socket);
  const auto answer = later.answer();
  EXPECT_TRUE(answer && answer->status == Status::session);
}

// A caller that asks without ever reading fills its own socket; the helper then stops reading it
// and serves everyone else.
TEST_F(Server, ASlowCallerHoldsUpNobodyElse) {
  node(Kind::uinput, "uinput", false);
  Client slow(serving->socket);
  ASSERT_TRUE(slow.greeted());
  fcntl(slow.fd.get(), F_SETFL, O_NONBLOCK);
  const auto request = protocol::encode(protocol::Open{Kind::uinput, slow.nonce});
  int sent = 0;
  while (sent < 100000 && ::send(slow.fd.get(), request.data(), request.size(), MSG_NOSIGNAL) ==
                              static_cast<ssize_t>(request.size()))
    ++sent;
  EXPECT_LT(sent, 100000) << "the helper stopped reading";
  const auto start = std::chrono::steady_clock::now();
  Client quick(serving->socket);
  ASSERT_TRUE(quick.greeted());
  ASSERT_TRUE(quick.open(Kind::uinput));
  const auto answer = quick.answer();
  EXPECT_TRUE(answer && answer->status == Status::granted);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(Server, LimitsConnectionsOfAUserAndDescriptorsHeld) {
  std::vector<std::unique_ptr<Client>> clients;
  for (std::size_t i = 0; i < helper::Server::maxPerUser; ++i) {
    clients.push_back(std::make_unique<Client>(serving->socket));
    ASSERT_TRUE(clients.back()->greeted()) << i;
  }
  Client extra(serving->socket);
  const auto refused = extra.answer();
  EXPECT_TRUE(refused && refused->status == Status::limit);
  clients.clear();

  for (std::size_t i = 0; i < protocol::maxNodes; ++i)
    node(Kind::input, "event" + std::to_string(i), true);
  // Another caller comes in once the helper has seen the ones before go.
  std::unique_ptr<Client> holder;
  for (int i = 0; i < 200 && !holder; ++i) {
    holder = std::make_unique<Client>(serving->socket);
    if (!holder->greeted()) {
      holder.reset();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ASSERT_TRUE(holder);
  std::size_t held = 0;
  for (;;) {
    ASSERT_TRUE(holder->open(Kind::input));
    const auto answer = holder->answer();
    ASSERT_TRUE(answer);
    if (answer->status != Status::granted) {
      EXPECT_EQ(answer->status, Status::limit);
      break;
    }
    held += answer->nodes.size();
  }
  EXPECT_LE(held, helper::Server::maxKept);
  EXPECT_GT(held + protocol::maxNodes, helper::Server::maxKept);
  EXPECT_EQ(revokedAtLeast(held).size(), held) << "the refusal takes everything back";
}

}  // namespace
