#pragma once

// A backend with its real worker thread on the simulated platform, brought to the isolated test
// or to active actions, for the benchmarks. Statuses are delivered on the worker itself: the
// benchmarks have no main loop.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "backend/backend.h"
#include "platform/sim/sim.h"

class Rig {
 public:
  // Captured with all three pedals learned (left 1, middle 2, right 4), and with actions active
  // when `activate`: left posts Space, the guard is off.
  explicit Rig(bool activate) {
    sim::reset();
    id = sim::plug();
    backend = std::make_shared<Backend>();
    backend->dispatch = [](std::function<void()> closure) { closure(); };
    backend->update = [this](const std::string&, bool, bool, const std::vector<std::string>&) {
      std::lock_guard hold(mutex);
      ++statuses;
      changed.notify_all();
    };
    const Settings settings(1, {{"left", "space"}, {"middle", "none"}, {"right", "none"}}, "off");
    backend->launch();
    step([&] {
      command([settings](Backend& b) {
        b.configure(settings);
        b.inspect();
      });
    });
    step([&] { command([](Backend& b) { b.start(true); }); });
    step([&] { sim::deliver(id, {0, 0}); });
    const std::pair<const char*, std::uint8_t> pedals[] = {
        {"left", 1}, {"middle", 2}, {"right", 4}};
    for (const auto& [name, bit] : pedals) {
      step([&] { command([name = std::string(name)](Backend& b) { b.learn(name); }); });
      step([&] { sim::deliver(id, {bit, 0}); });
      step([&] { sim::deliver(id, {0, 0}); });
    }
    if (activate)
      step([&] { command([](Backend& b) { b.activate(true); }); });
  }

  ~Rig() {
    step([&] { backend->close(); }, 2);  // "Stopped." and "Closed."
    std::weak_ptr<Backend> held = backend;
    backend.reset();
    while (!held.expired())
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    sim::reset();
  }

  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  std::uint64_t id;

 private:
  void command(std::function<void(Backend&)> run) {
    backend->send([b = backend.get(), run = std::move(run)] { run(*b); });
  }

  // Runs `act` and waits for the `count` statuses it causes.
  void step(const std::function<void()>& act, int count = 1) {
    std::unique_lock hold(mutex);
    const int target = statuses + count;
    hold.unlock();
    act();
    hold.lock();
    if (!changed.wait_for(hold, std::chrono::seconds(10), [&] { return statuses >= target; }))
      throw std::runtime_error("the backend did not answer");
  }

  std::shared_ptr<Backend> backend;
  std::mutex mutex;
  std::condition_variable changed;
  int statuses = 0;
};
