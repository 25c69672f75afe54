// The program's side of quillfen-access (platform/linux/nodes.h) against the helper's server: one
// request per kind, nodes given back when closed, the end of a connection told, and each refusal's
// route.

#include "platform/linux/nodes.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "../support/files.h"
#include "tests/access/serving.h"

namespace {

using linuxplatform::Nodes;
using linuxplatform::Opened;
using linuxplatform::Route;
using protocol::Kind;
using protocol::Status;

class Asking : public Served {
 protected:
  void SetUp() override {
    Served::SetUp();
    if (HasFatalFailure())
      return;
    nodes = std::make_unique<Nodes>(serving->socket);
    nodes->undumpable = false;  // this test process stays as it is
    nodes->listen([](void* context) { ++*static_cast<int*>(context); }, &told);
  }
  void TearDown() override {
    nodes.reset();
    Served::TearDown();
  }

  int finds() {
    return serving->with([](Serving::Told& state) { return state.finds; });
  }
  static bool same(const Opened& opened, const std::string& path) {
    struct stat a {};
    struct stat b {};
    return fstat(opened.get(), &a) == 0 && stat(path.c_str(), &b) == 0 && a.st_ino == b.st_ino;
  }

  std::unique_ptr<Nodes> nodes;
  int told = 0;  // the listener's calls
};

TEST_F(Asking, OneRequestOpensEveryNodeOfAKind) {
  const std::string a = node(Kind::input, "event1", true);
  const std::string b = node(Kind::input, "event2", true);
  const std::string other = (folder / "event3").string();
  put(other, "not handed over");
  EXPECT_EQ(nodes->route(), Route::helper);
  EXPECT_EQ(nodes->check(Kind::input, a, R_OK), 0);
  const Opened first = nodes->open(Kind::input, a, O_RDONLY);
  const Opened second = nodes->open(Kind::input, b, O_RDONLY);
  EXPECT_TRUE(same(first, a) && same(second, b));
  EXPECT_EQ(finds(), 1) << "one request for the kind";
  // A second descriptor of a node taken already is a request of its own.
  const Opened again = nodes->open(Kind::input, a, O_RDONLY);
  EXPECT_TRUE(same(again, a));
  EXPECT_EQ(finds(), 2);
  // A node the helper does not hand over is refused; one that is not there, missing.
  EXPECT_EQ(nodes->check(Kind::input, other, R_OK), EACCES);
  EXPECT_EQ(nodes->check(Kind::input, (folder / "gone").string(), R_OK), ENOENT);
  errno = 0;
  EXPECT_FALSE(nodes->open(Kind::input, other, O_RDONLY));
  EXPECT_EQ(errno, EACCES);
  EXPECT_TRUE(nodes->current(first));
}

TEST_F(Asking, AClosedNodeGoesBackToTheHelper) {
  const std::string a = node(Kind::input, "event1", true);
  const std::string u = node(Kind::uinput, "uinput", false);
  Opened input = nodes->open(Kind::input, a, O_RDONLY);
  Opened uinput = nodes->open(Kind::uinput, u, O_WRONLY);
  ASSERT_TRUE(input && uinput);
  input.reset();
  EXPECT_EQ(revokedAtLeast(1), std::vector<std::string>{a});
  uinput.reset();
  nodes.reset();  // the connection's end takes back whatever is left: nothing
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(revoked(), std::vector<std::string>{a}) << "uinput is never taken back";
}

TEST_F(Asking, TheEndOfTheConnectionIsToldAndItsNodesAreNoLongerCurrent) {
  const std::string a = node(Kind::input, "event1", true);
  const Opened input = nodes->open(Kind::input, a, O_RDONLY);
  ASSERT_TRUE(input);
  const int before = told;
  ASSERT_GE(nodes->connection(), 0);
  serving->with([](Serving::Told& state) { state.active = false; });
  serving->sessionsChanged();
  for (int i = 0; i < 200 && nodes->connection() >= 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    nodes->readable();
  }
  EXPECT_EQ(nodes->connection(), -1);
  EXPECT_GT(told, before);
  EXPECT_FALSE(nodes->current(input));
  // Asking again meets the helper's refusal, which holds for a while.
  EXPECT_EQ(nodes->check(Kind::input, a, R_OK), EACCES);
  EXPECT_EQ(nodes->route(), Route::helper);
  EXPECT_EQ(nodes->refusal(), Status::session);
  EXPECT_FALSE(nodes->open(Kind::input, a, O_RDONLY));
}

TEST_F(Asking, WhereTheNodesComeFromAfterEachAnswerAtTheDoor) {
  const std::string a = node(Kind::input, "event1", true);
  struct Case {
    Status verdict;
    Route route;
    int error;  // of check()
  };
  // Another program than the installed one opens the nodes itself; a refused one has none.
  for (const Case item :
       {Case{Status::program, Route::direct, 0}, Case{Status::traced, Route::helper, EACCES},
        Case{Status::environment, Route::helper, EACCES}}) {
    SCOPED_TRACE(static_cast<int>(item.verdict));
    serving->with([&](Serving::Told& state) { state.verdict = item.verdict; });
    Nodes asker(serving->socket);
    asker.undumpable = false;
    EXPECT_EQ(asker.route(), item.route);
    EXPECT_EQ(asker.refusal(), item.verdict);
    EXPECT_EQ(asker.check(Kind::input, a, R_OK), item.error);
  }
  // No helper: the nodes are opened directly, at once.
  Nodes alone((folder / "no.socket").string());
  EXPECT_EQ(alone.route(), Route::direct);
  EXPECT_EQ(alone.refusal(), Status::granted);
  EXPECT_TRUE(alone.open(Kind::input, a, O_RDONLY));
}

}  // namespace
