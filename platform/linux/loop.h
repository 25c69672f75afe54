#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <utility>

#include "platform/linux/fd.h"

namespace linuxplatform {

// A thread's run loop: an epoll set of descriptors, each with a C-style handler. Handlers run on
// the thread that runs the loop, one per readiness; a handler may add or remove any watch,
// including its own.
class Loop {
 public:
  using Handler = void (*)(void* context, std::uint32_t events);

  // The calling thread's loop, made on first use.
  static Loop& current();

  // Watches `fd` for input; returns a token for `remove`, or 0 when epoll refuses the descriptor.
  std::uint64_t add(int fd, Handler handler, void* context);
  // Runs `handler` once, from the next run of the loop, before it waits; returns a token for
  // `remove`. Deferred handlers run in the order deferred, each counting as a handled source.
  std::uint64_t defer(Handler handler, void* context);
  void remove(std::uint64_t token);
  bool empty() const { return watches_.empty() && deferred_.empty(); }

  enum class Result { finished, timedOut, handled };
  // Waits at most `seconds` and runs the handler of each ready descriptor; with `once` it returns
  // after the first. With no watches at all it returns `finished` at once. A stop counts as a
  // handled source.
  Result run(double seconds, bool once);

  // What other threads stop the loop with: `stop(waker())` makes its current run return, or its
  // next one when it is not running. The waker outlives the loop, so a stop that comes after the
  // loop's thread ended changes nothing.
  using Waker = std::shared_ptr<const Fd>;
  Waker waker() const { return waker_; }
  static void stop(const Waker& waker);

 private:
  Loop();

  struct Watch {
    int fd;
    Handler handler;
    void* context;
  };
  Fd epoll_;
  Waker waker_;  // an eventfd, readable while a stop is pending
  std::uint64_t next_ = 1;
  std::map<std::uint64_t, Watch> watches_;
  std::deque<std::pair<std::uint64_t, Watch>> deferred_;
};

}  // namespace linuxplatform
