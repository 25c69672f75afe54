#include "platform/linux/loop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>

namespace linuxplatform {

namespace {

// The epoll token of the loop's waker; watches count from 1.
constexpr std::uint64_t stopToken = 0;

}  // namespace

Loop& Loop::current() {
  thread_local Loop loop;
  return loop;
}

Loop::Loop()
    : epoll_(epoll_create1(EPOLL_CLOEXEC)),
      waker_(std::make_shared<const Fd>(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))) {
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = stopToken;
  if (epoll_ && *waker_)
    epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, waker_->get(), &event);
}

void Loop::stop(const Waker& waker) {
  const std::uint64_t one = 1;
  if (waker && *waker) [[maybe_unused]]
    const ssize_t n = write(waker->get(), &one, sizeof one);
}

std::uint64_t Loop::add(int fd, Handler handler, void* context) {
  if (!epoll_ || fd < 0)
    return 0;
  const std::uint64_t token = next_++;
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = token;
  if (epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &event) != 0)
    return 0;
  watches_[token] = Watch{fd, handler, context};
  return token;
}

std::uint64_t Loop::defer(Handler handler, void* context) {
  const std::uint64_t token = next_++;
  deferred_.emplace_back(token, Watch{-1, handler, context});
  return token;
}

void Loop::remove(std::uint64_t token) {
  std::erase_if(deferred_, [token](const auto& entry) { return entry.first == token; });
  const auto found = watches_.find(token);
  if (found == watches_.end())
    return;
  epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, found->second.fd, nullptr);
  watches_.erase(found);
}

Loop::Result Loop::run(double seconds, bool once) {
  if (empty())
    return Result::finished;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(seconds));
  bool handled = false;
  bool fresh = true;  // nothing has run or waited yet
  for (;;) {
    if (!deferred_.empty()) {
      const Watch watch = deferred_.front().second;
      deferred_.pop_front();
      watch.handler(watch.context, 0);
      handled = true;
      fresh = false;
      if (once)
        return Result::handled;
      if (Clock::now() >= deadline)
        break;
      continue;
    }
    if (watches_.empty())
      break;
    // A wait before anything ran is the whole time: no clock to read for it.
    const double left =
        fresh ? seconds * 1000
              : std::chrono::duration<double, std::milli>(deadline - Clock::now()).count();
    fresh = false;
    const int timeout = left <= 0         ? 0
                        : left >= INT_MAX ? INT_MAX
                                          : static_cast<int>(std::ceil(left));
    epoll_event event{};
    const int ready = epoll_wait(epoll_.get(), &event, 1, timeout);
    if (ready == 1 && event.data.u64 == stopToken) {
      std::uint64_t stops = 0;
      [[maybe_unused]] const ssize_t n = read(waker_->get(), &stops, sizeof stops);
      return Result::handled;
    } else if (ready == 1) {
      // The watch may have been removed by an earlier handler of this run.
      const auto found = watches_.find(event.data.u64);
      if (found != watches_.end()) {
        const Watch watch = found->second;
        watch.handler(watch.context, event.events);
        handled = true;
        if (once)
          return Result::handled;
      }
    } else if (ready < 0 && errno != EINTR) {
      break;
    }
    if (Clock::now() >= deadline)
      break;
  }
  return handled ? Result::handled : Result::timedOut;
}

}  // namespace linuxplatform
