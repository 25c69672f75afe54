#pragma once

// The kernel test's own devices: uhid pedals, and a uinput mouse and keyboard that stand for the
// user's, plus readers of evdev nodes.

#include <linux/input.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kerneltest {

// A HID device made with uhid. Reports written here reach the kernel as if the device sent them.
class Pedal {
 public:
  // `bus` is BUS_USB or BUS_BLUETOOTH; `phys` must be unique, the pedal is found by it.
  Pedal(const std::string& name, const std::string& phys, std::uint16_t bus,
        std::span<const std::uint8_t> descriptor);
  ~Pedal();
  Pedal(const Pedal&) = delete;
  Pedal& operator=(const Pedal&) = delete;

  bool ready() const { return !hidraw.empty(); }
  bool send(std::span<const std::uint8_t> report);
  void destroy();
  // Answers the kernel's requests so that it never waits on us.
  void pump();

  std::string hidraw;      // hidrawN
  std::string hidSysname;  // 0003:05F3:00FF.000A
  std::string eventNode;   // /dev/input/eventN, or empty
  std::uint64_t instance = 0;
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// Sends an input report through a uhid descriptor, as Pedal::send does.
bool sendReport(int uhid, std::span<const std::uint8_t> report);

// The pedal's descriptor: Consumer / Programmable Buttons with three Button bits, two bytes.
std::span<const std::uint8_t> pedalDescriptor();
// A keyboard whose two-byte reports hold the modifier bits and one key: left pedal = left
// Control, middle = left Shift, right = left Alt, and byte 1 any key.
std::span<const std::uint8_t> keyboardDescriptor();
// A vendor-page device with one eight-byte input report.
std::span<const std::uint8_t> wideDescriptor();

// A uinput device of the test's own.
class Virtual {
 public:
  // A combo is a mouse with the keyboard's keys, as some wireless receivers make.
  enum class Kind { mouse, keyboard, combo };
  // `phys` names the device; empty gives test/ and the kind's name.
  explicit Virtual(Kind kind, const std::string& phys = {});
  ~Virtual();
  Virtual(const Virtual&) = delete;
  Virtual& operator=(const Virtual&) = delete;

  void emit(std::uint16_t type, std::uint16_t code, std::int32_t value);
  void sync() { emit(EV_SYN, SYN_REPORT, 0); }

  std::string eventNode;  // /dev/input/eventN

 private:
  int fd_ = -1;
};

// The evdev node of the input device whose phys is `phys`, waiting up to `seconds`.
std::string eventNodeByPhys(const std::string& phys, double seconds);
// The evdev nodes of every input device whose phys is `phys`.
std::vector<std::string> eventNodesByPhys(const std::string& phys);

// Whether a fresh descriptor of `node` can grab it (the grab is released at once); the errno of
// the refusal otherwise.
int tryGrab(const std::string& node);

// Reads events from an evdev node.
class Reader {
 public:
  explicit Reader(const std::string& node);
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // The next event, waiting at most `seconds`.
  std::optional<input_event> next(double seconds);
  // Every event until none arrives for `quiet` seconds.
  std::vector<input_event> drain(double quiet);
  bool open() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

double now();
void sleepFor(double seconds);

}  // namespace kerneltest
