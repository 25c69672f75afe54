#include "platform/linux/loop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <thread>
#include <utility>
#include <vector>

namespace {

using linuxplatform::Fd;
using linuxplatform::Loop;

struct Pipe {
  Fd read, write;
  Pipe() {
    int fds[2];
    EXPECT_EQ(pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
    read.reset(fds[0]);
    write.reset(fds[1]);
  }
  void fill() { ASSERT_EQ(::write(write.get(), "x", 1), 1); }
};

struct Seen {
  std::vector<int> order;
};

struct Source {
  Seen* seen;
  int id;
  int fd;
  Loop* loop = nullptr;
  std::uint64_t removes = 0;  // a watch this source's handler removes
};

void handle(void* context, std::uint32_t) {
  auto& source = *static_cast<Source*>(context);
  char byte;
  while (::read(source.fd, &byte, 1) == 1) {
  }
  source.seen->order.push_back(source.id);
  if (source.removes)
    source.loop->remove(source.removes);
}

double secondsOf(void (*run)()) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Every test runs on a thread of its own, so each gets a fresh thread's loop.
template <typename Body>
void onThread(Body body) {
  std::thread thread(body);
  thread.join();
}

TEST(Loop, WithoutWatchesItFinishesAtOnce) {
  onThread([] {
    EXPECT_LT(secondsOf([] { EXPECT_EQ(Loop::current().run(1.0, true), Loop::Result::finished); }),
              0.5);
  });
}

TEST(Loop, OneRunHandlesOneReadySourceThenTimesOut) {
  onThread([] {
    Loop& loop = Loop::current();
    Seen seen;
    Pipe a, b;
    Source first{&seen, 1, a.read.get()}, second{&seen, 2, b.read.get()};
    const auto ta = loop.add(a.read.get(), &handle, &first);
    const auto tb = loop.add(b.read.get(), &handle, &second);
    ASSERT_NE(ta, 0u);
    ASSERT_NE(tb, 0u);
    a.fill();
    b.fill();
    EXPECT_EQ(loop.run(1.0, true), Loop::Result::handled);
    EXPECT_EQ(seen.order.size(), 1u);
    EXPECT_EQ(loop.run(1.0, true), Loop::Result::handled);
    EXPECT_EQ(seen.order.size(), 2u);
    EXPECT_NE(seen.order[0], seen.order[1]);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(loop.run(0.05, true), Loop::Result::timedOut);
    const double waited =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(waited, 0.045);
    EXPECT_LT(waited, 0.5);
    loop.remove(ta);
    loop.remove(tb);
    EXPECT_TRUE(loop.empty());
  });
}

TEST(Loop, AHandlerMayRemoveAWatchThatIsAlreadyReady) {
  onThread([] {
    Loop& loop = Loop::current();
    Seen seen;
    Pipe a, b;
    Source first{&seen, 1, a.read.get(), &loop}, second{&seen, 2, b.read.get(), &loop};
    const auto ta = loop.add(a.read.get(), &handle, &first);
    const auto tb = loop.add(b.read.get(), &handle, &second);
    first.removes = tb;
    second.removes = ta;
    a.fill();
    b.fill();
    // Both are ready; whichever runs first removes the other, which must then never run.
    EXPECT_EQ(loop.run(0.05, false), Loop::Result::handled);
    EXPECT_EQ(seen.order.size(), 1u);
    loop.remove(seen.order.at(0) == 1 ? ta : tb);
    EXPECT_TRUE(loop.empty());
  });
}

void deferred(void* context, std::uint32_t) {
  static_cast<Seen*>(context)->order.push_back(0);
}

TEST(Loop, DeferredCallsRunOnceBeforeAnyWaitAndCanBeWithdrawn) {
  onThread([] {
    Loop& loop = Loop::current();
    Seen seen;
    Pipe a;
    Source first{&seen, 1, a.read.get(), &loop};
    const auto watch = loop.add(a.read.get(), &handle, &first);
    a.fill();
    loop.defer(&deferred, &seen);
    const auto withdrawn = loop.defer(&deferred, &seen);
    loop.defer(&deferred, &seen);
    loop.remove(withdrawn);
    // The two deferred calls come first, each a handled source, then the ready pipe.
    EXPECT_EQ(loop.run(1.0, true), Loop::Result::handled);
    EXPECT_EQ(loop.run(1.0, true), Loop::Result::handled);
    EXPECT_EQ(loop.run(1.0, true), Loop::Result::handled);
    EXPECT_EQ(seen.order, (std::vector<int>{0, 0, 1}));
    EXPECT_EQ(loop.run(0.02, true), Loop::Result::timedOut);
    loop.remove(watch);
    // A deferred call alone keeps the loop from being finished, and once it ran nothing is left
    // to wait for.
    loop.defer(&deferred, &seen);
    EXPECT_FALSE(loop.empty());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(loop.run(1.0, false), Loop::Result::handled);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 0.5);
    EXPECT_TRUE(loop.empty());
    EXPECT_EQ(seen.order.size(), 4u);
  });
}

TEST(Loop, AStopFromAnyThreadEndsTheCurrentRunOrElseTheNext) {
  Loop::Waker kept;
  onThread([&kept] {
    Loop& loop = Loop::current();
    Seen seen;
    Pipe a;
    Source first{&seen, 1, a.read.get()};
    const auto watch = loop.add(a.read.get(), &handle, &first);
    kept = loop.waker();

    // Stops before a run are kept for it, however many came; the run after has none.
    Loop::stop(kept);
    Loop::stop(kept);
    EXPECT_LT(secondsOf([] { EXPECT_EQ(Loop::current().run(5.0, true), Loop::Result::handled); }),
              0.5);
    EXPECT_EQ(loop.run(0.02, true), Loop::Result::timedOut);

    // A stop from another thread ends a run that would wait for a year.
    std::thread stopper([&kept] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      Loop::stop(kept);
    });
    EXPECT_LT(secondsOf([] {
                EXPECT_EQ(Loop::current().run(365.0 * 24 * 3600, true), Loop::Result::handled);
              }),
              2.0);
    stopper.join();
    EXPECT_TRUE(seen.order.empty()) << "a stop runs no handler";
    loop.remove(watch);
  });
  // The loop ended with its thread; a late stop changes nothing.
  Loop::stop(kept);
}

TEST(Loop, RefusesWhatEpollCannotWatch) {
  onThread([] {
    Seen seen;
    Source none{&seen, 0, -1};
    EXPECT_EQ(Loop::current().add(-1, &handle, &none), 0u);
    EXPECT_TRUE(Loop::current().empty());
  });
}

}  // namespace
