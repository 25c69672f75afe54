#pragma once

#include <cstdint>
#include <map>
#include <string>

// The click guard's decision: after each decoded press, button downs within 250 ms are swallowed
// together with their ups. A down and its up always get the same verdict while the up comes less
// than 5000 ms after the down, so no button is left half pressed.
class Policy {
 public:
  static constexpr double window = 250.0;     // ms a press keeps the guard armed
  static constexpr double lifetime = 5000.0;  // ms a down's verdict waits for its up

  struct Sequence {
    bool blocked = false;
    double expires = 0;
  };

  std::string scope = "off";                   // "off", "all" or "right"; set by the owner
  double until = 0;                            // downs strictly before this are candidates
  std::map<std::int64_t, Sequence> sequences;  // button to the verdict of its pending down

  void clear();
  void arm(double now);
  // True when the mouse-button event is to be swallowed.
  bool reject(std::int64_t button, bool down, double now);
};
