#pragma once

// The window's logic without a toolkit, over the simulated platform: a toolkit of its own stands
// in for Qt or AppKit. Tasks handed to the main thread wait in a queue that the test drains; the
// heartbeat timer, the delayed startup check and the session observer are kept for the test to
// fire; every call the App makes of the toolkit is recorded in order.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../support/files.h"
#include "app/app.h"
#include "app/file.h"
#include "backend/backend.h"
#include "platform/sim/sim.h"

inline const std::string started =
    "Isolated test started. Release pedals to establish neutral, then learn each pedal. Verify "
    "originals and ordinary mouse in another app.";

inline std::string inspected(std::uint64_t pedal) {
  return "VEC USB Footpedal · 05f3:00ff · two-byte candidate protocol · registry " +
         std::to_string(pedal) + ". Physical compatibility unverified.";
}

class Shell : public testing::Test {
 protected:
  using Task = std::function<void()>;

  void SetUp() override {
    sim::reset();
    config = scratchFolder("app");
    ASSERT_FALSE(config.empty());
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    // On macOS the settings live in the home folder's Library.
    if (const char* home = std::getenv("HOME"))
      savedHome = home;
    setenv("HOME", config.c_str(), 1);
  }

  void TearDown() override {
    close();
    std::filesystem::remove_all(config);
    if (savedHome)
      setenv("HOME", savedHome->c_str(), 1);
    else
      unsetenv("HOME");
  }

  // Makes the App with this toolkit; `launch` runs the launch sequence too.
  void make(std::vector<std::string> arguments = {"quillfen"}) {
    app = std::make_unique<App>(std::move(arguments), config / "bin");
    Toolkit& kit = app->toolkit;
    auto record = [this](const char* name) { return [this, name] { calls.push_back(name); }; };
    kit.look = record("look");
    kit.build = record("build");
    kit.changed = [this] { ++changes; };
    kit.dispatch = [this](Task task) {
      const std::lock_guard<std::mutex> hold(lock);
      queue.push_back(std::move(task));
    };
    kit.observe = [this](Task task) {
      calls.push_back("observe");
      observer = std::move(task);
    };
    kit.every = [this](double seconds, Task task) {
      calls.push_back("every " + std::to_string(seconds));
      heartbeat = std::move(task);
    };
    kit.cancel = record("cancel");
    kit.raise = record("raise");
    kit.after = [this](double seconds, Task task) {
      calls.push_back("after " + std::to_string(seconds));
      later = std::move(task);
    };
    kit.open = [this](const std::filesystem::path& document) {
      opened.push_back(document);
      return true;
    };
    kit.picture = [this](const std::string& path) { pictures.push_back(path); };
    kit.quit = record("quit");
    kit.inform = [this](const std::string& title, const std::string& text) {
      informed.emplace_back(title, text);
    };
    kit.awake = [this](bool on) { calls.push_back(on ? "awake" : "asleep"); };
  }
  void open(std::vector<std::string> arguments = {"quillfen"}) {
    make(std::move(arguments));
    app->launch();
  }

  // Ends the App and waits until the worker thread has let go of the backend, so the next test
  // starts from a quiet world.
  void close() {
    if (!app)
      return;
    const std::weak_ptr<Backend> engine = app->backend;
    app.reset();
    // Statuses still on their way hold the backend; with the App gone they show nothing.
    for (int i = 0; i < 500 && (drain(), !engine.expired()); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(engine.expired()) << "the worker thread did not end";
  }

  // Runs the tasks handed to the main thread.
  void drain() {
    std::deque<Task> taken;
    {
      const std::lock_guard<std::mutex> hold(lock);
      taken.swap(queue);
    }
    for (auto& task : taken)
      task();
  }
  // Plays the main thread until `done` holds, at most five seconds.
  bool until(const std::function<bool()>& done) {
    for (int i = 0; i < 5000; ++i) {
      drain();
      if (done())
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
  }
  void expectStatus(const std::string& text) {
    until([&] { return app->status == text; });
    EXPECT_EQ(app->status, text);
  }

  // Clicks the push button titled `title`, which must be enabled.
  void click(const std::string& title) {
    for (const Row& row : app->rows) {
      if (row.kind == Kind::button && row.text == title) {
        ASSERT_TRUE(app->enabled(row)) << title;
        app->run(row.action, row.tag);
        return;
      }
    }
    FAIL() << "no button " << title;
  }

  // Plugs in a pedal, inspects it and starts the isolated test; returns its registry ID.
  std::uint64_t capture() {
    const std::uint64_t pedal = sim::plug();
    click("Inspect pedal");
    expectStatus(inspected(pedal));
    app->review = true;
    click("Start isolated test");
    expectStatus(started);
    return pedal;
  }

  // All three pedals learned, from a started isolated test.
  void teachAll(std::uint64_t pedal) {
    EXPECT_TRUE(sim::deliver(pedal, {0, 0}));
    std::string learned;
    const std::pair<const char*, std::uint8_t> pedals[] = {
        {"left", 1}, {"middle", 2}, {"right", 4}};
    for (const auto& [name, bit] : pedals) {
      click(std::string("Learn ") + name);
      expectStatus(std::string("Press and release only the ") + name + " pedal.");
      EXPECT_TRUE(sim::deliver(pedal, {bit, 0}));
      EXPECT_TRUE(sim::deliver(pedal, {0, 0}));
      learned += (learned.empty() ? "" : ", ") + std::string(name);
      expectStatus("Isolated / paused · learned: " + learned + " · held: 0");
    }
  }

  // Every control's enabled state in each state of the window.
  enum class State { idle, isolated, active };
  void expectControls(State state) {
    const bool idle = state == State::idle;
    const bool isolated = state == State::isolated;
    const bool active = state == State::active;
    const std::map<std::string, bool> expected{
        {"Permissions", true},
        {"Inspect pedal", idle},
        {"Start isolated test", idle},
        {"Learn left", isolated},
        {"Learn middle", isolated},
        {"Learn right", isolated},
        {"Save actions & guard", !active},
        {"Activate actions", isolated},
        {"Pause actions", active},
        {"Stop capture", !idle},
        {"Setup & recovery guide", true},
    };
    EXPECT_EQ(app->buttons, expected);
    for (const Row& row : app->rows) {
      const bool popUp = row.kind == Kind::menu || row.kind == Kind::scope;
      EXPECT_EQ(app->enabled(row),
                popUp ? !active : row.kind != Kind::button || expected.at(row.text))
          << row.text;
    }
    if (idle) {
      EXPECT_FALSE(app->verified);
    }
  }

  static std::filesystem::path settingsFile() { return location(); }
  static std::filesystem::path folder() { return settingsFile().parent_path(); }  // "Quillfen"
  void write(const std::string& bytes) { put(settingsFile(), bytes); }

  std::filesystem::path config;
  std::optional<std::string> savedHome;
  std::unique_ptr<App> app;

  std::mutex lock;  // guards `queue`: the worker thread hands statuses over
  std::deque<Task> queue;
  std::vector<std::string> calls;
  int changes = 0;
  Task observer;
  Task heartbeat;
  Task later;
  std::vector<std::filesystem::path> opened;
  std::vector<std::string> pictures;
  std::vector<std::pair<std::string, std::string>> informed;  // title and text of each
};
