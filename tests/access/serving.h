#pragma once

// quillfen-access's server on a socket in a scratch folder and a thread of its own, judging
// callers and finding nodes as the test tells it. Its nodes are plain files, and each revocation is
// noted by the file it took back.

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "../support/files.h"
#include "access/server.h"
#include "platform/linux/fd.h"

class Serving {
 public:
  // What the test tells the server, and what the server did; under `lock`.
  struct Told {
    protocol::Status verdict = protocol::Status::granted;  // every caller's examination
    bool active = true;                                    // every user's session
    std::map<protocol::Kind, std::vector<std::pair<std::string, bool>>> nodes;  // path, evdev
    std::vector<std::string> revoked;  // the file of each revocation
    int finds = 0;                     // requests that reached the nodes
    int examined = 0;
  };

  explicit Serving(const std::filesystem::path& folder)
      : socket((folder / "helper.socket").string()) {
    listener_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
    if (bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_.get(), 16) != 0)
      listener_.reset();
    thread_ = std::thread([this] { serve(); });
  }
  ~Serving() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(stop_.get(), &one, sizeof one);
    thread_.join();
  }

  bool listening() const { return static_cast<bool>(listener_); }

  // Runs `change` on what the server is told, under the lock; returns what it returns.
  template <typename Change>
  auto with(Change change) {
    std::lock_guard hold(lock_);
    return change(told_);
  }
  // Has the server look at every caller's session again, as a change of logind's files does.
  void sessionsChanged() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(changed_.get(), &one, sizeof one);
  }

  const std::string socket;

 private:
  void serve() {
    helper::Server server(listener_.get());
    server.examine = [this](pid_t) {
      std::lock_guard hold(lock_);
      ++told_.examined;
      return told_.verdict;
    };
    server.session = [this](uid_t) {
      std::lock_guard hold(lock_);
      return told_.active;
    };
    server.find = [this](protocol::Kind kind) {
      std::lock_guard hold(lock_);
      ++told_.finds;
      std::vector<helper::Found> found;
      for (const auto& [path, evdev] : told_.nodes[kind]) {
        linuxplatform::Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd)
          found.push_back({path, std::move(fd), evdev});
      }
      return found;
    };
    server.revoke = [this](int fd) {
      char path[256] = "";
      const std::string link = "/proc/self/fd/" + std::to_string(fd);
      const ssize_t n = readlink(link.c_str(), path, sizeof path - 1);
      std::lock_guard hold(lock_);
      told_.revoked.emplace_back(path, n > 0 ? static_cast<std::size_t>(n) : 0);
    };
    bool stopping = false;
    server.watch(stop_.get(), [&stopping] { stopping = true; });
    server.watch(changed_.get(), [this, &server] {
      std::uint64_t count;
      [[maybe_unused]] const ssize_t n = read(changed_.get(), &count, sizeof count);
      server.sessionsChanged();
    });
    while (!stopping && server.turn(-1)) {
    }
  }

  linuxplatform::Fd listener_;
  linuxplatform::Fd stop_{eventfd(0, EFD_CLOEXEC)};
  linuxplatform::Fd changed_{eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
  std::mutex lock_;
  Told told_;
  std::thread thread_;
};

// A test with the server on a scratch folder of its own, its nodes plain files there.
class Served : public testing::Test {
 protected:
  void SetUp() override {
    folder = scratchFolder("served");
    ASSERT_FALSE(folder.empty());
    serving = std::make_unique<Serving>(folder);
    ASSERT_TRUE(serving->listening());
  }
  void TearDown() override {
    serving.reset();
    std::filesystem::remove_all(folder);
  }

  // A node of `kind`: a file of its own, holding its name.
  std::string node(protocol::Kind kind, const std::string& name, bool evdev) {
    const std::string path = (folder / name).string();
    put(path, name);
    serving->with([&](Serving::Told& told) { told.nodes[kind].emplace_back(path, evdev); });
    return path;
  }
  std::vector<std::string> revoked() {
    return serving->with([](Serving::Told& told) { return told.revoked; });
  }
  // Waits up to two seconds for `count` revocations.
  std::vector<std::string> revokedAtLeast(std::size_t count) {
    for (int i = 0; i < 200 && revoked().size() < count; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return revoked();
  }

  std::filesystem::path folder;
  std::unique_ptr<Serving> serving;
};
