#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/decoder.h"
#include "core/policy.h"
#include "core/settings.h"
#include "platform/platform.h"

// The integer in the user-data field of every event the program synthesizes: "QLFN". The click
// guard lets every event carrying it pass.
inline constexpr std::int64_t eventTag = 0x514C464E;

// The capture engine. One instance, made with std::make_shared; its worker thread holds it while
// it runs. The window talks to it only through `send`, `ping` and `close`; every other operation
// runs on the worker thread, as a command queued with `send` or from the worker's own passes and
// callbacks, and reports its outcome only through `publish`, which reaches the window's `update`
// on the main thread by way of `dispatch`.
class Backend : public std::enable_shared_from_this<Backend> {
 public:
  using Command = std::function<void()>;
  // (message, captured, active, names of the learned pedals), called on the main thread.
  using Update = std::function<void(const std::string& message, bool captured, bool active,
                                    const std::vector<std::string>& learned)>;
  // Hands a closure to the main thread, to run there in the order handed over (Qt's queued
  // invocation in the program, a queue the test drains in tests). Called on the worker thread.
  using Dispatch = std::function<void(std::function<void()>)>;

  Backend();
  ~Backend();
  Backend(const Backend&) = delete;
  Backend& operator=(const Backend&) = delete;

  // ---- any thread

  // Queues a command for the worker's next pass; returns at once.
  void send(Command command);
  // Records the window's heartbeat.
  void ping();
  // Starts the worker thread. Only the first call does anything.
  void launch();
  // Queues stop("Stopped.") and asks the worker to end after it.
  void close();

  // ---- worker thread only: each runs as a command, publishes its outcome and throws nothing

  void stop(const std::string& message);
  void configure(const Settings& settings);
  void inspect();
  void start(bool reviewed);
  void learn(const std::string& name);
  void activate(bool verified);
  void pause();

  // ---- state: touched only on the worker thread; the window learns it only through `update`

  Decoder decoder;  // never replaced
  Policy policy;    // never replaced
  Settings settings;
  bool active = false;
  bool captured = false;

  // Written by the window on the main thread before `launch`.
  Update update;
  Dispatch dispatch;

 private:
  static constexpr std::int64_t bufferSize = 64;

  // Worker and command channel (worker.cpp).
  void run();
  void watch(double now, double beat);
  bool eligible();
  bool onlyInspectedPresent();
  void publish(const std::string& message);

  // Report handling and actions (report.cpp).
  static void received(void* context, platform::Return result, void* sender, std::uint32_t type,
                       std::uint32_t reportID, std::uint8_t* report, std::int64_t length);
  void handle(platform::Return result, std::uint32_t reportID, const std::uint8_t* report,
              std::int64_t length);
  void act(const std::string& action);

  // Activation and the mouse guard (activation.cpp).
  static platform::EventObject* tapped(void* proxy, std::uint32_t type,
                                       platform::EventObject* event, void* userInfo);
  void clearTap();

  std::mutex lock;  // guards `commands`, `heartbeat`, `closing` and `loop`, nothing else
  std::vector<Command> commands;
  double heartbeat;
  bool closing = false;
  platform::RunLoop loop;  // the worker's, once it runs: `send` and `close` stop its wait

  platform::Manager manager;
  platform::Device device;
  platform::Tap tap;
  platform::Source tapSource;
  std::uint64_t identity = 0;
  platform::Device selected;
  std::unique_ptr<std::uint8_t[]> buffer;  // the input-report buffer, `bufferSize` bytes

  std::thread worker;
};
